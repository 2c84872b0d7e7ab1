#pragma once

#include "batch/BackupManifest.h"
#include "batch/Summary.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <utility>
#include <vector>

class TDataModule1;
class TField;

// What a restore did (or, dry, would do).
struct RestoreTally {
    qint64 restored = 0;         // committed (dry: would be written)
    qint64 alreadyOriginal = 0;  // the row holds the backed-up bytes already
    qint64 changedSince = 0;     // neither the JPEG recorded nor the original: left alone
    qint64 notFound = 0;         // no such row, or its value is NULL now
    QStringList leftAlone;       // one line per value changed since or not found
};

// --restore: walks BAC02 then BAC04 of BAC1 like a conversion and puts each
// backed-up original back into its row and column, only where the stored
// value is still exactly the JPEG the manifest recorded. Each value is read
// with the right to write it, so a client writing meanwhile keeps its value;
// a value counts as restored once its commit succeeded.
class RestoreRun {
public:
    // Throws when the folder holds no readable manifest.
    RestoreRun(TDataModule1& dataModule, const QString& folder, bool dryRun, const std::atomic<bool>& stop,
               std::function<void()> valueDone);

    // Throws the first failure, naming its row and column; values committed
    // before it stay restored.
    void Run();

    bool Stopped() const { return stopped_; }
    const RestoreTally& Tally() const { return tally_; }

private:
    struct Pass;
    void visit(Pass& pass);
    QByteArray original(const BackupEntry& entry) const;
    void settle(int rows, bool stored);

    TDataModule1& dataModule_;
    QString folder_;
    bool dryRun_;
    const std::atomic<bool>& stop_;
    std::function<void()> valueDone_;
    std::vector<BackupEntry> entries_;
    std::map<std::pair<QString, QString>, std::vector<int>> byValue_;  // (column, key): entries
    std::vector<bool> found_;
    RestoreTally tally_;
    bool stopped_ = false;
};

QString RestoreSummaryText(const RestoreTally& tally, bool dryRun, RunEnd end, double seconds);
