#include "data/SaveBytes.h"

#include "codec/FileBytes.h"
#include "data/FileErrors.h"

#include <QDir>

#include <cstdint>

void SaveBytesToFile(const QByteArray& bytes, const QString& path)
{
    try {
        bmp2jpg::WriteFileBytes(path.toStdU16String(),
                                {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())});
    } catch (const bmp2jpg::FileWriteError& error) {
        // The system's reason as Qt words it, as QFile gave it before.
        const QString reason = qt_error_string(error.systemError());
        if (error.step() == bmp2jpg::FileWriteError::Step::Create)
            throw EFCreateError(QDir::toNativeSeparators(path), reason);
        throw EFWriteError(QDir::toNativeSeparators(path), reason);
    }
}
