#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace bmp2jpg {

enum class BmpCompression { None, Rle8, Rle4, BitFields };

// Blue, green, red and a zero byte: four bytes go in one store.
using BgrColour = std::array<std::uint8_t, 4>;

// Always 256 entries: indices past the file's colour table give black.
using BmpPalette = std::array<BgrColour, 256>;

// Where the pixels of a bitmap file are and how to read them.
struct BmpLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool bottomUp = true;
    std::uint16_t bitCount = 0;
    BmpCompression compression = BmpCompression::None;
    // Red, green and blue masks of 16- and 32-bit pixels.
    std::array<std::uint32_t, 3> colourMasks{};
    BmpPalette palette{};
    // Bytes per stored row of an uncompressed bitmap, a multiple of 4.
    std::uint64_t rowStride = 0;
    // The stored pixel data as far as the file holds it.
    std::span<const std::uint8_t> pixels;
};

// Reads the headers, masks and colour table of a non-empty file. Throws
// BmpReadError for anything that is not a readable bitmap.
BmpLayout ReadBmpLayout(std::span<const std::uint8_t> file);

} // namespace bmp2jpg
