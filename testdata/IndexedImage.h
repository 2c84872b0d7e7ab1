#pragma once

#include "testdata/RgbImage.h"

#include <cstdint>
#include <vector>

namespace bmp2jpg::testdata {

// A picture of colour-table indices, row by row from the top.
struct IndexedImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> indices;
    std::vector<Rgb> palette;

    std::uint8_t At(std::uint32_t x, std::uint32_t y) const { return indices[std::size_t{y} * width + x]; }
};

// Maps every pixel to a fixed palette of 2^bitsPerIndex colours (1, 4 or 8
// bits): two tones by brightness, or a colour cube of 2x4x2 or 6x7x6 levels.
IndexedImage Quantize(const RgbImage& image, unsigned bitsPerIndex);

// The colours the indices stand for; an index past the palette is black.
RgbImage Expand(const IndexedImage& image);

} // namespace bmp2jpg::testdata
