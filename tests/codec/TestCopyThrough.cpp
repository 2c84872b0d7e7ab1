// Whatever is not a readable bitmap, or fails to encode, is copied through
// byte for byte; the empty file is the one empty picture.

#include "codec/BmpErrors.h"
#include "codec/BmpToJpg.h"
#include "codec/FileBytes.h"
#include "tests/codec/CjpegReference.h"
#include "testdata/BmpWriter.h"
#include "testdata/PhotoLikeImage.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

#include <jpeglib.h>

#include <jerror.h>

using namespace bmp2jpg::testdata;
using bmp2jpg::test::Bytes;

namespace {

const Bytes kPng = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00,
    0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xDF, 0xC0, 0x00, 0x00, 0x04, 0x01, 0x01, 0x80, 0xC5,
    0x2A, 0x18, 0x5D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
const Bytes kGif = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0xF0, 0x00, 0x00, 0xFF, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01,
    0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

Bytes Patched(Bytes file, std::size_t offset, std::uint32_t value, unsigned bytes = 4)
{
    if (bytes == 2)
        PutLe16(file, offset, static_cast<std::uint16_t>(value));
    else
        PutLe32(file, offset, value);
    return file;
}

Bytes Cut(const Bytes& file, std::size_t size)
{
    return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
}

// A 24-bit header with no pixel bytes at all, declaring width x height.
Bytes HeaderOnly(std::uint32_t width, std::uint32_t height)
{
    const Bytes header = Cut(WriteBmp(RgbImage(1, 1), DirectFormat::Bgr24), 54);
    return Patched(Patched(header, bmp_field::kWidth, width), bmp_field::kHeight, height);
}

} // namespace

class TestCopyThrough : public QObject {
    Q_OBJECT

private slots:
    void copiesUnreadableInput_data()
    {
        QTest::addColumn<Bytes>("input");
        const RgbImage photo = MakePhotoLikeImage(9, 4, 3);
        const Bytes bgr24 = WriteBmp(photo, DirectFormat::Bgr24);
        const Bytes indexed = WriteBmp(Quantize(photo, 8), IndexedFormat::Bits8);
        const Bytes bitFields = WriteBmp(photo, DirectFormat::Rgb565);

        QTest::newRow("JPEG file") << bmp2jpg::test::CjpegReference(photo);
        QTest::newRow("PNG file") << kPng;
        QTest::newRow("GIF file") << kGif;
        QTest::newRow("text") << Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e', '\n'};
        QTest::newRow("\"BM\" only") << Bytes{'B', 'M'};
        QTest::newRow("13 bytes") << Cut(bgr24, 13);

        QTest::newRow("planes 2") << Patched(bgr24, bmp_field::kPlanes, 2, 2);
        QTest::newRow("width 0") << Patched(bgr24, bmp_field::kWidth, 0);
        QTest::newRow("negative width") << Patched(bgr24, bmp_field::kWidth, 0u - 9);
        QTest::newRow("height 0") << Patched(bgr24, bmp_field::kHeight, 0);
        QTest::newRow("information header of 20 bytes") << Patched(bgr24, bmp_field::kHeaderLength, 20);
        QTest::newRow("ends inside the information header") << Cut(bgr24, 30);
        QTest::newRow("ends inside the colour table") << Cut(indexed, 54 + 4 * 100 + 2);
        QTest::newRow("ends inside the bit-field masks") << Cut(bitFields, 54 + 6);
        QTest::newRow("colours used beyond the file") << Patched(indexed, bmp_field::kColoursUsed, 0xFFFFFFFF);
        QTest::newRow("header length beyond the file") << Patched(bgr24, bmp_field::kHeaderLength, 0xFFFFFFF0);

        for (const std::uint32_t compression : {4u, 5u, 6u, 7u, 0xFFFFFFFFu})
            QTest::newRow(qPrintable(QString("compression %1").arg(compression)))
                << Patched(bgr24, bmp_field::kCompression, compression);
        QTest::newRow("run-length with 24 bits") << Patched(bgr24, bmp_field::kCompression, 1);
        QTest::newRow("top-down run-length")
            << Patched(WriteBmp(Quantize(photo, 8), IndexedFormat::Rle8), bmp_field::kHeight, 0u - 4);
        QTest::newRow("bit fields with 24 bits") << Patched(bgr24, bmp_field::kCompression, 3);
        QTest::newRow("bit count 2") << Patched(indexed, bmp_field::kBitCount, 2, 2);
        QTest::newRow("bit count 0") << Patched(indexed, bmp_field::kBitCount, 0, 2);
        QTest::newRow("mask with a hole") << Patched(bitFields, 54, 0xF00F);
        QTest::newRow("mask wider than the pixel") << Patched(bitFields, 54, 0x1F800);

        Bytes hostile = HeaderOnly(60000, 60000);
        hostile.resize(1024, 0x55);
        QTest::newRow("1 KB declaring 60000 x 60000") << hostile;
        QTest::newRow("wider than 65500") << WriteBmp(RgbImage(65501, 1), DirectFormat::Bgr24);
        QTest::newRow("taller than 65500") << WriteBmp(RgbImage(1, 65501), DirectFormat::Bgr24);
    }
    void copiesUnreadableInput()
    {
        QFETCH(Bytes, input);
        QVERIFY(!bmp2jpg::ConvertBmpBytes(input).has_value());

        QTemporaryDir folder;
        const std::filesystem::path bmpPath = folder.filePath("in.bmp").toStdString();
        const std::filesystem::path jpgPath = folder.filePath("out.jpg").toStdString();
        bmp2jpg::WriteFileBytes(bmpPath, input);
        QCOMPARE(bmp2jpg::BmpToJpg(bmpPath, jpgPath), bmp2jpg::ConversionOutcome::Copied);
        QVERIFY(std::ranges::equal(bmp2jpg::ReadFileBytes(jpgPath).Bytes(), input));
    }

    void emptyFileGivesEmptyJpeg()
    {
        QCOMPARE(bmp2jpg::ConvertBmpBytes({}), std::optional<Bytes>(Bytes{}));
        QTemporaryDir folder;
        const std::filesystem::path bmpPath = folder.filePath("empty.bmp").toStdString();
        const std::filesystem::path jpgPath = folder.filePath("empty.jpg").toStdString();
        bmp2jpg::WriteFileBytes(bmpPath, {});
        QCOMPARE(bmp2jpg::BmpToJpg(bmpPath, jpgPath), bmp2jpg::ConversionOutcome::Encoded);
        QCOMPARE(std::filesystem::file_size(jpgPath), std::uintmax_t{0});
    }

    // The 65500-pixel limit is libjpeg's: the picture decodes, the encoder fails.
    void widerThanJpegAllowsFailsInTheEncoder()
    {
        const Bytes bmp = WriteBmp(RgbImage(65501, 1), DirectFormat::Bgr24);
        const auto picture = bmp2jpg::DecodeBmp(bmp);
        try {
            bmp2jpg::EncodeJpeg(*picture);
            QFAIL("encoded");
        } catch (const std::runtime_error& error) {
            QCOMPARE(QString(error.what()), QString("JPEG error #%1").arg(JERR_IMAGE_TOO_BIG));
        }
    }

    // A file of n bytes may declare up to 64 n + 16 MiB bytes of decoded
    // pixels (width x height x 3); a larger picture is refused before any
    // decoding.
    void declaredSizeIsBoundedByTheFileSize_data()
    {
        QTest::addColumn<std::uint32_t>("fileSize");
        QTest::addColumn<std::uint32_t>("width");
        QTest::addColumn<std::uint32_t>("height");
        QTest::addColumn<bool>("fits");
        // 64 * 54 + 16 MiB = 16 780 672 bytes
        QTest::newRow("54 bytes, 4096 x 1365") << 54u << 4096u << 1365u << true;
        QTest::newRow("54 bytes, 4096 x 1366") << 54u << 4096u << 1366u << false;
        // 64 MiB + 16 MiB = 83 886 080 bytes
        QTest::newRow("1 MiB, 8192 x 3413") << 1048576u << 8192u << 3413u << true;
        QTest::newRow("1 MiB, 8192 x 3414") << 1048576u << 8192u << 3414u << false;
        QTest::newRow("1 KB, 60000 x 60000") << 1024u << 60000u << 60000u << false;
    }
    void declaredSizeIsBoundedByTheFileSize()
    {
        QFETCH(std::uint32_t, fileSize);
        QFETCH(std::uint32_t, width);
        QFETCH(std::uint32_t, height);
        QFETCH(bool, fits);
        Bytes file = HeaderOnly(width, height);
        file.resize(fileSize);
        if (fits)
            QVERIFY(bmp2jpg::DecodeBmp(file) != nullptr);
        else
            QVERIFY_THROWS_EXCEPTION(bmp2jpg::BmpReadError, bmp2jpg::DecodeBmp(file));
    }

    // Pixels the file lacks are black, however many.
    void headerWithoutPixelsGivesBlackPicture()
    {
        const auto jpeg = bmp2jpg::ConvertBmpBytes(HeaderOnly(4096, 1365));
        QVERIFY(jpeg.has_value());
        QVERIFY(*jpeg == bmp2jpg::test::CjpegReference(RgbImage(4096, 1365)));
    }
};

QTEST_APPLESS_MAIN(TestCopyThrough)
#include "TestCopyThrough.moc"
