#include "job/DurableFile.h"

#include "job/PrivateFiles.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

[[noreturn]] void Fail(const QString& what, const QString& path, const QString& reason)
{
    throw std::runtime_error(
        QStringLiteral("cannot %1 \"%2\": %3").arg(what, QDir::toNativeSeparators(path), reason).toStdString());
}

void Write(QFile& file, const QByteArray& bytes)
{
    // A short write says nothing; writing on gives the system's reason.
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 step = file.write(bytes.constData() + written, bytes.size() - written);
        if (step <= 0)
            Fail(QStringLiteral("write"), file.fileName(), file.errorString());
        written += step;
    }
    if (!file.flush())
        Fail(QStringLiteral("write"), file.fileName(), file.errorString());
}

}  // namespace

void SyncFile(QFile& file)
{
#ifdef Q_OS_WIN
    const bool synced = _commit(file.handle()) == 0;
#else
    const bool synced = ::fsync(file.handle()) == 0;
#endif
    if (!synced)
        Fail(QStringLiteral("flush to disk"), file.fileName(), QString::fromLocal8Bit(std::strerror(errno)));
}

void WriteNewFileDurably(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!CreatePrivateFile(file, QIODevice::WriteOnly))
        Fail(QStringLiteral("create"), path, file.errorString());
    Write(file, bytes);
    SyncFile(file);
}

void AppendDurably(QFile& file, const QByteArray& bytes)
{
    Write(file, bytes);
    SyncFile(file);
}

void SyncFolder(const QString& path)
{
#ifndef Q_OS_WIN
    const int folder = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (folder < 0)
        Fail(QStringLiteral("open the folder"), path, QString::fromLocal8Bit(std::strerror(errno)));
    const bool synced = ::fsync(folder) == 0;
    const int error = errno;
    ::close(folder);
    if (!synced)
        Fail(QStringLiteral("flush to disk the folder"), path, QString::fromLocal8Bit(std::strerror(error)));
#else
    // NTFS journals its folder entries; a folder cannot be flushed from here.
    Q_UNUSED(path);
#endif
}
