#include "codec/BitFieldPixels.h"

#include <algorithm>
#include <bit>

namespace bmp2jpg {
namespace {

std::uint8_t RepeatBits(unsigned level, unsigned bits)
{
    unsigned spread = 0;
    unsigned filled = 0;
    while (filled < 8) {
        spread = (spread << bits) | level;
        filled += bits;
    }
    return static_cast<std::uint8_t>(spread >> (filled - 8));
}

} // namespace

ChannelWidener::ChannelWidener(std::uint32_t mask)
    : mask_(mask)
    , shift_(0)
{
    if (mask == 0)
        return;
    const auto bits = static_cast<unsigned>(std::popcount(mask));
    const unsigned kept = std::min(bits, 8u);
    shift_ = static_cast<unsigned>(std::countr_zero(mask)) + bits - kept;
    for (unsigned level = 0; level < (1u << kept); ++level)
        levels_[level] = RepeatBits(level, kept);
}

BitFieldExpander::BitFieldExpander(const std::array<std::uint32_t, 3>& redGreenBlueMasks, std::uint16_t bitCount)
    : red_(redGreenBlueMasks[0])
    , green_(redGreenBlueMasks[1])
    , blue_(redGreenBlueMasks[2])
    , bytesPerPixel_(bitCount / 8u)
{
}

void BitFieldExpander::ExpandRow(const std::uint8_t* pixels, std::uint32_t width, std::uint8_t* bgr) const noexcept
{
    for (std::uint32_t x = 0; x < width; ++x, pixels += bytesPerPixel_, bgr += 3) {
        std::uint32_t pixel = 0;
        for (unsigned i = bytesPerPixel_; i-- > 0;)
            pixel = (pixel << 8) | pixels[i];
        bgr[0] = blue_(pixel);
        bgr[1] = green_(pixel);
        bgr[2] = red_(pixel);
    }
}

} // namespace bmp2jpg
