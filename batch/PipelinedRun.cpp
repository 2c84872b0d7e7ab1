#include "batch/PipelinedRun.h"

#include "codec/BmpToJpg.h"

namespace {

std::optional<QByteArray> Encode(QByteArray bmp)
{
    auto jpeg = bmp2jpg::ConvertBmpBytes({reinterpret_cast<const std::uint8_t*>(bmp.constData()), size_t(bmp.size())});
    bmp = QByteArray();
    if (!jpeg)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(jpeg->data()), qsizetype(jpeg->size()));
}

}  // namespace

ParallelEncoder::~ParallelEncoder() = default;

void ParallelEncoder::start(const QString&, QByteArray bmp)
{
    encoding_.push_back(std::async(std::launch::async, Encode, std::move(bmp)));
}

std::optional<QByteArray> ParallelEncoder::finish()
{
    std::future<std::optional<QByteArray>> oldest = std::move(encoding_.front());
    encoding_.pop_front();
    return oldest.get();
}

void ParallelEncoder::abandon()
{
    // Each future waits for its encoding as it goes.
    encoding_.clear();
}

PipelinedRun::PipelinedRun(TDataModule1& dataModule, int jobs, bool dryRun, const std::atomic<bool>& stop,
                           std::function<void()> valueDone, std::function<void(int values)> valuesUndone,
                           ValueLog* log, KeyRange range)
    : encoder_(jobs),
      walk_(dataModule, encoder_, {dryRun, &stop, std::move(valueDone), std::move(valuesUndone), log, std::move(range)})
{
}
