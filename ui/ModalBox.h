#pragma once

#include <QMessageBox>
#include <QString>

namespace ui {

// One modal box with a single OK button, captioned with the application
// title and centred on the screen; the message box and the error display
// differ only in their icon.
void RunModalBox(QMessageBox::Icon icon, const QString& text);

}  // namespace ui
