#pragma once

#include <array>
#include <cstdint>

namespace bmp2jpg {

// Widens one colour channel of a 16- or 32-bit pixel to 8 bits. Channels
// narrower than 8 bits repeat their bits downwards, so the lowest and highest
// levels become 0 and 255 (5 bits: (v << 3) | (v >> 2)); wider channels keep
// their top 8 bits; an empty mask gives 0.
class ChannelWidener {
public:
    explicit ChannelWidener(std::uint32_t mask);

    std::uint8_t operator()(std::uint32_t pixel) const noexcept { return levels_[(pixel & mask_) >> shift_]; }

private:
    std::uint32_t mask_;
    unsigned shift_;
    std::array<std::uint8_t, 256> levels_{};
};

// Expands rows of 16- or 32-bit pixels through their red, green and blue masks.
class BitFieldExpander {
public:
    BitFieldExpander(const std::array<std::uint32_t, 3>& redGreenBlueMasks, std::uint16_t bitCount);

    void ExpandRow(const std::uint8_t* pixels, std::uint32_t width, std::uint8_t* bgr) const noexcept;

private:
    ChannelWidener red_;
    ChannelWidener green_;
    ChannelWidener blue_;
    unsigned bytesPerPixel_;
};

} // namespace bmp2jpg
