#pragma once

#include <cstdint>

namespace bmp2jpg {

// A decoded picture as the JPEG encoder takes it: rows from top to bottom,
// each Width() pixels of three bytes in the order blue, green, red.
// Rows may be produced on demand, so a picture is read by one thread at a time.
class BgrPicture {
public:
    virtual ~BgrPicture() = default;

    virtual std::uint32_t Width() const noexcept = 0;
    virtual std::uint32_t Height() const noexcept = 0;

    // Row y (0 is the top row), 3 * Width() bytes, valid until the next call.
    virtual const std::uint8_t* Row(std::uint32_t y) noexcept = 0;
};

} // namespace bmp2jpg
