#include "tests/support/Screenshot.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

QString SaveScreenshot(QWidget& window, const QString& name)
{
    const QString folder = QStringLiteral(BMP2JPG_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    window.grab().save(path);
    return path;
}
