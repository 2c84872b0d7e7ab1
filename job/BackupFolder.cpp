#include "job/BackupFolder.h"

#include "job/BackupManifest.h"
#include "job/CsvLine.h"
#include "job/DurableFile.h"
#include "job/PrivateFiles.h"
#include "job/SafeFileNames.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

namespace {

[[noreturn]] void CannotWrite(const QString& folder, const QString& reason)
{
    throw std::runtime_error(QStringLiteral("cannot write the backup folder \"%1\": %2")
                                 .arg(QDir::toNativeSeparators(folder), reason)
                                 .toStdString());
}

// Where the last whole line ends: a line break inside a quoted field (a
// BCE01 of two lines) ends no line.
qint64 WholeLinesEnd(const QByteArray& text)
{
    qint64 end = 0;
    bool quoted = false;
    for (qint64 i = 0; i < text.size(); ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == '\n' && !quoted)
            end = i + 1;
    }
    return end;
}

}  // namespace

BackupFolder::BackupFolder(const QString& folder) : folder_(QDir(folder).absolutePath())
{
    if (!MakePrivateFolders(folder_))
        CannotWrite(folder_, QStringLiteral("it cannot be created"));
    manifest_.setFileName(QDir(folder_).filePath(QLatin1String(kManifestName)));
    // A symbolic link in its place, even one leading nowhere, is not followed.
    const QFileInfo existing(manifest_.fileName());
    const bool isNew = !existing.exists() && !existing.isSymLink();
    const QString reason = isNew ? (CreatePrivateFile(manifest_, QIODevice::ReadWrite) ? QString() : manifest_.errorString())
                                 : OpenWithoutFollowing(manifest_, QIODevice::ReadWrite);
    if (!reason.isEmpty())
        CannotWrite(folder_, reason);
    try {
        if (isNew) {
            AppendDurably(manifest_, CsvLine(ManifestHeader()).toUtf8());
            SyncFolder(folder_);
        } else {
            // A line cut short by a kill belongs to no replaced value.
            const QByteArray text = manifest_.readAll();
            const qint64 whole = WholeLinesEnd(text);
            if (whole < text.size() && !manifest_.resize(whole))
                CannotWrite(folder_, manifest_.errorString());
            manifest_.seek(whole);
            ReadManifest(folder_);
        }
    } catch (const std::runtime_error& error) {
        CannotWrite(folder_, QString::fromUtf8(error.what()));
    }
}

QString BackupFolder::keepOriginal(const QString& column, const QString& key, const QByteArray& original)
{
    const QDir folder(folder_);
    if (!folder.exists(column)) {
        if (!MakePrivateFolders(folder.filePath(column)))
            CannotWrite(folder_, QStringLiteral("folder %1 cannot be created").arg(column));
        SyncFolder(folder_);
    }
    // A key kept before (converted, restored, converted again) keeps its file.
    const QString name = BackupFileName(key);
    for (int copy = 1;; ++copy) {
        const QString file = column + u'/' + name + (copy == 1 ? QString() : QStringLiteral("~%1").arg(copy)) +
                             QStringLiteral(".bmp");
        if (folder.exists(file))
            continue;
        WriteNewFileDurably(folder.filePath(file), original);
        SyncFolder(folder.filePath(column));
        return file;
    }
}

void BackupFolder::beforeWrite(const VisitedValue& value, const QByteArray& original, const QByteArray& replacement)
{
    const QString file = keepOriginal(value.column, value.key, original);
    AppendDurably(manifest_, ManifestLine({value.column, value.key, value.bce01, file, original.size(), Sha256Hex(original),
                                           replacement.size(), Sha256Hex(replacement), value.rowDigest})
                                 .toUtf8());
}
