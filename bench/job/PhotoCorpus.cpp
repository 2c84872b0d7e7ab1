#include "bench/job/PhotoCorpus.h"

#include "codec/BmpToJpg.h"
#include "testdata/StoredPictures.h"

Corpus MakeCorpus()
{
    std::vector<Picture> small;
    std::vector<Picture> large;
    for (std::uint32_t seed = 0; seed < 4; ++seed)
        small.push_back({stored::Bmp24(1024, 768, seed), 1024.0 * 768 / 1e6});
    for (std::uint32_t seed = 0; seed < 2; ++seed)
        large.push_back({stored::Bmp24(2592, 1944, 10 + seed), 2592.0 * 1944 / 1e6});
    Corpus corpus;
    // The job walks BAC02 over all rows, then BAC04.
    for (int column = 0; column < 2; ++column) {
        for (int row = 0; row < kRowsOfSmall; ++row)
            corpus.pictures.push_back(small[(row + column) % small.size()]);
        for (int row = 0; row < kRowsOfLarge; ++row)
            corpus.pictures.push_back(large[(row + column) % large.size()]);
    }
    corpus.jpegs.push_back(stored::Jpeg(1024, 768, 20));
    return corpus;
}

std::vector<PhotoRow> PhotoRows(const Corpus& corpus)
{
    const size_t perColumn = corpus.pictures.size() / 2;
    std::vector<PhotoRow> rows;
    for (size_t row = 0; row < perColumn; ++row)
        rows.push_back({QStringLiteral("r%1").arg(row), corpus.pictures[row].bytes, corpus.pictures[perColumn + row].bytes});
    for (int row = 0; row < kRowsOfJpeg; ++row)
        rows.push_back({QStringLiteral("j%1").arg(row), corpus.jpegs.front(), std::nullopt});
    return rows;
}

std::vector<QByteArray> FinishedJpegs(const Corpus& corpus)
{
    std::vector<QByteArray> finished;
    for (const Picture& picture : corpus.pictures) {
        const auto jpeg = bmp2jpg::ConvertBmpBytes(
            {reinterpret_cast<const std::uint8_t*>(picture.bytes.constData()), size_t(picture.bytes.size())});
        finished.emplace_back(reinterpret_cast<const char*>(jpeg->data()), qsizetype(jpeg->size()));
    }
    return finished;
}
