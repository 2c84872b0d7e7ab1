#include "job/ScratchFiles.h"

#include "job/PrivateFiles.h"
#include "job/SafeFileNames.h"
#include "data/FileErrors.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <system_error>

namespace {

// Creates the file only if nothing has the name yet; false when something has.
bool CreateExclusively(const std::filesystem::path& path)
{
    QFile file(QString::fromStdU16String(path.u16string()));
    if (CreatePrivateFile(file, QIODevice::WriteOnly))
        return true;
    if (file.exists())
        return false;
    throw EFCreateError(QDir::toNativeSeparators(file.fileName()), file.errorString());
}

void RemoveQuietly(const std::filesystem::path& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace

RowScratchFiles::RowScratchFiles(const std::filesystem::path& bmpFolder, const std::filesystem::path& jpgFolder,
                                 const QString& identifier)
{
    const QString readable = ScratchFileName(identifier);
    // A random part, not the process id: copies on other machines may share
    // the folder. Exclusive creation settles any collision.
    for (;;) {
        const QString unique =
            readable + QStringLiteral(".%1").arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
        bmpPath_ = bmpFolder / (unique + QStringLiteral(".bmp")).toStdU16String();
        jpgPath_ = jpgFolder / (unique + QStringLiteral(".jpg")).toStdU16String();
        if (!CreateExclusively(bmpPath_))
            continue;
        try {
            if (CreateExclusively(jpgPath_))
                return;
        } catch (...) {
            RemoveQuietly(bmpPath_);
            throw;
        }
        RemoveQuietly(bmpPath_);
    }
}

RowScratchFiles::~RowScratchFiles()
{
    RemoveQuietly(bmpPath_);
    RemoveQuietly(jpgPath_);
}
