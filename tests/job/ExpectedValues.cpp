#include "tests/job/ExpectedValues.h"

#include "codec/BmpToJpg.h"

namespace {

std::optional<QByteArray> Finished(const std::optional<QByteArray>& original)
{
    if (!original)
        return original;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(original->constData());
    const auto jpeg = bmp2jpg::ConvertBmpBytes({bytes, size_t(original->size())});
    if (!jpeg || jpeg->empty())
        return original;
    return QByteArray(reinterpret_cast<const char*>(jpeg->data()), qsizetype(jpeg->size()));
}

bool OneOf(const std::optional<QByteArray>& value, const std::optional<QByteArray>& a,
           const std::optional<QByteArray>& b)
{
    return value == a || value == b;
}

}  // namespace

std::vector<ImageRow> FinishedTable(const std::vector<ImageRow>& original)
{
    std::vector<ImageRow> finished;
    for (const ImageRow& row : original)
        finished.push_back({row.bce01, Finished(row.bac02), Finished(row.bac04)});
    return finished;
}

bool EachValueOriginalOrFinished(const std::vector<ImageRow>& original, const std::vector<ImageRow>& finished,
                                 const std::vector<ImageRow>& now)
{
    if (now.size() != original.size())
        return false;
    for (size_t i = 0; i < now.size(); ++i) {
        if (now[i].bce01 != original[i].bce01 || !OneOf(now[i].bac02, original[i].bac02, finished[i].bac02) ||
            !OneOf(now[i].bac04, original[i].bac04, finished[i].bac04))
            return false;
    }
    return true;
}
