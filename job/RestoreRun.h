#pragma once

#include "job/BackupManifest.h"
#include "job/PassRunner.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

class TDataModule1;
class TField;
struct PicturePass;

// What a restore did (or, dry, would do).
struct RestoreTally {
    qint64 restored = 0;         // committed (dry: would be written)
    qint64 alreadyOriginal = 0;  // the row holds the backed-up bytes already
    qint64 changedSince = 0;     // neither the JPEG recorded nor the original: left alone
    qint64 notFound = 0;         // no such row, or its value is NULL now
    qint64 ambiguous = 0;        // several rows match what the backup recorded of one
    qint64 unusableFiles = 0;    // a backup file missing, outside the folder, or not as recorded
    QStringList leftAlone;       // one line per value not restored, with the reason
};

// --restore: walks BAC02 then BAC04 of BAC1 like a conversion and puts each
// backed-up original back into its row and column, only where the stored
// value is still exactly the JPEG the manifest recorded. Each value is read
// with the right to write it, so a client writing meanwhile keeps its value;
// a value counts as restored once its commit succeeded.
//
// A row is the one the original came from when the table's own key names it.
// Where the key may have moved (SQLite's rowid after a VACUUM), it is the one
// row with the recorded BCE01, other values and JPEG; where none or several
// rows match, nothing is written for that original. A backup file is read
// only inside the folder and only when it holds the bytes recorded; one that
// does not is reported and skipped.
class RestoreRun {
public:
    // Throws when the folder holds no readable manifest.
    RestoreRun(TDataModule1& dataModule, const QString& folder, bool dryRun, const std::atomic<bool>& stop,
               std::function<void()> valueDone);

    // Throws the first failure, naming its row and column; values committed
    // before it stay restored.
    void run();

    bool stopped() const { return stopped_; }
    const RestoreTally& tally() const { return tally_; }

private:
    struct Pass;
    using ValueOf = std::pair<QString, QString>;  // column, and the row's key or BCE01
    void findMovedRows(const PicturePass& picturePass);
    void visit(Pass& pass);
    std::optional<QByteArray> original(const BackupEntry& entry);
    void leaveAlone(const BackupEntry& entry, const QString& why);
    void settle(int rows, bool stored);

    TDataModule1& dataModule_;
    QString folder_;
    bool dryRun_;
    const std::atomic<bool>& stop_;
    PassRunner runner_;
    std::function<void()> valueDone_;
    std::vector<BackupEntry> entries_;
    std::map<ValueOf, std::vector<int>> byKey_;    // (column, key): entries whose key lasts
    std::map<ValueOf, std::vector<int>> byBce01_;  // (column, BCE01): the others
    std::map<ValueOf, int> movedTo_;               // (column, key now): the one entry found there
    std::vector<bool> found_;                      // its row was found
    RestoreTally tally_;
    bool stopped_ = false;
};
