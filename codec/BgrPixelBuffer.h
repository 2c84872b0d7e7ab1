#pragma once

#include "codec/BgrPicture.h"

#include <vector>

namespace bmp2jpg {

// A picture that holds all its pixels, black until written.
class BgrPixelBuffer final : public BgrPicture {
public:
    BgrPixelBuffer(std::uint32_t width, std::uint32_t height);

    std::uint32_t Width() const noexcept override { return width_; }
    std::uint32_t Height() const noexcept override { return height_; }
    const std::uint8_t* Row(std::uint32_t y) noexcept override { return MutableRow(y); }

    std::uint8_t* MutableRow(std::uint32_t y) noexcept { return pixels_.data() + y * RowBytes(); }

private:
    std::size_t RowBytes() const noexcept { return std::size_t{width_} * 3; }

    std::uint32_t width_;
    std::uint32_t height_;
    std::vector<std::uint8_t> pixels_;
};

} // namespace bmp2jpg
