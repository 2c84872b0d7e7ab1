#include "convert/ConversionRun.h"

#include "convert/BmpToJpg.h"
#include "convert/ImageTable.h"
#include "data/UDataModule.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <stdexcept>
#include <system_error>

namespace {

// Names the window system reserves for devices, whatever the extension.
bool IsReservedDeviceName(const QString& name)
{
    static const QRegularExpression reserved(QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])$"),
                                             QRegularExpression::CaseInsensitiveOption);
    return reserved.match(name).hasMatch();
}

// Identifiers can be long; a component must stay well under 255 bytes.
constexpr qsizetype kMaxScratchNameLength = 64;

// Deletes a row's scratch files when the row is done, whether it finished or failed.
struct ScratchFiles {
    const std::filesystem::path& bmp;
    const std::filesystem::path& jpg;

    ~ScratchFiles()
    {
        std::error_code ignored;
        std::filesystem::remove(bmp, ignored);
        std::filesystem::remove(jpg, ignored);
    }
};

}  // namespace

std::filesystem::path ExeFolder()
{
    return std::filesystem::path(QCoreApplication::applicationDirPath().toStdU16String());
}

QString ScratchFileName(const QString& identifier)
{
    QString name;
    for (const QChar c : identifier.left(kMaxScratchNameLength)) {
        const bool safe = c.isLetterOrNumber() || c == u'-' || c == u'_';
        name += safe ? c : QChar(u'_');
    }
    if (name.isEmpty() || IsReservedDeviceName(name))
        name.prepend(u'_');
    return name;
}

TConversionRun::TConversionRun(TDataModule1& dataModule, std::filesystem::path scratchRoot,
                               std::function<void()> pictureDone)
    : DataModule(dataModule), ScratchRoot(std::move(scratchRoot)), PictureDone(std::move(pictureDone))
{
}

void TConversionRun::Run()
{
    for (const PicturePass& pass : PicturePasses())
        RunPass(pass.column, pass.statement);
}

void TConversionRun::RunPass(const QString& column, const QString& statement)
{
    const std::filesystem::path columnFolder = ScratchRoot / column.toStdU16String();
    const std::filesystem::path bmpFolder = columnFolder / "bmp";
    const std::filesystem::path jpgFolder = columnFolder / "jpg";
    // A folder that cannot be made shows up as the first file that cannot be created.
    std::error_code ignored;
    std::filesystem::create_directories(bmpFolder, ignored);
    std::filesystem::create_directories(jpgFolder, ignored);

    DataModule.OpenQuery(statement);
    auto& query = DataModule.qry1;
    try {
        query.First();
        while (!query.Eof()) {
            const QString name = ScratchFileName(query.FieldByName(QStringLiteral("bce01")).AsString());
            ConvertCurrentRecord(column, bmpFolder / (name + QStringLiteral(".bmp")).toStdU16String(),
                                 jpgFolder / (name + QStringLiteral(".jpg")).toStdU16String());
        }
    } catch (...) {
        // Rows written before the failure stay converted. Should that fail
        // too (a full disk), the first failure is still the one to report.
        try {
            query.CommitPosted();
        } catch (...) {
        }
        throw;
    }
    query.CommitPosted();
}

void TConversionRun::ConvertCurrentRecord(const QString& column, const std::filesystem::path& bmpPath,
                                          const std::filesystem::path& jpgPath)
{
    {
        // The scratch files are copies of the picture: gone on every path.
        const ScratchFiles scratch{bmpPath, jpgPath};
        auto& query = DataModule.qry1;
        TField field = query.FieldByName(column);
        if (MayBeBitmap(field)) {
            field.SaveToFile(QString::fromStdU16String(bmpPath.u16string()));
            if (bmp2jpg::BmpToJpg(bmpPath, jpgPath) == bmp2jpg::ConversionOutcome::Encoded) {
                ReadFileIntoBuffer(jpgPath);
                StoreConversion(query, field, Buffer);
            }
        }
        PictureDone();
    }
    DataModule.qry1.Next();
}

void TConversionRun::ReadFileIntoBuffer(const std::filesystem::path& path)
{
    // Emptied by the resize below, which keeps the memory for the next picture.
    QFile file(QString::fromStdU16String(path.u16string()));
    if (file.open(QIODevice::ReadOnly)) {
        Buffer.resize(file.size());
        if (file.read(Buffer.data(), Buffer.size()) == Buffer.size())
            return;
    }
    throw std::runtime_error(
        QStringLiteral("Cannot open file \"%1\". %2").arg(file.fileName(), file.errorString()).toStdString());
}
