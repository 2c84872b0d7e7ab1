#include "job/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifndef Q_OS_WIN
constexpr QFile::Permissions kFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions kFolder = kFile | QFile::ExeOwner;
#endif

}  // namespace

bool CreatePrivateFile(QFile& file, QIODevice::OpenMode mode)
{
    // NewOnly is O_EXCL: a symbolic link in the way is not followed.
#ifdef Q_OS_WIN
    return file.open(mode | QIODevice::NewOnly);
#else
    return file.open(mode | QIODevice::NewOnly, kFile);
#endif
}

QString OpenWithoutFollowing(QFile& file, QIODevice::OpenMode mode)
{
#ifdef Q_OS_WIN
    // Only an administrator makes symbolic links there; the caller refuses one seen before.
    return file.open(mode) ? QString() : file.errorString();
#else
    const int flags = (mode & QIODevice::ReadOnly) && (mode & QIODevice::WriteOnly) ? O_RDWR
                      : (mode & QIODevice::WriteOnly)                                ? O_WRONLY
                                                                                     : O_RDONLY;
    const int handle = ::open(QFile::encodeName(file.fileName()).constData(), flags | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!file.open(handle, mode, QFileDevice::AutoCloseHandle)) {
        ::close(handle);
        return file.errorString();
    }
    return {};
#endif
}

bool MakePrivateFolders(const QString& path)
{
    const QFileInfo folder(path);
    if (folder.isDir())
        return true;
    if (!MakePrivateFolders(folder.absolutePath()))
        return false;
#ifdef Q_OS_WIN
    const bool made = QDir().mkdir(folder.absoluteFilePath());
#else
    const bool made = QDir().mkdir(folder.absoluteFilePath(), kFolder);
#endif
    // Another process may have made it meanwhile.
    return made || QFileInfo(path).isDir();
}

void MakeOwnerOnly(const QString& folder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
#else
    const QFileInfo info(folder);
    if (info.isDir() && !info.isSymLink() && info.ownerId() == ::geteuid())
        QFile::setPermissions(folder, kFolder);
#endif
}
