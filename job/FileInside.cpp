#include "job/FileInside.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

[[noreturn]] void Refuse(const QString& path, const QString& reason)
{
    throw std::runtime_error(
        QStringLiteral("\"%1\" %2").arg(QDir::toNativeSeparators(path), reason).toStdString());
}

// Plain names below the folder, with '/': no root, drive, "..", "." or '\\'.
QStringList Components(const QString& relativePath)
{
    const QStringList parts = relativePath.split(u'/');
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..") || part.contains(u'\\') ||
            part.contains(u':'))
            Refuse(relativePath, QStringLiteral("is not a file name inside the backup folder"));
    }
    return parts;
}

}  // namespace

QByteArray ReadRegularFileInside(const QString& folder, const QString& relativePath)
{
    QString path = folder;
    for (const QString& part : Components(relativePath)) {
        path = QDir(path).filePath(part);
        const QFileInfo info(path);
        if (info.isSymLink() || info.isJunction())
            Refuse(path, QStringLiteral("is a link; only files inside the backup folder are read"));
    }
    QFile file;
#ifdef Q_OS_WIN
    file.setFileName(path);
    if (!QFileInfo(path).isFile())
        Refuse(path, QStringLiteral("is not a regular file"));
    if (!file.open(QIODevice::ReadOnly))
        Refuse(path, QStringLiteral("cannot be read: %1").arg(file.errorString()));
#else
    // A link put in place after the check above is not followed either.
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        Refuse(path, QStringLiteral("cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        Refuse(path, QStringLiteral("is not a regular file"));
    }
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        Refuse(path, QStringLiteral("cannot be read: %1").arg(file.errorString()));
    }
#endif
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        Refuse(path, QStringLiteral("cannot be read: %1").arg(file.errorString()));
    return bytes;
}
