#include "batch/RestoreRun.h"

#include "convert/ImageTable.h"
#include "data/UDataModule.h"

#include <QDir>
#include <QFile>

#include <stdexcept>

struct RestoreRun::Pass {
    const QString& column;
    TField field;
    TField bce01;
};

namespace {

QString ValueName(const QString& key, const QString& bce01, const QString& column)
{
    return QStringLiteral("row %1 (BCE01 \"%2\"), column %3").arg(key, bce01, column);
}

}  // namespace

RestoreRun::RestoreRun(TDataModule1& dataModule, const QString& folder, bool dryRun, const std::atomic<bool>& stop,
                       std::function<void()> valueDone)
    : dataModule_(dataModule), folder_(folder), dryRun_(dryRun), stop_(stop), valueDone_(std::move(valueDone)),
      entries_(ReadManifest(folder)), found_(entries_.size(), false)
{
    for (int i = 0; i < int(entries_.size()); ++i)
        byValue_[{entries_[i].column, entries_[i].key}].push_back(i);
}

void RestoreRun::Run()
{
    for (const PicturePass& picturePass : PicturePasses()) {
        dataModule_.OpenQuery(picturePass.statement);
        TQuery& query = dataModule_.qry1;
        query.OnCommitGroupEnd([this](int rows, bool stored) { settle(rows, stored); });
        struct StopListening {
            TQuery& query;
            ~StopListening() { query.OnCommitGroupEnd({}); }
        } stopListening{query};
        Pass pass{picturePass.column, query.FieldByName(picturePass.column), query.FieldByName(QStringLiteral("BCE01"))};
        try {
            for (query.First(); !query.Eof() && !stopped_; query.Next()) {
                stopped_ = stop_;
                if (!stopped_)
                    visit(pass);
            }
        } catch (...) {
            // The rows written before stay, unless the engine rolled them back.
            try {
                query.CommitPosted();
            } catch (const std::exception&) {
            }
            throw;
        }
        query.CommitPosted();
        if (stopped_)
            return;
    }
    for (int i = 0; i < int(entries_.size()); ++i) {
        if (!found_[i]) {
            ++tally_.notFound;
            tally_.leftAlone << ValueName(entries_[i].key, entries_[i].bce01, entries_[i].column) +
                                    QStringLiteral(": no such row, or its value is NULL now; not restored");
        }
    }
}

void RestoreRun::visit(Pass& pass)
{
    valueDone_();
    TQuery& query = dataModule_.qry1;
    const QString bce01 = pass.bce01.AsString();
    QString key;
    const auto located = [&](const std::exception& error) {
        return std::runtime_error(
            (ValueName(key, bce01, pass.column) + QStringLiteral(": ") + QString::fromUtf8(error.what())).toStdString());
    };
    try {
        key = query.RowKey();
        const auto kept = byValue_.find({pass.column, key});
        if (kept == byValue_.end())
            return;
        const qint64 size = pass.field.BlobSize();
        bool sizeKnown = false;
        for (const int i : kept->second) {
            found_[i] = true;
            sizeKnown = sizeKnown || entries_[i].jpegBytes == size || entries_[i].bytes == size;
        }
        std::optional<QByteArray> stored;
        if (sizeKnown) {
            // A commit only between rows: none is between its read and its write.
            if (!dryRun_ && query.CommitDue())
                query.CommitPosted();
            stored = dryRun_ ? std::optional<QByteArray>(pass.field.AsBytes()) : pass.field.ReadForUpdate();
        }
        const QString digest = stored ? Sha256Hex(*stored) : QString();
        for (const int i : kept->second) {
            if (stored && entries_[i].jpegSha256 == digest && entries_[i].jpegBytes == stored->size()) {
                const QByteArray bytes = original(entries_[i]);
                if (dryRun_) {
                    ++tally_.restored;
                } else {
                    query.Edit();
                    pass.field.LoadFromStream(bytes);
                    query.Post();
                }
                return;
            }
        }
        for (const int i : kept->second) {
            if (stored && entries_[i].sha256 == digest && entries_[i].bytes == stored->size()) {
                ++tally_.alreadyOriginal;
                return;
            }
        }
        ++tally_.changedSince;
        tally_.leftAlone << ValueName(key, bce01, pass.column) +
                                QStringLiteral(": changed since the backup; left as it is");
    } catch (const std::exception& error) {
        throw located(error);
    }
}

// The backed-up bytes, checked against the manifest before they are written.
QByteArray RestoreRun::original(const BackupEntry& entry) const
{
    const QString path = QDir(folder_).filePath(entry.file);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("cannot read the backup file \"%1\": %2")
                                     .arg(QDir::toNativeSeparators(path), file.errorString())
                                     .toStdString());
    const QByteArray bytes = file.readAll();
    if (bytes.size() != entry.bytes || Sha256Hex(bytes) != entry.sha256)
        throw std::runtime_error(QStringLiteral("the backup file \"%1\" does not hold the bytes its manifest records")
                                     .arg(QDir::toNativeSeparators(path))
                                     .toStdString());
    return bytes;
}

void RestoreRun::settle(int rows, bool stored)
{
    if (stored)
        tally_.restored += rows;
}

QString RestoreSummaryText(const RestoreTally& tally, bool dryRun, RunEnd end, double seconds)
{
    QString text;
    if (dryRun)
        text += QStringLiteral("Dry run: nothing was written.\n");
    if (end == RunEnd::StoppedByUser)
        text += QStringLiteral("Stopped by the user: the values not counted were not visited and are unchanged.\n");
    if (end == RunEnd::Failed)
        text += QStringLiteral("Stopped by a failure: the values not counted are unchanged.\n");
    text += (dryRun ? QStringLiteral("Would restore %1 values.\n") : QStringLiteral("Restored %1 values.\n"))
                .arg(tally.restored);
    text += QStringLiteral("Already as backed up: %1.\nChanged since the backup, left as they are: %2.\n"
                           "Not found (row gone or value NULL): %3.\n")
                .arg(tally.alreadyOriginal)
                .arg(tally.changedSince)
                .arg(tally.notFound);
    text += QStringLiteral("Time: %1 s.\n").arg(seconds, 0, 'f', 1);
    return text;
}
