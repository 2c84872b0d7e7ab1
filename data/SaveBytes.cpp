#include "data/SaveBytes.h"

#include "data/DataErrors.h"

#include <QDir>
#include <QFile>

void SaveBytesToFile(const QByteArray& bytes, const QString& path)
{
    QFile file(path);
    // Unbuffered, so a full disk shows at the write that hits it. Written over
    // and cut after, not truncated at the open: ext4 writes a file truncated
    // to nothing back to the disk when it is closed, which made each scratch
    // file a disk write and its deletion a discard.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        throw EFCreateError(QDir::toNativeSeparators(path), file.errorString());
    // A short write says nothing; writing on gives the system's reason.
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 step = file.write(bytes.constData() + written, bytes.size() - written);
        if (step <= 0)
            throw EFWriteError(QDir::toNativeSeparators(path), file.errorString());
        written += step;
    }
    if (file.size() > bytes.size() && !file.resize(bytes.size()))
        throw EFWriteError(QDir::toNativeSeparators(path), file.errorString());
}
