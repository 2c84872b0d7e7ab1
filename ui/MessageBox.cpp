#include "ui/MessageBox.h"

#include "ui/ModalBox.h"

namespace ui {

void ShowMessage(const QString& text)
{
    RunModalBox(QMessageBox::NoIcon, text);
}

}  // namespace ui
