#include "job/BackupManifest.h"

#include "job/CsvLine.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <stdexcept>

QString Sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

namespace {

// The fields of an earlier version's lines, which lack the row digest.
constexpr qsizetype kEarlierFields = 8;

}  // namespace

QStringList ManifestHeader()
{
    return {QStringLiteral("column"),     QStringLiteral("key"),         QStringLiteral("BCE01"),
            QStringLiteral("file"),       QStringLiteral("bytes"),       QStringLiteral("sha256"),
            QStringLiteral("jpeg bytes"), QStringLiteral("jpeg sha256"), QStringLiteral("row sha256")};
}


QString ManifestLine(const BackupEntry& entry)
{
    return CsvLine({entry.column, entry.key, entry.bce01, entry.file, QString::number(entry.bytes), entry.sha256,
                    QString::number(entry.jpegBytes), entry.jpegSha256, entry.rowDigest});
}

std::vector<BackupEntry> ReadManifest(const QString& folder)
{
    const QString path = QDir(folder).filePath(QLatin1String(kManifestName));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("cannot read the backup manifest \"%1\": %2")
                                     .arg(QDir::toNativeSeparators(path), file.errorString())
                                     .toStdString());
    const std::vector<QStringList> records = ParseCsv(QString::fromUtf8(file.readAll()));
    // The header of this version or of an earlier one, without the row digest.
    const bool ours = !records.empty() && (records.front() == ManifestHeader() ||
                                           records.front() == ManifestHeader().mid(0, kEarlierFields));
    if (!ours)
        throw std::runtime_error(
            QStringLiteral("\"%1\" is not a backup manifest of bmp2jpg").arg(QDir::toNativeSeparators(path)).toStdString());
    std::vector<BackupEntry> entries;
    for (size_t line = 1; line < records.size(); ++line) {
        const QStringList& f = records[line];
        bool sizes = f.size() == kEarlierFields || f.size() == ManifestHeader().size();
        BackupEntry entry;
        if (sizes) {
            bool jpegSize = false;
            entry = {f[0], f[1], f[2], f[3], f[4].toLongLong(&sizes), f[5], f[6].toLongLong(&jpegSize), f[7],
                     f.value(kEarlierFields), f.size() == kEarlierFields};
            sizes = sizes && jpegSize;
        }
        if (!sizes)
            throw std::runtime_error(QStringLiteral("the backup manifest \"%1\" is damaged at line %2")
                                         .arg(QDir::toNativeSeparators(path))
                                         .arg(line + 1)
                                         .toStdString());
        entries.push_back(entry);
    }
    return entries;
}
