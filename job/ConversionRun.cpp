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

QByteArray ReadWholeFile(const std::filesystem::path& path)
{
    QFile file(QString::fromStdU16String(path.u16string()));
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

ScratchFileConverter::ScratchFileConverter(std::filesystem::path scratchRoot) : scratchRoot_(std::move(scratchRoot)) {}

void ScratchFileConverter::beginPass(const QString& column)
{
    bmpFolder_ = scratchRoot_ / column.toStdU16String() / "bmp";
    jpgFolder_ = scratchRoot_ / column.toStdU16String() / "jpg";
    // A folder that cannot be made shows up as the first file that cannot be
    // created. Ours from an earlier version may be open to others: narrowed.
    for (const std::filesystem::path& folder : {bmpFolder_, jpgFolder_}) {
        MakePrivateFolders(QString::fromStdU16String(folder.u16string()));
        MakeOwnerOnly(QString::fromStdU16String(folder.u16string()));
    }
    MakeOwnerOnly(QString::fromStdU16String(bmpFolder_.parent_path().u16string()));
}

void ScratchFileConverter::start(const QString& rowName, QByteArray bmp)
{
    // The scratch files are copies of the picture: gone on every path.
    const RowScratchFiles files(bmpFolder_, jpgFolder_, rowName);
    SaveBytesToFile(bmp, QString::fromStdU16String(files.Bmp().u16string()));
    bmp = QByteArray();
    if (bmp2jpg::BmpToJpg(files.Bmp(), files.Jpg()) == bmp2jpg::ConversionOutcome::Encoded)
        result_ = ReadWholeFile(files.Jpg());
    else
        result_.reset();
}

std::optional<QByteArray> ScratchFileConverter::finish()
{
    std::optional<QByteArray> result = std::move(result_);
    result_.reset();
    return result;
}

void ScratchFileConverter::abandon()
{
    result_.reset();
}

TConversionRun::TConversionRun(TDataModule1& dataModule, std::filesystem::path scratchRoot,
                               std::function<void()> pictureDone, std::function<void(int pictures)> picturesUndone)
    : converter_(std::move(scratchRoot)),
      walk_(dataModule, converter_, {false, nullptr, std::move(pictureDone), std::move(picturesUndone)})
{
}

void TConversionRun::run()
{
    walk_.run();
}
