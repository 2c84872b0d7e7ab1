#include "codec/IndexedPixels.h"

#include <cstring>

namespace bmp2jpg {
namespace {

// One instance per bit count, so that the packing arithmetic is constant.
template <unsigned Bits>
void ExpandPacked(const std::uint8_t* indices, std::uint32_t width, const BmpPalette& palette,
    std::uint8_t* bgr) noexcept
{
    constexpr unsigned kPerByte = 8 / Bits;
    constexpr unsigned kIndexMask = (1u << Bits) - 1;
    for (std::uint32_t x = 0; x < width; ++x) {
        const unsigned shift = 8 - Bits * (x % kPerByte + 1);
        const unsigned index = (indices[x / kPerByte] >> shift) & kIndexMask;
        // The fourth byte is overwritten by the next pixel.
        std::memcpy(bgr + std::size_t{x} * 3, palette[index].data(), 4);
    }
}

} // namespace

void ExpandIndexedRow(const std::uint8_t* indices, std::uint16_t bitCount, std::uint32_t width,
    const BmpPalette& palette, std::uint8_t* bgr) noexcept
{
    switch (bitCount) {
    case 1:
        ExpandPacked<1>(indices, width, palette, bgr);
        break;
    case 4:
        ExpandPacked<4>(indices, width, palette, bgr);
        break;
    default:
        ExpandPacked<8>(indices, width, palette, bgr);
        break;
    }
}

} // namespace bmp2jpg
