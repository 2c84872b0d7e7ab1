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
    : DataModule(dataModule), Converter(converter), Settings(std::move(options))
{
    if (!Settings.valueDone)
        Settings.valueDone = [] {};
    if (!Settings.valuesUndone)
        Settings.valuesUndone = [](int) {};
}

void PictureWalk::Run()
{
    Columns.clear();
    StoppedEarly = false;
    for (const PicturePass& pass : PicturePasses())
        Columns.push_back({pass.column, {}});
    for (int i = 0; i < int(PicturePasses().size()) && !StoppedEarly; ++i)
        RunPass(PicturePasses()[i], i);
    ThrowLogFailure();
}

void PictureWalk::RunPass(const PicturePass& picturePass, int column)
{
    Converter.BeginPass(picturePass.column);
    DataModule.OpenQuery(picturePass.statement);
    TQuery& query = DataModule.qry1;
    query.OnCommitGroupEnd([this](int rows, bool stored) { Settle(rows, stored); });
    struct StopListening {
        TQuery& query;
        ~StopListening() { query.OnCommitGroupEnd({}); }
    } stopListening{query};

    Pass pass{picturePass.column, column, query.FieldByName(picturePass.column), query.FieldByName(QStringLiteral("BCE01"))};
    pass.field.CheckPictureColumn();
    try {
        for (query.First(); !query.Eof(); query.Next()) {
            if (Settings.stop && *Settings.stop) {
                StoppedEarly = true;
                break;
            }
            StoreFarBehind(pass);
            Visit(pass);
        }
        StoreAll(pass);
    } catch (...) {
        // The rows in hand are not written; the rows written before stay,
        // unless the engine has rolled them back, which the tallies then show.
        Converter.Abandon();
        for (const InHand& abandoned : Pending)
            RecordFailure(abandoned.value);
        Pending.clear();
        try {
            query.CommitPosted();
        } catch (const std::exception&) {
        }
        throw;
    }
    Commit(pass);
}

void PictureWalk::Visit(Pass& pass)
{
    ThrowLogFailure();
    ColumnTally& tally = Columns[pass.columnIndex];
    const QString row = RowName(pass.bce01);
    const VisitedValue value = Visited(pass, row);
    if (!MayBeBitmap(pass.field)) {
        const ValueKind kind = KindWithoutFetching(pass.field);
        tally.Add(kind, value.bytes, value.bytes);
        Record(value, kind, value.bytes);
        Settings.valueDone();
        return;
    }
    TQuery& query = DataModule.qry1;
    const int recNo = query.RecNo();
    std::optional<QByteArray> bmp = ReadValue(pass, row, value);
    // A large value whose first bytes did not come with the row is known only now.
    const std::optional<ValueKind> nothingToDo = !bmp ? std::optional(ValueKind::ChangedMeanwhile)
                                                 : !bmp->startsWith("BM") ? std::optional(KindOfNonBitmap(*bmp))
                                                                          : std::nullopt;
    if (nothingToDo) {
        tally.Add(*nothingToDo, value.bytes, value.bytes);
        Record(value, *nothingToDo, value.bytes);
        Settings.valueDone();
        return;
    }
    // Up to Capacity() pictures convert while this one was read; the oldest
    // is written while this one converts.
    std::optional<std::pair<InHand, std::optional<QByteArray>>> oldest;
    if (!Pending.empty() && int(Pending.size()) >= Converter.Capacity())
        oldest = TakeOldest(pass);
    Pending.push_back({recNo, row, value, Settings.log ? *bmp : QByteArray()});
    AtValue(row, pass.column, [&] { Converter.Start(pass.bce01.AsString(), std::move(*bmp)); });
    if (oldest) {
        Store(pass, oldest->first, oldest->second);
        query.SetRecNo(recNo);
    }
    if (Converter.Capacity() == 0) {
        const auto current = TakeOldest(pass);
        Store(pass, current.first, current.second);
    }
}

VisitedValue PictureWalk::Visited(const Pass& pass, const QString& row) const
{
    VisitedValue value{pass.column, {}, {}, pass.field.BlobSize(), {}};
    if (Settings.log) {
        value.key = AtValue(row, pass.column, [&] { return DataModule.qry1.RowKey(); });
        value.bce01 = pass.bce01.AsString();
    }
    return value;
}

std::optional<QByteArray> PictureWalk::ReadValue(Pass& pass, const QString& row, const VisitedValue& value)
{
    TQuery& query = DataModule.qry1;
    try {
        if (Settings.dryRun)
            return AtValue(row, pass.column, [&] { return std::optional<QByteArray>(pass.field.AsBytes()); });
        // A commit only where no row is between its read and its write.
        if (query.CommitDue()) {
            const int recNo = query.RecNo();
            StoreAll(pass);
            Commit(pass);
            query.SetRecNo(recNo);
        }
        return AtValue(row, pass.column, [&] { return pass.field.ReadForUpdate(); });
    } catch (const std::exception&) {
        RecordFailure(value);
        // The rows before this one are written, as a run one row at a time would have.
        StoreAll(pass);
        throw;
    }
}

std::pair<PictureWalk::InHand, std::optional<QByteArray>> PictureWalk::TakeOldest(const Pass& pass)
{
    const InHand oldest = Pending.front();
    Pending.pop_front();
    return {oldest, AtValue(oldest.row, pass.column, [&] { return Converter.Finish(); })};
}

void PictureWalk::Store(Pass& pass, const InHand& value, const std::optional<QByteArray>& jpeg)
{
    ColumnTally& tally = Columns[pass.columnIndex];
    const qint64 bytes = value.value.bytes;
    if (!jpeg) {
        tally.Add(ValueKind::UnreadableBitmap, bytes, bytes);
        Record(value.value, ValueKind::UnreadableBitmap, bytes);
    } else if (Settings.dryRun) {
        tally.Add(ValueKind::Bitmap, bytes, jpeg->size());
        Record(value.value, ValueKind::Bitmap, jpeg->size());
    } else {
        try {
            AtValue(value.row, pass.column, [&] {
                DataModule.qry1.SetRecNo(value.recNo);
                // The way back is kept before the write that needs it, with
                // what finds the row again where its key may move.
                if (Settings.log) {
                    VisitedValue written = value.value;
                    if (!DataModule.qry1.RowKeyLasts())
                        written.rowDigest = RowDigestBesidesPictures(DataModule.qry1);
                    Settings.log->beforeWrite(written, value.original, *jpeg);
                }
                StoreConversion(DataModule.qry1, pass.field, *jpeg);
            });
        } catch (const std::exception&) {
            RecordFailure(value.value);
            throw;
        }
        Uncommitted.push_back({pass.columnIndex, value.value, jpeg->size()});
    }
    Settings.valueDone();
}

// A picture in hand is written before its row falls out of the rows the
// query keeps, however few bitmaps follow it.
void PictureWalk::StoreFarBehind(Pass& pass)
{
    TQuery& query = DataModule.qry1;
    const int recNo = query.RecNo();
    if (Pending.empty() || recNo - Pending.front().recNo < TQuery::RowsKeptBehind())
        return;
    while (!Pending.empty() && recNo - Pending.front().recNo >= TQuery::RowsKeptBehind()) {
        const auto oldest = TakeOldest(pass);
        Store(pass, oldest.first, oldest.second);
    }
    query.SetRecNo(recNo);
}

void PictureWalk::StoreAll(Pass& pass)
{
    while (!Pending.empty()) {
        const auto oldest = TakeOldest(pass);
        Store(pass, oldest.first, oldest.second);
    }
}

void PictureWalk::Commit(const Pass& pass)
{
    try {
        DataModule.qry1.CommitPosted();
    } catch (const std::exception& error) {
        throw Located(QStringLiteral("column %1, committing the values written").arg(pass.column), error);
    }
}

void PictureWalk::Settle(int rows, bool stored)
{
    int undone = 0;
    for (; rows > 0 && !Uncommitted.empty(); --rows) {
        const Written written = Uncommitted.front();
        Uncommitted.pop_front();
        if (stored) {
            Columns[written.column].Add(ValueKind::Bitmap, written.value.bytes, written.bytesAfter);
            Record(written.value, ValueKind::Bitmap, written.bytesAfter);
        } else {
            ++undone;
            RecordFailure(written.value);
        }
    }
    if (undone > 0)
        Settings.valuesUndone(undone);
}

// The log is told from inside the data layer's commit listener too: its own
// failure waits for the next value rather than unwinding through a commit.
void PictureWalk::Record(const VisitedValue& value, ValueKind kind, qint64 bytesAfter)
{
    if (!Settings.log || LogFailure)
        return;
    try {
        Settings.log->outcome(value, kind, bytesAfter);
    } catch (const std::exception&) {
        LogFailure = std::current_exception();
    }
}

void PictureWalk::RecordFailure(const VisitedValue& value)
{
    if (!Settings.log || LogFailure)
        return;
    try {
        Settings.log->failed(value);
    } catch (const std::exception&) {
        LogFailure = std::current_exception();
    }
}

void PictureWalk::ThrowLogFailure()
{
    if (LogFailure)
        std::rethrow_exception(std::exchange(LogFailure, nullptr));
}
