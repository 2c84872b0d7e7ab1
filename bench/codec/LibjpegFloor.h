#pragma once

#include <cstdint>
#include <vector>

namespace bmp2jpg::bench {

// The fastest way to these JPEG bytes: libjpeg called directly on top-down
// B,G,R rows already in memory, into memory, with the conversion's settings
// (quality 90 baseline, float DCT, defaults otherwise).
std::vector<std::uint8_t> EncodeBgrWithLibjpeg(const std::vector<std::uint8_t>& bgr, std::uint32_t width,
    std::uint32_t height);

} // namespace bmp2jpg::bench
