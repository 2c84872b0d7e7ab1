#include "job/PictureWalk.h"

#include "job/ImageTable.h"
#include "data/DataErrors.h"
#include "data/UDataModule.h"

#include <exception>
#include <iterator>
#include <stdexcept>
#include <utility>

struct PictureWalk::Pass {
    const QString& column;
    int columnIndex;
    TField field;
    TField bce01;
};

namespace {

QString RowName(const TField& bce01)
{
    return bce01.IsNull() ? QStringLiteral("row with BCE01 NULL") : QStringLiteral("row BCE01 \"%1\"").arg(bce01.AsString());
}

std::runtime_error Located(const QString& where, const std::exception& error)
{
    return std::runtime_error(QStringLiteral("%1: %2").arg(where, QString::fromUtf8(error.what())).toStdString());
}

// Runs one step on a value; its failure names the row and column, and a
// database's failure keeps its cause.
template <class Step>
auto AtValue(const QString& row, const QString& column, Step step)
{
    const auto where = [&] { return QStringLiteral("%1, column %2").arg(row, column); };
    try {
        return step();
    } catch (const EDatabaseError& error) {
        throw error.at(where());
    } catch (const std::exception& error) {
        throw Located(where(), error);
    }
}

}  // namespace

PictureWalk::PictureWalk(TDataModule1& dataModule, PictureConverter& converter, Options options)
    : dataModule_(dataModule), converter_(converter), options_(std::move(options)),
      runner_(dataModule, options_.stop, [this](int rows, bool stored) { settle(rows, stored); })
{
    if (!options_.valueDone)
        options_.valueDone = [] {};
    if (!options_.valuesUndone)
        options_.valuesUndone = [](int) {};
}

void PictureWalk::run()
{
    columns_.clear();
    stopped_ = false;
    for (const PicturePass& pass : PicturePasses())
        columns_.push_back({pass.column, {}});
    for (int i = 0; i < int(PicturePasses().size()) && !stopped_; ++i) {
        const PicturePass& picturePass = PicturePasses()[i];
        converter_.beginPass(picturePass.column);
        std::optional<Pass> pass;
        TQuery& query = dataModule_.qry1;
        stopped_ = !runner_.run(picturePass, {
            .opened =
                [&] {
                    takenRow_.reset();
                    pass.emplace(Pass{picturePass.column, i, query.FieldByName(picturePass.column),
                                      query.FieldByName(QStringLiteral("BCE01"))});
                    pass->field.CheckPictureColumn();
                },
            .visit = [&] { visit(*pass); },
            .writeInHand =
                [&] {
                    readAgain(*pass);
                    storeAll(*pass);
                },
            .abandon = [&] { abandon(); },
            .lost = options_.dryRun ? std::function<void()>() : [&] { lost(); },
        }, options_.range);
    }
    throwLogFailure();
}

void PictureWalk::visit(Pass& pass)
{
    throwLogFailure();
    readAgain(pass);
    // A visit run again after a lock conflict may have taken the row already.
    if (takenRow_ == runner_.currentRow())
        return;
    ColumnTally& tally = columns_[pass.columnIndex];
    const QString rowName = RowName(pass.bce01);
    VisitedValue value = visited(pass, rowName);
    if (!MayBeBitmap(pass.field)) {
        const ValueKind kind = KindWithoutFetching(pass.field);
        tally.Add(kind, value.bytes, value.bytes);
        record(value, kind, value.bytes);
        takenRow_ = runner_.currentRow();
        options_.valueDone();
        return;
    }
    std::optional<QByteArray> bmp = readValue(pass, rowName, value);
    // A large value whose first bytes did not come with the row is known only now.
    const std::optional<ValueKind> nothingToDo = !bmp ? std::optional(ValueKind::ChangedMeanwhile)
                                                 : !StartsLikeBitmap(*bmp) ? std::optional(KindOfNonBitmap(*bmp))
                                                                          : std::nullopt;
    if (nothingToDo) {
        tally.Add(*nothingToDo, value.bytes, value.bytes);
        record(value, *nothingToDo, value.bytes);
        takenRow_ = runner_.currentRow();
        options_.valueDone();
        return;
    }
    TQuery& query = dataModule_.qry1;
    std::optional<HeldRow> row;
    if (!options_.dryRun) {
        AtValue(rowName, pass.column, [&] {
            row = query.HoldRow();
            // What finds the row again where its key may move, read under the lock.
            if (options_.log && !query.RowKeyLasts())
                value.rowDigest = RowDigestBesidesPictures(query);
        });
    }
    InHand read{row, rowName, pass.bce01.AsString(), value, options_.log ? *bmp : QByteArray()};
    takenRow_ = runner_.currentRow();
    convert(pass, std::move(read), std::move(*bmp));
}

// Up to capacity() pictures convert while this one was read; the oldest is
// written while this one converts.
void PictureWalk::convert(Pass& pass, InHand value, QByteArray bmp)
{
    std::optional<std::optional<QByteArray>> oldest;
    if (!inHand_.empty() && int(inHand_.size()) >= converter_.capacity())
        oldest = finishOldest(pass);
    const QString rowName = value.rowName;
    const QString bce01 = value.bce01;
    inHand_.push_back(std::move(value));
    AtValue(rowName, pass.column, [&] { converter_.start(bce01, std::move(bmp)); });
    if (oldest)
        storeOldest(pass, *oldest);
    if (converter_.capacity() == 0)
        storeOldest(pass, finishOldest(pass));
}

VisitedValue PictureWalk::visited(const Pass& pass, const QString& rowName) const
{
    VisitedValue value{pass.column, {}, {}, pass.field.BlobSize(), {}};
    if (options_.log) {
        value.key = AtValue(rowName, pass.column, [&] { return dataModule_.qry1.RowKey(); });
        value.bce01 = pass.bce01.AsString();
    }
    return value;
}

std::optional<QByteArray> PictureWalk::readValue(Pass& pass, const QString& rowName, const VisitedValue& value)
{
    try {
        if (options_.dryRun)
            return AtValue(rowName, pass.column, [&] { return std::optional<QByteArray>(pass.field.AsBytes()); });
        return AtValue(rowName, pass.column, [&] { return runner_.readForWriting(pass.field); });
    } catch (const std::exception&) {
        failedRead_ = value;
        // The rows before this one are written, as a run one row at a time
        // would have, but only in the transaction that read them: after a
        // deadlock the server has dropped it, and their locks with it.
        if (dataModule_.con1.HoldsTransaction())
            storeAll(pass);
        throw;
    }
}

std::optional<QByteArray> PictureWalk::finishOldest(const Pass& pass)
{
    return AtValue(inHand_.front().rowName, pass.column, [&] { return converter_.finish(); });
}

// The oldest value stays in hand until its write has succeeded.
void PictureWalk::storeOldest(Pass& pass, const std::optional<QByteArray>& jpeg)
{
    store(pass, inHand_.front(), jpeg);
    inHand_.pop_front();
}

void PictureWalk::store(Pass& pass, const InHand& value, const std::optional<QByteArray>& jpeg)
{
    ColumnTally& tally = columns_[pass.columnIndex];
    const qint64 bytes = value.value.bytes;
    if (!jpeg) {
        tally.Add(ValueKind::UnreadableBitmap, bytes, bytes);
        record(value.value, ValueKind::UnreadableBitmap, bytes);
    } else if (options_.dryRun) {
        tally.Add(ValueKind::Bitmap, bytes, jpeg->size());
        record(value.value, ValueKind::Bitmap, jpeg->size());
    } else {
        AtValue(value.rowName, pass.column, [&] {
            // The way back is kept before the write that needs it.
            if (options_.log)
                options_.log->beforeWrite(value.value, value.original, *jpeg);
            dataModule_.qry1.PostToRow(*value.row, pass.field, *jpeg);
        });
        // Going back reads the value again: the original is no longer needed.
        Written written{pass.columnIndex, value, jpeg->size()};
        written.value.original.clear();
        uncommitted_.push_back(std::move(written));
    }
    options_.valueDone();
}

void PictureWalk::storeAll(Pass& pass)
{
    while (!inHand_.empty())
        storeOldest(pass, finishOldest(pass));
}

// Values read in a group the engine dropped are read again under lock, in
// row order: another client may have changed them meanwhile.
void PictureWalk::readAgain(Pass& pass)
{
    ColumnTally& tally = columns_[pass.columnIndex];
    while (!readAgain_.empty()) {
        InHand& value = readAgain_.front();
        std::optional<QByteArray> bmp =
            AtValue(value.rowName, pass.column, [&] { return dataModule_.qry1.ReadForUpdate(*value.row, pass.field); });
        if (!bmp || !StartsLikeBitmap(*bmp)) {
            const ValueKind kind = !bmp ? ValueKind::ChangedMeanwhile : KindOfNonBitmap(*bmp);
            const qint64 bytes = bmp ? bmp->size() : value.value.bytes;
            tally.Add(kind, bytes, bytes);
            record(value.value, kind, bytes);
            readAgain_.pop_front();
            options_.valueDone();
            continue;
        }
        InHand again = std::move(value);
        readAgain_.pop_front();
        again.value.bytes = bmp->size();
        if (options_.log)
            again.original = *bmp;
        convert(pass, std::move(again), std::move(*bmp));
    }
}

// After a failure: the pictures in hand are not written; the tallies show
// what the engine kept.
void PictureWalk::abandon()
{
    converter_.abandon();
    if (failedRead_)
        recordFailure(*std::exchange(failedRead_, std::nullopt));
    const int undone = int(lost_.size());
    for (const Written& written : lost_)
        recordFailure(written.value.value);
    for (const InHand& abandoned : inHand_)
        recordFailure(abandoned.value);
    for (const InHand& abandoned : readAgain_)
        recordFailure(abandoned.value);
    lost_.clear();
    inHand_.clear();
    readAgain_.clear();
    if (undone > 0)
        options_.valuesUndone(undone);
}

// After a lock conflict: what the ended group did not store is read again
// when the walk goes on, before the row it was at.
void PictureWalk::lost()
{
    converter_.abandon();
    std::deque<InHand> again;
    for (Written& written : lost_)
        again.push_back(std::move(written.value));
    if (!lost_.empty())
        options_.valuesUndone(int(lost_.size()));
    lost_.clear();
    std::move(inHand_.begin(), inHand_.end(), std::back_inserter(again));
    std::move(readAgain_.begin(), readAgain_.end(), std::back_inserter(again));
    inHand_.clear();
    readAgain_ = std::move(again);
    failedRead_.reset();
}

void PictureWalk::settle(int rows, bool stored)
{
    for (; rows > 0 && !uncommitted_.empty(); --rows) {
        Written written = std::move(uncommitted_.front());
        uncommitted_.pop_front();
        if (stored) {
            columns_[written.column].Add(ValueKind::Bitmap, written.value.value.bytes, written.bytesAfter);
            record(written.value.value, ValueKind::Bitmap, written.bytesAfter);
        } else {
            lost_.push_back(std::move(written));
        }
    }
}

// The log is told from inside the data layer's commit listener too: its own
// failure waits for the next value rather than unwinding through a commit.
void PictureWalk::record(const VisitedValue& value, ValueKind kind, qint64 bytesAfter)
{
    if (!options_.log || logFailure_)
        return;
    try {
        options_.log->outcome(value, kind, bytesAfter);
    } catch (const std::exception&) {
        logFailure_ = std::current_exception();
    }
}

void PictureWalk::recordFailure(const VisitedValue& value)
{
    if (!options_.log || logFailure_)
        return;
    try {
        options_.log->failed(value);
    } catch (const std::exception&) {
        logFailure_ = std::current_exception();
    }
}

void PictureWalk::throwLogFailure()
{
    if (logFailure_)
        std::rethrow_exception(std::exchange(logFailure_, nullptr));
}
