#pragma once

#include "codec/BmpLayout.h"

namespace bmp2jpg {

// Expands one stored row of `width` colour-table indices of bitCount bits
// (1, 4 or 8, first pixel in the high bits) to blue, green, red bytes. bgr
// must have room for one byte more than the row.
void ExpandIndexedRow(const std::uint8_t* indices, std::uint16_t bitCount, std::uint32_t width,
    const BmpPalette& palette, std::uint8_t* bgr) noexcept;

} // namespace bmp2jpg
