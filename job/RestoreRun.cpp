#include "job/RestoreRun.h"

#include "job/FileInside.h"
#include "job/ImageTable.h"
#include "data/UDataModule.h"

#include <QDir>

#include <set>
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

bool Holds(const QByteArray& stored, qint64 bytes, const QString& sha256)
{
    return stored.size() == bytes && Sha256Hex(stored) == sha256;
}

}  // namespace

RestoreRun::RestoreRun(TDataModule1& dataModule, const QString& folder, bool dryRun, const std::atomic<bool>& stop,
                       std::function<void()> valueDone)
    : dataModule_(dataModule), folder_(folder), dryRun_(dryRun), stop_(stop),
      runner_(dataModule, &stop, [this](int rows, bool stored) { settle(rows, stored); }), valueDone_(std::move(valueDone)),
      entries_(ReadManifest(folder)), found_(entries_.size(), false)
{
    for (int i = 0; i < int(entries_.size()); ++i) {
        const BackupEntry& entry = entries_[i];
        if (entry.rowDigest.isEmpty())
            byKey_[{entry.column, entry.key}].push_back(i);
        else
            byBce01_[{entry.column, entry.bce01}].push_back(i);
    }
}

void RestoreRun::run()
{
    for (const PicturePass& picturePass : PicturePasses()) {
        findMovedRows(picturePass);
        if (stopped_)
            return;
        std::optional<Pass> pass;
        TQuery& query = dataModule_.qry1;
        stopped_ = !runner_.run(picturePass, {
            .opened =
                [&] {
                    pass.emplace(Pass{picturePass.column, query.FieldByName(picturePass.column),
                                      query.FieldByName(QStringLiteral("BCE01"))});
                },
            .visit = [&] { visit(*pass); },
            .writeInHand = [] {},
            .abandon = [] {},
            // Restore writes each value right after its read: a conflict stops it.
            .lost = {},
        });
        if (stopped_)
            return;
    }
    for (int i = 0; i < int(entries_.size()); ++i) {
        if (!found_[i]) {
            ++tally_.notFound;
            leaveAlone(entries_[i], QStringLiteral("no such row, or its value is NULL now; not restored"));
        }
    }
}

// Rows whose key may have moved since the backup: each entry's row is the one
// row with its BCE01 and other values that holds its JPEG. Read without a
// lock; the write checks all of it again under one.
void RestoreRun::findMovedRows(const PicturePass& picturePass)
{
    const auto inColumn = byBce01_.lower_bound({picturePass.column, QString()});
    if (inColumn == byBce01_.end() || inColumn->first.first != picturePass.column)
        return;
    dataModule_.OpenQuery(picturePass.statement);
    TQuery& query = dataModule_.qry1;
    TField field = query.FieldByName(picturePass.column);
    TField bce01 = query.FieldByName(QStringLiteral("BCE01"));
    std::map<int, QStringList> holders;  // entry: keys of the rows holding its JPEG
    std::set<int> holdingOriginal;
    for (query.First(); !query.Eof(); query.Next()) {
        if ((stopped_ = stop_))
            return;
        const auto candidates = byBce01_.find({picturePass.column, bce01.AsString()});
        if (candidates == byBce01_.end())
            continue;
        try {
            const QString digest = RowDigestBesidesPictures(query);
            std::optional<QByteArray> stored;
            for (const int i : candidates->second) {
                const BackupEntry& entry = entries_[i];
                if (entry.rowDigest != digest)
                    continue;
                found_[i] = true;
                if (field.BlobSize() != entry.jpegBytes && field.BlobSize() != entry.bytes)
                    continue;
                if (!stored)
                    stored = field.AsBytes();
                if (Holds(*stored, entry.jpegBytes, entry.jpegSha256))
                    holders[i] << query.RowKey();
                else if (Holds(*stored, entry.bytes, entry.sha256))
                    holdingOriginal.insert(i);
            }
        } catch (const std::exception& error) {
            throw std::runtime_error(
                (ValueName(query.RowKey(), bce01.AsString(), picturePass.column) + QStringLiteral(": ") +
                 QString::fromUtf8(error.what()))
                    .toStdString());
        }
    }
    // A row that entries with different originals claim is nobody's for sure.
    std::map<QString, std::set<QString>> originalsClaiming;
    for (const auto& [i, keys] : holders) {
        for (const QString& key : keys)
            originalsClaiming[key].insert(entries_[i].sha256);
    }
    for (const auto& [i, keys] : holders) {
        if (keys.size() == 1 && originalsClaiming[keys.front()].size() == 1)
            movedTo_.try_emplace({picturePass.column, keys.front()}, i);
        else {
            ++tally_.ambiguous;
            leaveAlone(entries_[i], keys.size() > 1
                                        ? QStringLiteral("%1 rows match what the backup recorded of it; not restored")
                                              .arg(keys.size())
                                        : QStringLiteral("its row matches what the backup recorded of other "
                                                         "originals too; not restored"));
        }
    }
    for (int i = 0; i < int(entries_.size()); ++i) {
        if (entries_[i].column != picturePass.column || entries_[i].rowDigest.isEmpty() || !found_[i] ||
            holders.count(i))
            continue;
        if (holdingOriginal.count(i)) {
            ++tally_.alreadyOriginal;
        } else {
            ++tally_.changedSince;
            leaveAlone(entries_[i], QStringLiteral("changed since the backup; left as it is"));
        }
    }
}

void RestoreRun::visit(Pass& pass)
{
    valueDone_();
    TQuery& query = dataModule_.qry1;
    const QString bce01 = pass.bce01.AsString();
    QString key;
    try {
        key = query.RowKey();
        std::vector<int> kept;
        if (const auto byKey = byKey_.find({pass.column, key}); byKey != byKey_.end()) {
            // An earlier version's line names its row by key and BCE01.
            for (const int i : byKey->second) {
                if (!entries_[i].withoutRowDigest || entries_[i].bce01 == bce01)
                    kept.push_back(i);
            }
        }
        const auto moved = movedTo_.find({pass.column, key});
        if (moved != movedTo_.end())
            kept.push_back(moved->second);
        if (kept.empty())
            return;
        const qint64 size = pass.field.BlobSize();
        bool sizeKnown = false;
        for (const int i : kept) {
            found_[i] = true;
            sizeKnown = sizeKnown || entries_[i].jpegBytes == size || entries_[i].bytes == size;
        }
        std::optional<QByteArray> stored;
        if (sizeKnown) {
            stored = dryRun_ ? std::optional<QByteArray>(pass.field.AsBytes()) : runner_.readForWriting(pass.field);
        }
        // A row found by its other values is checked again now that it is held.
        const bool stillItsRow = moved == movedTo_.end() || (entries_[moved->second].bce01 == bce01 &&
                                                            entries_[moved->second].rowDigest == RowDigestBesidesPictures(query));
        for (const int i : kept) {
            if (stored && stillItsRow && Holds(*stored, entries_[i].jpegBytes, entries_[i].jpegSha256)) {
                const std::optional<QByteArray> bytes = original(entries_[i]);
                if (!bytes)
                    return;
                if (dryRun_) {
                    ++tally_.restored;
                } else {
                    query.PostToRow(query.HoldRow(), pass.field, *bytes);
                }
                return;
            }
        }
        for (const int i : kept) {
            if (stored && stillItsRow && Holds(*stored, entries_[i].bytes, entries_[i].sha256)) {
                ++tally_.alreadyOriginal;
                return;
            }
        }
        ++tally_.changedSince;
        tally_.leftAlone << ValueName(key, bce01, pass.column) +
                                QStringLiteral(": changed since the backup; left as it is");
    } catch (const std::exception& error) {
        throw std::runtime_error(
            (ValueName(key, bce01, pass.column) + QStringLiteral(": ") + QString::fromUtf8(error.what())).toStdString());
    }
}

// The backed-up bytes, read only inside the folder and checked against the
// manifest; a file that fails either is reported and its value left alone.
std::optional<QByteArray> RestoreRun::original(const BackupEntry& entry)
{
    try {
        const QByteArray bytes = ReadRegularFileInside(folder_, entry.file);
        if (Holds(bytes, entry.bytes, entry.sha256))
            return bytes;
        throw std::runtime_error(QStringLiteral("the backup file \"%1\" does not hold the bytes its manifest records")
                                     .arg(QDir::toNativeSeparators(QDir(folder_).filePath(entry.file)))
                                     .toStdString());
    } catch (const std::runtime_error& error) {
        ++tally_.unusableFiles;
        leaveAlone(entry, QString::fromUtf8(error.what()) + QStringLiteral("; not restored"));
        return std::nullopt;
    }
}

void RestoreRun::leaveAlone(const BackupEntry& entry, const QString& why)
{
    tally_.leftAlone << ValueName(entry.key, entry.bce01, entry.column) + QStringLiteral(": ") + why;
}

void RestoreRun::settle(int rows, bool stored)
{
    if (stored)
        tally_.restored += rows;
}
