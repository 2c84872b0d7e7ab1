#include "testdata/BmpWriter.h"

#include "testdata/RleEncoder.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace bmp2jpg::testdata {
namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kMasksInHeaderFrom = 52;
constexpr std::uint32_t kBitFields = 3;

// What a pixel format puts into the file besides the headers.
struct PixelData {
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::array<std::uint32_t, 3> masks{}; // red, green, blue, for bit fields
    std::vector<Rgb> colourTable;
    std::vector<std::uint8_t> pixels;
};

// Stores rows bottom-up (or top-down), each padded to 4 bytes; pack(row, y)
// fills the stored row of image row y.
template <typename PackRow>
std::vector<std::uint8_t> StoreRows(std::uint32_t width, std::uint32_t height, std::uint16_t bitCount, bool topDown,
    PackRow pack)
{
    const std::size_t stride = (std::size_t{width} * bitCount + 31) / 32 * 4;
    std::vector<std::uint8_t> pixels(stride * height);
    for (std::uint32_t stored = 0; stored < height; ++stored)
        pack(&pixels[stored * stride], topDown ? stored : height - 1 - stored);
    return pixels;
}

void PutLe(std::uint8_t* at, std::uint32_t value, unsigned bytes)
{
    for (unsigned i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t TenBits(std::uint8_t channel)
{
    return std::uint32_t{channel} << 2 | channel >> 6;
}

PixelData DirectPixels(const RgbImage& image, DirectFormat format, bool topDown)
{
    PixelData data;
    const bool sixteenBit = format == DirectFormat::Rgb555 || format == DirectFormat::Rgb565;
    data.bitCount = format == DirectFormat::Bgr24 ? 24 : sixteenBit ? 16 : 32;
    if (format == DirectFormat::Rgb565) {
        data.compression = kBitFields;
        data.masks = {0xF800, 0x07E0, 0x001F};
    } else if (format == DirectFormat::Rgb101010) {
        data.compression = kBitFields;
        data.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
    }
    const unsigned bytesPerPixel = data.bitCount / 8u;
    data.pixels = StoreRows(image.width, image.height, data.bitCount, topDown, [&](std::uint8_t* row, std::uint32_t y) {
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const Rgb& p = image.At(x, y);
            std::uint8_t* at = row + std::size_t{x} * bytesPerPixel;
            switch (format) {
            case DirectFormat::Bgr24:
            case DirectFormat::Bgrx32:
                at[0] = p.b;
                at[1] = p.g;
                at[2] = p.r;
                if (format == DirectFormat::Bgrx32)
                    at[3] = 0xEE;
                break;
            case DirectFormat::Rgb555:
                PutLe(at, 0x8000u | (p.r >> 3u) << 10 | (p.g >> 3u) << 5 | p.b >> 3u, 2);
                break;
            case DirectFormat::Rgb565:
                PutLe(at, (p.r >> 3u) << 11 | (p.g >> 2u) << 5 | p.b >> 3u, 2);
                break;
            case DirectFormat::Rgb101010:
                PutLe(at, 0xC0000000u | TenBits(p.r) << 20 | TenBits(p.g) << 10 | TenBits(p.b), 4);
                break;
            }
        }
    });
    return data;
}

PixelData IndexedPixels(const IndexedImage& image, IndexedFormat format, bool topDown)
{
    PixelData data;
    data.colourTable = image.palette;
    if (format == IndexedFormat::Rle4 || format == IndexedFormat::Rle8) {
        if (topDown)
            throw std::invalid_argument("Run-length bitmaps are bottom-up");
        data.bitCount = format == IndexedFormat::Rle4 ? 4 : 8;
        data.compression = format == IndexedFormat::Rle4 ? 2 : 1;
        data.pixels = EncodeRle(image, data.bitCount);
        return data;
    }
    data.bitCount = format == IndexedFormat::Bits1 ? 1 : format == IndexedFormat::Bits4 ? 4 : 8;
    const unsigned perByte = 8u / data.bitCount;
    data.pixels = StoreRows(image.width, image.height, data.bitCount, topDown, [&](std::uint8_t* row, std::uint32_t y) {
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const unsigned shift = 8 - data.bitCount * (x % perByte + 1);
            row[x / perByte] = static_cast<std::uint8_t>(row[x / perByte] | image.At(x, y) << shift);
        }
    });
    return data;
}

std::vector<std::uint8_t> Assemble(const PixelData& data, std::uint32_t width, std::uint32_t height,
    const BmpOptions& options)
{
    const bool os2 = options.header == InfoHeader::Os2;
    if (os2 && (options.topDown || data.compression != 0 || width > 0xFFFF || height > 0xFFFF))
        throw std::invalid_argument("The OS/2 header holds only small uncompressed bottom-up pictures");
    const auto headerLength = static_cast<std::uint32_t>(options.header);
    const bool masksAfterHeader = data.compression == kBitFields && headerLength < kMasksInHeaderFrom;
    const std::size_t entryBytes = os2 ? 3 : 4;
    const std::size_t tableStart = kFileHeaderBytes + headerLength + (masksAfterHeader ? 12 : 0);
    const std::size_t gapStart = tableStart + data.colourTable.size() * entryBytes;
    const std::size_t pixelStart = gapStart + options.gapBeforePixels;

    std::vector<std::uint8_t> file(pixelStart + data.pixels.size());
    file[0] = 'B';
    file[1] = 'M';
    PutLe32(file, bmp_field::kFileSize, static_cast<std::uint32_t>(file.size()));
    PutLe32(file, bmp_field::kDataOffset, static_cast<std::uint32_t>(pixelStart));
    PutLe32(file, bmp_field::kHeaderLength, headerLength);
    if (os2) {
        PutLe16(file, kFileHeaderBytes + 4, static_cast<std::uint16_t>(width));
        PutLe16(file, kFileHeaderBytes + 6, static_cast<std::uint16_t>(height));
        PutLe16(file, kFileHeaderBytes + 8, 1);
        PutLe16(file, kFileHeaderBytes + 10, data.bitCount);
    } else {
        PutLe32(file, bmp_field::kWidth, width);
        PutLe32(file, bmp_field::kHeight, options.topDown ? 0u - height : height);
        PutLe16(file, bmp_field::kPlanes, 1);
        PutLe16(file, bmp_field::kBitCount, data.bitCount);
        PutLe32(file, bmp_field::kCompression, data.compression);
        PutLe32(file, bmp_field::kImageSize, static_cast<std::uint32_t>(data.pixels.size()));
        PutLe32(file, bmp_field::kPixelsPerMetreX, static_cast<std::uint32_t>(options.pixelsPerMetre));
        PutLe32(file, bmp_field::kPixelsPerMetreY, static_cast<std::uint32_t>(options.pixelsPerMetre));
        const bool fullTable = data.colourTable.size() == (std::size_t{1} << data.bitCount);
        PutLe32(file, bmp_field::kColoursUsed, fullTable ? 0 : static_cast<std::uint32_t>(data.colourTable.size()));
        if (data.compression == kBitFields) {
            const std::size_t masksAt = masksAfterHeader ? kFileHeaderBytes + headerLength : bmp_field::kMasks;
            for (std::size_t i = 0; i < 3; ++i)
                PutLe32(file, masksAt + 4 * i, data.masks[i]);
        }
    }
    for (std::size_t i = 0; i < data.colourTable.size(); ++i) {
        const Rgb& colour = data.colourTable[i];
        std::uint8_t* entry = &file[tableStart + i * entryBytes];
        entry[0] = colour.b;
        entry[1] = colour.g;
        entry[2] = colour.r;
    }
    for (std::size_t i = gapStart; i < pixelStart; ++i)
        file[i] = static_cast<std::uint8_t>(0xA5 ^ i);
    std::copy(data.pixels.begin(), data.pixels.end(), file.begin() + static_cast<std::ptrdiff_t>(pixelStart));
    return file;
}

} // namespace

std::vector<std::uint8_t> WriteBmp(const RgbImage& image, DirectFormat format, const BmpOptions& options)
{
    return Assemble(DirectPixels(image, format, options.topDown), image.width, image.height, options);
}

std::vector<std::uint8_t> WriteBmp(const IndexedImage& image, IndexedFormat format, const BmpOptions& options)
{
    PixelData data = IndexedPixels(image, format, options.topDown);
    if (options.header == InfoHeader::Os2)
        data.colourTable.resize(std::size_t{1} << data.bitCount);
    return Assemble(data, image.width, image.height, options);
}

void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value)
{
    PutLe(&bytes.at(offset + 1) - 1, value, 2);
}

void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value)
{
    PutLe(&bytes.at(offset + 3) - 3, value, 4);
}

} // namespace bmp2jpg::testdata
