#include "ui/ModalBox.h"

#include "ui/WindowFrame.h"

#include <QCoreApplication>

namespace ui {

void RunModalBox(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, QCoreApplication::applicationName(), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    // Centre on the screen, not on whichever window happens to be active.
    box.adjustSize();
    CentreOnScreen(box);
    box.exec();
}

}  // namespace ui
