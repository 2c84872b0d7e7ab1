#pragma once

#include "testdata/IndexedImage.h"
#include "testdata/RgbImage.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bmp2jpg::testdata {

// File offsets of the header fields (Windows forms), for writing and for
// tests that damage a file on purpose.
namespace bmp_field {
inline constexpr std::size_t kFileSize = 2;
inline constexpr std::size_t kDataOffset = 10;
inline constexpr std::size_t kHeaderLength = 14;
inline constexpr std::size_t kWidth = 18;
inline constexpr std::size_t kHeight = 22;
inline constexpr std::size_t kPlanes = 26;
inline constexpr std::size_t kBitCount = 28;
inline constexpr std::size_t kCompression = 30;
inline constexpr std::size_t kImageSize = 34;
inline constexpr std::size_t kPixelsPerMetreX = 38;
inline constexpr std::size_t kPixelsPerMetreY = 42;
inline constexpr std::size_t kColoursUsed = 46;
inline constexpr std::size_t kMasks = 54; // in the header when it has 52 bytes or more
} // namespace bmp_field

// The information header: OS/2's 12 bytes, or a Windows form by its length.
enum class InfoHeader : std::uint32_t { Os2 = 12, Windows = 40, WindowsV2 = 52, WindowsV3 = 56, V4 = 108, V5 = 124 };

struct BmpOptions {
    InfoHeader header = InfoHeader::Windows;
    bool topDown = false;
    // Filler bytes between the colour table and the pixels, which only the
    // data offset skips (like an embedded colour profile).
    std::uint32_t gapBeforePixels = 0;
    std::int32_t pixelsPerMetre = 0;
};

// Pixel formats with the colour in the pixel. Unused bits are set, so a
// reader that does not mask them out shows it.
enum class DirectFormat {
    Bgr24,
    Bgrx32, // fourth byte 0xEE
    Rgb555, // compression 0, top bit set
    Rgb565, // bit fields
    Rgb101010, // bit fields, 10 bits a channel, top two bits set
};

enum class IndexedFormat { Bits1, Bits4, Bits8, Rle4, Rle8 };

// 5-, 6- and 10-bit formats store the top bits of each 8-bit channel.
std::vector<std::uint8_t> WriteBmp(const RgbImage& image, DirectFormat format, const BmpOptions& options = {});

// The colour table is image.palette; it may be shorter than the bit count
// allows (the colours-used field says so; OS/2 tables are padded with black).
std::vector<std::uint8_t> WriteBmp(const IndexedImage& image, IndexedFormat format, const BmpOptions& options = {});

void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value);
void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

} // namespace bmp2jpg::testdata
