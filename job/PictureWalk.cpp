#include "job/PictureWalk.h"

#include "job/ImageTable.h"
#include "data/UDataModule.h"

#include <exception>
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

// Runs one step on a value; its failure names the row and column.
template <class Step>
auto AtValue(const QString& row, const QString& column, Step step)
{
    try {
        return step();
    } catch (const std::exception& error) {
        throw Located(QStringLiteral("%1, column %2").arg(row, column), error);
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
                    pass.emplace(Pass{picturePass.column, i, query.FieldByName(picturePass.column),
                                      query.FieldByName(QStringLiteral("BCE01"))});
                    pass->field.CheckPictureColumn();
                },
            .visit = [&] { visit(*pass); },
            .writeInHand = [&] { storeAll(*pass); },
            .abandon = [&] { abandon(); },
        });
    }
    throwLogFailure();
}

void PictureWalk::visit(Pass& pass)
{
    throwLogFailure();
    ColumnTally& tally = columns_[pass.columnIndex];
    const QString rowName = RowName(pass.bce01);
    VisitedValue value = visited(pass, rowName);
    if (!MayBeBitmap(pass.field)) {
        const ValueKind kind = KindWithoutFetching(pass.field);
        tally.Add(kind, value.bytes, value.bytes);
        record(value, kind, value.bytes);
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
    // Up to capacity() pictures convert while this one was read; the oldest
    // is written while this one converts.
    std::optional<std::pair<InHand, std::optional<QByteArray>>> oldest;
    if (!inHand_.empty() && int(inHand_.size()) >= converter_.capacity())
        oldest = takeOldest(pass);
    inHand_.push_back({row, rowName, value, options_.log ? *bmp : QByteArray()});
    AtValue(rowName, pass.column, [&] { converter_.start(pass.bce01.AsString(), std::move(*bmp)); });
    if (oldest)
        store(pass, oldest->first, oldest->second);
    if (converter_.capacity() == 0) {
        const auto current = takeOldest(pass);
        store(pass, current.first, current.second);
    }
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
        recordFailure(value);
        // The rows before this one are written, as a run one row at a time would have.
        storeAll(pass);
        throw;
    }
}

std::pair<PictureWalk::InHand, std::optional<QByteArray>> PictureWalk::takeOldest(const Pass& pass)
{
    const InHand oldest = inHand_.front();
    inHand_.pop_front();
    return {oldest, AtValue(oldest.rowName, pass.column, [&] { return converter_.finish(); })};
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
        try {
            AtValue(value.rowName, pass.column, [&] {
                // The way back is kept before the write that needs it.
                if (options_.log)
                    options_.log->beforeWrite(value.value, value.original, *jpeg);
                dataModule_.qry1.PostToRow(*value.row, pass.field, *jpeg);
            });
        } catch (const std::exception&) {
            recordFailure(value.value);
            throw;
        }
        uncommitted_.push_back({pass.columnIndex, value.value, jpeg->size()});
    }
    options_.valueDone();
}

void PictureWalk::storeAll(Pass& pass)
{
    while (!inHand_.empty()) {
        const auto oldest = takeOldest(pass);
        store(pass, oldest.first, oldest.second);
    }
}

// The pictures in hand are not written; the tallies show what the engine kept.
void PictureWalk::abandon()
{
    converter_.abandon();
    for (const InHand& abandoned : inHand_)
        recordFailure(abandoned.value);
    inHand_.clear();
}

void PictureWalk::settle(int rows, bool stored)
{
    int undone = 0;
    for (; rows > 0 && !uncommitted_.empty(); --rows) {
        const Written written = uncommitted_.front();
        uncommitted_.pop_front();
        if (stored) {
            columns_[written.column].Add(ValueKind::Bitmap, written.value.bytes, written.bytesAfter);
            record(written.value, ValueKind::Bitmap, written.bytesAfter);
        } else {
            ++undone;
            recordFailure(written.value);
        }
    }
    if (undone > 0)
        options_.valuesUndone(undone);
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
