#include "testdata/PhotoLikeImage.h"

#include <algorithm>

namespace bmp2jpg::testdata {
namespace {

std::uint32_t Hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed)
{
    std::uint32_t h = x * 0x9E3779B1u ^ y * 0x85EBCA77u ^ seed * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    return h ^ (h >> 15);
}

// Smooth noise in 0..255: random levels on a lattice of `cell` pixels,
// blended bilinearly in between.
int ValueNoise(std::uint32_t x, std::uint32_t y, std::uint32_t cell, std::uint32_t seed)
{
    const std::uint32_t gx = x / cell;
    const std::uint32_t gy = y / cell;
    const auto fx = static_cast<std::int64_t>(x % cell);
    const auto fy = static_cast<std::int64_t>(y % cell);
    const std::int64_t c = cell;
    const auto level = [&](std::uint32_t dx, std::uint32_t dy) {
        return static_cast<std::int64_t>(Hash(gx + dx, gy + dy, seed) & 0xFF);
    };
    const std::int64_t top = level(0, 0) * (c - fx) + level(1, 0) * fx;
    const std::int64_t bottom = level(0, 1) * (c - fx) + level(1, 1) * fx;
    return static_cast<int>((top * (c - fy) + bottom * fy) / (c * c));
}

// A soft disc: full strength inside radius/2, fading to 0 at the radius.
int SoftDisc(std::int64_t dx, std::int64_t dy, std::int64_t radius)
{
    const std::int64_t distance2 = dx * dx + dy * dy;
    const std::int64_t inner2 = radius * radius / 4;
    const std::int64_t outer2 = radius * radius;
    if (distance2 <= inner2)
        return 256;
    if (distance2 >= outer2)
        return 0;
    return static_cast<int>(256 * (outer2 - distance2) / (outer2 - inner2));
}

std::uint8_t Clamp(int value)
{
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

} // namespace

RgbImage MakePhotoLikeImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed)
{
    RgbImage image(width, height);
    const std::int64_t w = std::max<std::uint32_t>(width, 1);
    const std::int64_t h = std::max<std::uint32_t>(height, 1);
    const std::int64_t discX = Hash(1, 2, seed) % w;
    const std::int64_t discY = Hash(3, 4, seed) % h;
    const std::int64_t radius = std::max<std::int64_t>(std::min(w, h) / 3, 2);
    const std::uint32_t coarse = std::max<std::uint32_t>(std::min(width, height) / 6, 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const int u = static_cast<int>(std::int64_t{x} * 255 / w);
            const int v = static_cast<int>(std::int64_t{y} * 255 / h);
            const int disc = SoftDisc(x - discX, y - discY, radius);
            const int coarseTexture = ValueNoise(x, y, coarse, seed) - 128;
            const int fineTexture = ValueNoise(x, y, 4, seed + 1) - 128;
            const int grain = static_cast<int>(Hash(x, y, seed + 2) % 17) - 8;
            const int shade = coarseTexture / 3 + fineTexture / 6 + grain;
            Rgb& pixel = image.At(x, y);
            pixel.r = Clamp(40 + u * 3 / 5 + disc * 90 / 256 + shade);
            pixel.g = Clamp(60 + v / 2 + (255 - u) / 5 + shade);
            pixel.b = Clamp(200 - v * 3 / 5 + disc * 30 / 256 + shade / 2);
        }
    }
    return image;
}

} // namespace bmp2jpg::testdata
