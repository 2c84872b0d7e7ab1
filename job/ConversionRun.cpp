#include "job/ConversionRun.h"

#include "codec/BmpToJpg.h"
#include "job/PrivateFiles.h"
#include "job/ScratchFiles.h"
#include "data/SaveBytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <stdexcept>

namespace {

QString PathText(const std::filesystem::path& path)
{
    return QString::fromStdU16String(path.u16string());
}

QByteArray ReadWholeFile(const std::filesystem::path& path)
{
    QFile file(PathText(path));
    if (file.open(QIODevice::ReadOnly)) {
        QByteArray bytes(file.size(), Qt::Uninitialized);
        if (file.read(bytes.data(), bytes.size()) == bytes.size())
            return bytes;
    }
    throw std::runtime_error(QStringLiteral("Cannot open file \"%1\". %2")
                                 .arg(QDir::toNativeSeparators(file.fileName()), file.errorString())
                                 .toStdString());
}

}  // namespace

std::filesystem::path ExeFolder()
{
    return std::filesystem::path(QCoreApplication::applicationDirPath().toStdU16String());
}

ScratchFileConverter::ScratchFileConverter(std::filesystem::path scratchRoot) : ScratchRoot(std::move(scratchRoot)) {}

void ScratchFileConverter::BeginPass(const QString& column)
{
    BmpFolder = ScratchRoot / column.toStdU16String() / "bmp";
    JpgFolder = ScratchRoot / column.toStdU16String() / "jpg";
    // A folder that cannot be made shows up as the first file that cannot be
    // created. Ours from an earlier version may be open to others: narrowed.
    for (const std::filesystem::path& folder : {BmpFolder, JpgFolder}) {
        MakePrivateFolders(PathText(folder));
        MakeOwnerOnly(PathText(folder));
    }
    MakeOwnerOnly(PathText(BmpFolder.parent_path()));
}

void ScratchFileConverter::Start(const QString& rowName, QByteArray bmp)
{
    // The scratch files are copies of the picture: gone on every path.
    const RowScratchFiles files(BmpFolder, JpgFolder, rowName);
    SaveBytesToFile(bmp, PathText(files.Bmp()));
    bmp = QByteArray();
    if (bmp2jpg::BmpToJpg(files.Bmp(), files.Jpg()) == bmp2jpg::ConversionOutcome::Encoded)
        Result = ReadWholeFile(files.Jpg());
    else
        Result.reset();
}

std::optional<QByteArray> ScratchFileConverter::Finish()
{
    std::optional<QByteArray> result = std::move(Result);
    Result.reset();
    return result;
}

void ScratchFileConverter::Abandon()
{
    Result.reset();
}

TConversionRun::TConversionRun(TDataModule1& dataModule, std::filesystem::path scratchRoot,
                               std::function<void()> pictureDone, std::function<void(int pictures)> picturesUndone)
    : Converter(std::move(scratchRoot)),
      Walk(dataModule, Converter, {false, nullptr, std::move(pictureDone), std::move(picturesUndone)})
{
}

void TConversionRun::Run()
{
    Walk.Run();
}
