#include "data/SaveBytes.h"

#include "data/DataErrors.h"

#include <QDir>
#include <QFile>

void SaveBytesToFile(const QByteArray& bytes, const QString& path)
{
    QFile file(path);
    // Unbuffered, so a full disk shows at the write that hits it.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw EFCreateError(QDir::toNativeSeparators(path), file.errorString());
    // A short write says nothing; writing on gives the system's reason.
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 step = file.write(bytes.constData() + written, bytes.size() - written);
        if (step <= 0)
            throw EFWriteError(QDir::toNativeSeparators(path), file.errorString());
        written += step;
    }
}
