#include "ui/Application.h"

#include "ui/ApplicationTitle.h"

#include <QFont>

namespace ui {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Not the display name: the toolkit would append that to every caption.
    setApplicationName(ApplicationTitle(applicationFilePath()));
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    setFont(font);
    setQuitOnLastWindowClosed(false);
}

}  // namespace ui
