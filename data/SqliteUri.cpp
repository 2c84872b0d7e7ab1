#include "data/SqliteUri.h"

#include <QDir>
#include <QUrl>

QString SqliteFileUri(const QString& absoluteFile)
{
    const QString path = QDir::fromNativeSeparators(absoluteFile);
    // A drive letter needs the slash of an absolute URI path before it.
    const QLatin1String start(path.startsWith(QLatin1Char('/')) ? "file://" : "file:///");
    // mode=rw: a file deleted meanwhile is an error, never a new empty database.
    return start + QString::fromLatin1(QUrl::toPercentEncoding(path, "/:")) + QStringLiteral("?mode=rw");
}
