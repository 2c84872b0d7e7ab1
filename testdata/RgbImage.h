#pragma once

#include <cstdint>
#include <vector>

namespace bmp2jpg::testdata {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;

    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Pixels row by row from the top.
struct RgbImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<Rgb> pixels;

    RgbImage() = default;
    RgbImage(std::uint32_t w, std::uint32_t h) : width(w), height(h), pixels(std::size_t{w} * h) {}

    Rgb& At(std::uint32_t x, std::uint32_t y) { return pixels[std::size_t{y} * width + x]; }
    const Rgb& At(std::uint32_t x, std::uint32_t y) const { return pixels[std::size_t{y} * width + x]; }

    friend bool operator==(const RgbImage&, const RgbImage&) = default;
};

} // namespace bmp2jpg::testdata
