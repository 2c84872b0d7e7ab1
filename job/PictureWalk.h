#pragma once

#include "data/HeldRow.h"
#include "job/PassRunner.h"
#include "job/ValueLog.h"
#include "job/ValueTally.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

class TDataModule1;
struct PicturePass;

// How the walk turns bitmaps into JPEGs. Pictures are started in row order
// and finished in the same order.
class PictureConverter {
public:
    virtual ~PictureConverter() = default;

    // Pictures that may still be converting while the walk reads the next
    // one; 0 finishes each before the next row is read.
    virtual int capacity() const = 0;
    virtual void beginPass(const QString& column) = 0;
    // `rowName` is the row's BCE01 text, for anything named after the row.
    virtual void start(const QString& rowName, QByteArray bmp) = 0;
    // The oldest started picture as JPEG; nullopt when it is not a readable bitmap.
    virtual std::optional<QByteArray> finish() = 0;
    virtual void abandon() = 0;  // after a failure: drops every picture in hand
};

// The job of both front ends: every stored picture of table BAC1, column
// BAC02 then BAC04, in row order on the data module's one connection. Only
// values that become a JPEG are written; each is read with the right to
// write it, so a value another client changes meanwhile is left as that
// client wrote it. The tallies count what is stored: a value is counted as
// converted once its commit succeeded.
class PictureWalk {
public:
    struct Options {
        bool dryRun = false;                  // read and convert, write nothing
        const std::atomic<bool>* stop = nullptr;  // set: stop once the rows in hand are written
        std::function<void()> valueDone;      // after each visited value
        // The engine rolled back a group of written values: that many visited
        // values are as they were after all.
        std::function<void(int values)> valuesUndone;
        ValueLog* log = nullptr;  // told of every value; it needs a table with a key
        KeyRange range{};         // the rows visited (see TQuery::KeyRanges); all by default
    };

    PictureWalk(TDataModule1& dataModule, PictureConverter& converter, Options options);

    // Throws the first failure, naming its row and column; values committed
    // before it stay converted.
    void run();

    bool stopped() const { return stopped_; }  // a stop request left values unvisited
    const std::vector<ColumnTally>& tallies() const { return columns_; }
    // Values read again after a lock conflict (a deadlock, a lock timeout).
    int retries() const { return runner_.retries(); }

private:
    struct Pass;
    struct InHand {
        std::optional<HeldRow> row;  // where its JPEG goes; none in a dry run
        QString rowName;             // as failures name it
        QString bce01;               // as the converter names it
        VisitedValue value;
        QByteArray original;  // kept for the log only
    };
    struct Written {
        int column;
        InHand value;
        qint64 bytesAfter;
    };

    void visit(Pass& pass);
    std::optional<QByteArray> readValue(Pass& pass, const QString& rowName, const VisitedValue& value);
    void convert(Pass& pass, InHand value, QByteArray bmp);
    std::optional<QByteArray> finishOldest(const Pass& pass);
    void storeOldest(Pass& pass, const std::optional<QByteArray>& jpeg);
    void store(Pass& pass, const InHand& value, const std::optional<QByteArray>& jpeg);
    void storeAll(Pass& pass);
    void readAgain(Pass& pass);
    void abandon();
    void lost();
    void settle(int rows, bool stored);
    VisitedValue visited(const Pass& pass, const QString& rowName) const;
    void record(const VisitedValue& value, ValueKind kind, qint64 bytesAfter);
    void recordFailure(const VisitedValue& value);
    void throwLogFailure();

    TDataModule1& dataModule_;
    PictureConverter& converter_;
    Options options_;
    PassRunner runner_;
    std::deque<InHand> inHand_;         // started in the converter, oldest first
    std::deque<Written> uncommitted_;  // written in the open commit group
    std::deque<Written> lost_;         // written in a group the engine dropped
    std::deque<InHand> readAgain_;     // read in a lost group, to be read again under lock
    std::optional<VisitedValue> failedRead_;  // the value whose read failed
    std::optional<int> takenRow_;  // the last row whose value is tallied or in hand
    std::vector<ColumnTally> columns_;
    bool stopped_ = false;
    std::exception_ptr logFailure_;  // the log's first failure, not yet thrown
};
