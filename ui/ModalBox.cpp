#include "ui/ModalBox.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

namespace ui {

void RunModalBox(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, QCoreApplication::applicationName(), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    // Centre on the screen, not on whichever window happens to be active.
    box.adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        box.move(screen->availableGeometry().center() - box.rect().center());
    box.exec();
}

}  // namespace ui
