// Every readable layout must give exactly the bytes cjpeg writes for the same
// pixels stored as plain 24-bit BMP. The expected pixels come from the test
// image and the writer's formats, never from the reader under test.

#include "codec/BmpToJpg.h"
#include "tests/codec/CjpegReference.h"
#include "testdata/BmpWriter.h"
#include "testdata/PhotoLikeImage.h"

#include <QTest>

#include <functional>
#include <thread>

using namespace bmp2jpg::testdata;
using bmp2jpg::test::Bytes;

namespace {

RgbImage Photo(std::uint32_t width, std::uint32_t height)
{
    return MakePhotoLikeImage(width, height, width * 31 + height);
}

RgbImage Map(RgbImage image, const std::function<Rgb(std::uint32_t x, std::uint32_t y, Rgb)>& change)
{
    for (std::uint32_t y = 0; y < image.height; ++y)
        for (std::uint32_t x = 0; x < image.width; ++x)
            image.At(x, y) = change(x, y, image.At(x, y));
    return image;
}

// 5- and 6-bit channels widen by repeating their top bits.
std::uint8_t Widen5(std::uint8_t c)
{
    const unsigned v = c >> 3u;
    return static_cast<std::uint8_t>(v << 3 | v >> 2);
}

std::uint8_t Widen6(std::uint8_t c)
{
    const unsigned v = c >> 2u;
    return static_cast<std::uint8_t>(v << 2 | v >> 4);
}

RgbImage As555(const RgbImage& image)
{
    return Map(image, [](auto, auto, Rgb p) { return Rgb{Widen5(p.r), Widen5(p.g), Widen5(p.b)}; });
}

RgbImage As565(const RgbImage& image)
{
    return Map(image, [](auto, auto, Rgb p) { return Rgb{Widen5(p.r), Widen6(p.g), Widen5(p.b)}; });
}

std::uint32_t DataOffsetOf(const Bytes& file)
{
    return file[10] | file[11] << 8 | file[12] << 16 | static_cast<std::uint32_t>(file[13]) << 24;
}

// The file with its pixel data replaced by hand-written codes.
Bytes WithPixelData(Bytes file, const Bytes& pixels)
{
    file.resize(DataOffsetOf(file));
    file.insert(file.end(), pixels.begin(), pixels.end());
    PutLe32(file, bmp_field::kImageSize, static_cast<std::uint32_t>(pixels.size()));
    PutLe32(file, bmp_field::kFileSize, static_cast<std::uint32_t>(file.size()));
    return file;
}

Bytes Patched32(Bytes file, std::size_t offset, std::uint32_t value)
{
    PutLe32(file, offset, value);
    return file;
}

Bytes CutAfterPixelBytes(Bytes file, std::size_t kept)
{
    file.resize(DataOffsetOf(file) + kept);
    return file;
}

// Indices 255 stand for black: the palette has only four colours.
constexpr std::uint8_t kBlack = 255;
const std::vector<Rgb> kFourColours = {{200, 10, 10}, {10, 200, 10}, {10, 10, 200}, {250, 250, 0}};

IndexedImage FourColourImage(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> topDownIndices)
{
    return IndexedImage{width, height, std::move(topDownIndices), kFourColours};
}

// A run-length file of the given codes over the four-colour palette.
Bytes HandMadeRle(IndexedFormat format, std::uint32_t width, std::uint32_t height, const Bytes& codes)
{
    const IndexedImage blank = FourColourImage(width, height, std::vector<std::uint8_t>(width * height));
    return WithPixelData(WriteBmp(blank, format), codes);
}

void AddRow(const char* name, const Bytes& bmp, const RgbImage& expected)
{
    QTest::newRow(name) << bmp << expected;
}

} // namespace

class TestConversionOracle : public QObject {
    Q_OBJECT

private:
    static void ExpectCjpegBytes()
    {
        QFETCH(Bytes, bmp);
        QFETCH(RgbImage, expected);
        const auto jpeg = bmp2jpg::ConvertBmpBytes(bmp);
        QVERIFY2(jpeg.has_value(), "not converted");
        const Bytes reference = bmp2jpg::test::CjpegReference(expected);
        QVERIFY2(*jpeg == reference, bmp2jpg::test::DescribeDifference(*jpeg, reference).constData());
    }

    static void AddColumns()
    {
        QTest::addColumn<Bytes>("bmp");
        QTest::addColumn<RgbImage>("expected");
    }

private slots:
    void twentyFourBit_data()
    {
        AddColumns();
        const RgbImage photo = Photo(64, 48);
        AddRow("bottom-up", WriteBmp(photo, DirectFormat::Bgr24), photo);
        AddRow("top-down", WriteBmp(photo, DirectFormat::Bgr24, {.topDown = true}), photo);
        for (const std::uint32_t width : {1u, 3u, 5u}) {
            const RgbImage narrow = Photo(width, 9);
            AddRow(qPrintable(QString("width %1, padded rows").arg(width)), WriteBmp(narrow, DirectFormat::Bgr24),
                narrow);
        }
        const RgbImage oneRow = Photo(37, 1);
        AddRow("one pixel high", WriteBmp(oneRow, DirectFormat::Bgr24), oneRow);
        AddRow("one pixel high, top-down", WriteBmp(oneRow, DirectFormat::Bgr24, {.topDown = true}), oneRow);
        AddRow("pixels per metre do not reach the JPEG",
            WriteBmp(photo, DirectFormat::Bgr24, {.pixelsPerMetre = 2835}), photo);
        AddRow("124-byte header", WriteBmp(photo, DirectFormat::Bgr24, {.header = InfoHeader::V5}), photo);
    }
    void twentyFourBit() { ExpectCjpegBytes(); }

    void colourTables_data()
    {
        AddColumns();
        const RgbImage photo = Photo(41, 23);
        const IndexedImage eightBit = Quantize(photo, 8);
        AddRow("8-bit", WriteBmp(eightBit, IndexedFormat::Bits8), Expand(eightBit));
        AddRow("8-bit top-down", WriteBmp(eightBit, IndexedFormat::Bits8, {.topDown = true}), Expand(eightBit));
        const IndexedImage fourBit = Quantize(photo, 4);
        AddRow("4-bit", WriteBmp(fourBit, IndexedFormat::Bits4), Expand(fourBit));
        const IndexedImage oneBit = Quantize(photo, 1);
        AddRow("1-bit", WriteBmp(oneBit, IndexedFormat::Bits1), Expand(oneBit));

        IndexedImage shortTable = eightBit;
        shortTable.palette.resize(40);
        AddRow("8-bit, table of 40: later indices black", WriteBmp(shortTable, IndexedFormat::Bits8),
            Expand(shortTable));
        IndexedImage shortFourBit = fourBit;
        shortFourBit.palette.resize(5);
        AddRow("4-bit, table of 5: later indices black", WriteBmp(shortFourBit, IndexedFormat::Bits4),
            Expand(shortFourBit));

        // Without a usable data offset the pixels follow the whole table.
        IndexedImage longTable = eightBit;
        longTable.palette.resize(300, Rgb{1, 2, 3});
        AddRow("colours used 300: entries past 256 skipped",
            Patched32(WriteBmp(longTable, IndexedFormat::Bits8), bmp_field::kDataOffset, 0), Expand(eightBit));
    }
    void colourTables() { ExpectCjpegBytes(); }

    void directColour_data()
    {
        AddColumns();
        const RgbImage photo = Photo(7, 5);
        AddRow("16-bit 5-5-5", WriteBmp(photo, DirectFormat::Rgb555), As555(photo));
        for (const InfoHeader header :
            {InfoHeader::Windows, InfoHeader::WindowsV2, InfoHeader::WindowsV3, InfoHeader::V4, InfoHeader::V5}) {
            const auto name = QString("bit fields 5-6-5, %1-byte header").arg(static_cast<std::uint32_t>(header));
            AddRow(qPrintable(name), WriteBmp(photo, DirectFormat::Rgb565, {.header = header}), As565(photo));
        }
        AddRow("32-bit, fourth byte dropped", WriteBmp(photo, DirectFormat::Bgrx32), photo);
        AddRow("32-bit bit fields 10-10-10, top 8 bits kept",
            WriteBmp(photo, DirectFormat::Rgb101010, {.header = InfoHeader::V4}), photo);
        AddRow("32-bit bit fields, 40-byte header", WriteBmp(photo, DirectFormat::Rgb101010), photo);
    }
    void directColour() { ExpectCjpegBytes(); }

    void os2_data()
    {
        AddColumns();
        const RgbImage photo = Photo(5, 6);
        AddRow("24-bit", WriteBmp(photo, DirectFormat::Bgr24, {.header = InfoHeader::Os2}), photo);
        for (const unsigned bits : {1u, 4u, 8u}) {
            const IndexedImage indexed = Quantize(photo, bits);
            const IndexedFormat format = bits == 1 ? IndexedFormat::Bits1
                : bits == 4                        ? IndexedFormat::Bits4
                                                   : IndexedFormat::Bits8;
            AddRow(qPrintable(QString("%1-bit, 3-byte table entries").arg(bits)),
                WriteBmp(indexed, format, {.header = InfoHeader::Os2}), Expand(indexed));
        }
    }
    void os2() { ExpectCjpegBytes(); }

    void runLength_data()
    {
        AddColumns();
        const RgbImage photo = Photo(37, 19);
        const IndexedImage eightBit = Quantize(photo, 8);
        AddRow("RLE8", WriteBmp(eightBit, IndexedFormat::Rle8), Expand(eightBit));
        const IndexedImage fourBit = Quantize(photo, 4);
        AddRow("RLE4", WriteBmp(fourBit, IndexedFormat::Rle4), Expand(fourBit));

        const Bytes rle8 = {
            3, 1, 0, 0, // bottom row: three of colour 1, end of line
            0, 3, 2, 3, 2, 0, // absolute run of three, padded
            0, 2, 1, 1, // delta: one right, one up
            1, 0, 0, 0, // one of colour 0, end of line
            7, 3, 0, 1, // seven of colour 3 clipped to the width, end of bitmap
        };
        const RgbImage rle8Expected = Expand(FourColourImage(5, 4,
            {3, 3, 3, 3, 3, kBlack, kBlack, kBlack, kBlack, 0, 2, 3, 2, kBlack, kBlack, 1, 1, 1, kBlack, kBlack}));
        AddRow("RLE8 delta, end of line, end of bitmap, clipped run", HandMadeRle(IndexedFormat::Rle8, 5, 4, rle8),
            rle8Expected);
        const Bytes rle8CutShort(rle8.begin(), rle8.begin() + 8);
        AddRow("RLE8 cut inside an absolute run", HandMadeRle(IndexedFormat::Rle8, 5, 4, rle8CutShort),
            Expand(FourColourImage(5, 4,
                {kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, 2, 3, kBlack,
                    kBlack, kBlack, 1, 1, 1, kBlack, kBlack})));

        const Bytes rle4 = {
            5, 0x12, 0, 0, // bottom row: alternating colours 1 and 2, end of line
            0, 3, 0x30, 0x30, // absolute run of three indices
            0, 2, 1, 0, // delta: one right
            1, 0x20, 0, 1, // one of colour 2, end of bitmap
        };
        AddRow("RLE4 alternating run, absolute run, delta", HandMadeRle(IndexedFormat::Rle4, 5, 2, rle4),
            Expand(FourColourImage(5, 2, {3, 0, 3, kBlack, 2, 1, 2, 1, 2, 1})));
    }
    void runLength() { ExpectCjpegBytes(); }

    void dataOffset_data()
    {
        AddColumns();
        const RgbImage photo = Photo(11, 7);
        AddRow("24-bit, gap after the header", WriteBmp(photo, DirectFormat::Bgr24, {.gapBeforePixels = 37}), photo);
        AddRow("124-byte header, profile before the pixels",
            WriteBmp(photo, DirectFormat::Rgb565, {.header = InfoHeader::V5, .gapBeforePixels = 100}), As565(photo));
        const IndexedImage indexed = Quantize(photo, 8);
        const Bytes plain = WriteBmp(indexed, IndexedFormat::Bits8);
        AddRow("8-bit, gap after the colour table", WriteBmp(indexed, IndexedFormat::Bits8, {.gapBeforePixels = 5}),
            Expand(indexed));
        AddRow("offset inside the colour table: ignored", Patched32(plain, bmp_field::kDataOffset, 54 + 10),
            Expand(indexed));
        AddRow("offset at the end of the file: ignored",
            Patched32(plain, bmp_field::kDataOffset, static_cast<std::uint32_t>(plain.size())), Expand(indexed));
        AddRow("offset zero: ignored", Patched32(plain, bmp_field::kDataOffset, 0), Expand(indexed));
    }
    void dataOffset() { ExpectCjpegBytes(); }

    void missingPixels_data()
    {
        AddColumns();
        const RgbImage photo = Photo(20, 10);
        const std::uint32_t stride = 60;
        // Bottom-up: the rows kept are the bottom ones.
        const auto cutAt = [&](std::uint32_t row, std::uint32_t column, std::uint32_t channelsKept) {
            return Map(photo, [=](std::uint32_t x, std::uint32_t y, Rgb p) {
                const std::uint32_t stored = photo.height - 1 - y;
                if (stored < row || (stored == row && x < column))
                    return p;
                if (stored == row && x == column)
                    return Rgb{channelsKept > 2 ? p.r : std::uint8_t{0}, channelsKept > 1 ? p.g : std::uint8_t{0},
                        channelsKept > 0 ? p.b : std::uint8_t{0}};
                return Rgb{};
            });
        };
        const Bytes bgr24 = WriteBmp(photo, DirectFormat::Bgr24);
        AddRow("24-bit cut after 4 rows and 7 pixels", CutAfterPixelBytes(bgr24, 4 * stride + 7 * 3), cutAt(4, 7, 0));
        AddRow("24-bit cut inside a pixel", CutAfterPixelBytes(bgr24, 4 * stride + 7 * 3 + 2), cutAt(4, 7, 2));
        AddRow("24-bit without any pixel bytes", CutAfterPixelBytes(bgr24, 0), RgbImage(20, 10));

        IndexedImage indexed = Quantize(photo, 8);
        indexed.palette[0] = Rgb{10, 200, 30};
        AddRow("8-bit cut short: missing bytes are index 0",
            CutAfterPixelBytes(WriteBmp(indexed, IndexedFormat::Bits8), 3 * 20 + 5),
            Map(Expand(indexed), [&](std::uint32_t x, std::uint32_t y, Rgb p) {
                const std::uint32_t stored = photo.height - 1 - y;
                return stored < 3 || (stored == 3 && x < 5) ? p : indexed.palette[0];
            }));

        const Bytes bitFields = WriteBmp(photo, DirectFormat::Rgb565);
        AddRow("bit fields, image size past the pixels: read what fits",
            Patched32(bitFields, bmp_field::kImageSize, 0x7FFFFFFF), As565(photo));
        AddRow("bit fields, image size of half the rows: the rest black",
            Patched32(bitFields, bmp_field::kImageSize, 5 * 40),
            Map(As565(photo), [](std::uint32_t, std::uint32_t y, Rgb p) { return y >= 5 ? p : Rgb{}; }));
    }
    void missingPixels() { ExpectCjpegBytes(); }

    // No conversion state is shared: threads converting at once get the
    // same bytes as one after the other.
    void convertsOnSeveralThreads()
    {
        const RgbImage photo = Photo(97, 61);
        const std::vector<Bytes> inputs = {WriteBmp(photo, DirectFormat::Bgr24),
            WriteBmp(Quantize(photo, 8), IndexedFormat::Bits8), WriteBmp(Quantize(photo, 8), IndexedFormat::Rle8),
            WriteBmp(photo, DirectFormat::Rgb565)};
        std::vector<Bytes> sequential;
        for (const Bytes& input : inputs)
            sequential.push_back(bmp2jpg::ConvertBmpBytes(input).value());

        std::vector<std::vector<Bytes>> parallel(inputs.size());
        {
            std::vector<std::jthread> threads;
            for (std::size_t i = 0; i < inputs.size(); ++i)
                threads.emplace_back([&, i] {
                    for (int round = 0; round < 20; ++round)
                        parallel[i].push_back(bmp2jpg::ConvertBmpBytes(inputs[i]).value_or(Bytes{}));
                });
        }
        for (std::size_t i = 0; i < inputs.size(); ++i)
            for (const Bytes& result : parallel[i])
                QVERIFY(result == sequential[i]);
    }
};

QTEST_APPLESS_MAIN(TestConversionOracle)
#include "TestConversionOracle.moc"
