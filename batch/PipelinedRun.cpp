#include "batch/PipelinedRun.h"

#include "convert/BmpToJpg.h"
#include "convert/ImageTable.h"
#include "data/UDataModule.h"

#include <future>
#include <optional>
#include <stdexcept>

struct PipelinedRun::Pass {
    const QString& column;
    TField field;
    TField bce01;
    ColumnTally& tally;
};

struct PipelinedRun::InFlight {
    int recNo;
    QString row;
    qint64 bytes;
    std::future<std::optional<QByteArray>> jpeg;
};

struct PipelinedRun::Encoded {
    int recNo;
    QString row;
    qint64 bytes;
    std::optional<QByteArray> jpeg;  // nullopt: not a readable bitmap, left as it is
};

namespace {

std::optional<QByteArray> Encode(QByteArray bmp)
{
    auto jpeg = bmp2jpg::ConvertBmpBytes({reinterpret_cast<const std::uint8_t*>(bmp.constData()), size_t(bmp.size())});
    bmp = QByteArray();
    if (!jpeg)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(jpeg->data()), qsizetype(jpeg->size()));
}

QString RowName(const TField& bce01)
{
    return bce01.IsNull() ? QStringLiteral("row with BCE01 NULL") : QStringLiteral("row BCE01 \"%1\"").arg(bce01.AsString());
}

// Runs one step on a value; its failure names the row and column.
template <class Step>
auto AtValue(const QString& row, const QString& column, Step step)
{
    try {
        return step();
    } catch (const std::exception& error) {
        throw std::runtime_error(
            QStringLiteral("%1, column %2: %3").arg(row, column, QString::fromUtf8(error.what())).toStdString());
    }
}

}  // namespace

PipelinedRun::PipelinedRun(TDataModule1& dataModule, int jobs, bool dryRun, const std::atomic<bool>& stop,
                           std::function<void()> valueDone)
    : DataModule(dataModule), Jobs(jobs), DryRun(dryRun), Stop(stop), ValueDone(std::move(valueDone))
{
}

PipelinedRun::~PipelinedRun() = default;

void PipelinedRun::Run()
{
    Columns.clear();
    for (const PicturePass& pass : PicturePasses())
        Columns.push_back({pass.column, {}});
    for (size_t i = 0; i < PicturePasses().size() && !StoppedEarly; ++i)
        RunPass(PicturePasses()[i], Columns[i]);
}

void PipelinedRun::RunPass(const PicturePass& picturePass, ColumnTally& tally)
{
    DataModule.OpenQuery(picturePass.statement);
    TQuery& query = DataModule.qry1;
    Pass pass{picturePass.column, query.FieldByName(picturePass.column), query.FieldByName(QStringLiteral("BCE01")),
              tally};
    try {
        for (query.First(); !query.Eof(); query.Next()) {
            if (Stop) {
                StoppedEarly = true;
                break;
            }
            Visit(pass);
        }
        StoreAll(pass);
    } catch (...) {
        // Workers still encoding finish unseen; rows written so far stay.
        Pending.clear();
        try {
            query.CommitPosted();
        } catch (...) {
        }
        throw;
    }
    query.CommitPosted();
}

void PipelinedRun::Visit(Pass& pass)
{
    if (!MayBeBitmap(pass.field)) {
        const qint64 bytes = pass.field.BlobSize();
        pass.tally.Add(KindWithoutFetching(pass.field), bytes, bytes);
        ValueDone();
        return;
    }
    TQuery& query = DataModule.qry1;
    const QString row = RowName(pass.bce01);
    QByteArray bmp;
    try {
        bmp = AtValue(row, pass.column, [&] { return pass.field.AsBytes(); });
    } catch (const std::exception&) {
        // The rows before this one are written, as a run one row at a time would have.
        StoreAll(pass);
        throw;
    }
    // Up to Jobs pictures encode while this one was read; the oldest is
    // written while this one encodes.
    std::optional<Encoded> oldest;
    if (int(Pending.size()) == Jobs)
        oldest = TakeOldest(pass);
    const qint64 bytes = bmp.size();
    Pending.push_back({query.RecNo(), row, bytes, std::async(std::launch::async, Encode, std::move(bmp))});
    if (oldest) {
        Store(pass, *oldest);
        query.SetRecNo(Pending.back().recNo);
    }
}

PipelinedRun::Encoded PipelinedRun::TakeOldest(const Pass& pass)
{
    InFlight& first = Pending.front();
    Encoded encoded{first.recNo, first.row, first.bytes, AtValue(first.row, pass.column, [&] { return first.jpeg.get(); })};
    Pending.erase(Pending.begin());
    return encoded;
}

void PipelinedRun::Store(Pass& pass, const Encoded& encoded)
{
    if (!encoded.jpeg) {
        pass.tally.Add(ValueKind::UnreadableBitmap, encoded.bytes, encoded.bytes);
    } else {
        if (!DryRun) {
            AtValue(encoded.row, pass.column, [&] {
                DataModule.qry1.SetRecNo(encoded.recNo);
                StoreConversion(DataModule.qry1, pass.field, *encoded.jpeg);
            });
        }
        pass.tally.Add(ValueKind::Bitmap, encoded.bytes, encoded.jpeg->size());
    }
    ValueDone();
}

void PipelinedRun::StoreAll(Pass& pass)
{
    while (!Pending.empty())
        Store(pass, TakeOldest(pass));
}
