#include "codec/RleDecoder.h"

#include <algorithm>
#include <cstring>

namespace bmp2jpg {
namespace {

constexpr unsigned kEndOfLine = 0;
constexpr unsigned kEndOfBitmap = 1;
constexpr unsigned kDelta = 2;

// The drawing position of the run-length codes, bottom row first, clipped to
// the picture.
class RleCanvas {
public:
    RleCanvas(BgrPixelBuffer& picture, const BmpPalette& palette)
        : picture_(picture)
        , palette_(palette)
    {
    }

    void Put(unsigned index) noexcept
    {
        if (x_ < picture_.Width() && y_ < picture_.Height()) {
            const auto row = picture_.MutableRow(static_cast<std::uint32_t>(picture_.Height() - 1 - y_));
            std::memcpy(row + x_ * 3, palette_[index].data(), 3);
        }
        ++x_;
    }

    void NextLine() noexcept
    {
        x_ = 0;
        ++y_;
    }

    void Move(unsigned right, unsigned up) noexcept
    {
        x_ += right;
        y_ += up;
    }

    bool PastTop() const noexcept { return y_ >= picture_.Height(); }

private:
    BgrPixelBuffer& picture_;
    const BmpPalette& palette_;
    std::uint64_t x_ = 0;
    std::uint64_t y_ = 0;
};

// The i-th index of data packed from `first`: a byte each, or two 4-bit
// indices per byte, high half first.
unsigned IndexAt(const std::uint8_t* first, unsigned i, bool fourBit) noexcept
{
    if (!fourBit)
        return first[i];
    const std::uint8_t pair = first[i / 2];
    return i % 2 == 0 ? pair >> 4 : pair & 0x0Fu;
}

} // namespace

BgrPixelBuffer DecodeRle(const BmpLayout& layout)
{
    BgrPixelBuffer picture(layout.width, layout.height);
    RleCanvas canvas(picture, layout.palette);
    const bool fourBit = layout.compression == BmpCompression::Rle4;
    const auto data = layout.pixels;
    std::size_t at = 0;
    while (at + 2 <= data.size() && !canvas.PastTop()) {
        const unsigned count = data[at];
        const std::uint8_t* second = &data[at + 1];
        const unsigned code = *second;
        at += 2;
        if (count > 0) {
            // An encoded run repeats the second byte's index, or alternates
            // its two 4-bit ones.
            for (unsigned i = 0; i < count; ++i)
                canvas.Put(IndexAt(second, fourBit ? i % 2 : 0, fourBit));
            continue;
        }
        if (code == kEndOfLine) {
            canvas.NextLine();
        } else if (code == kEndOfBitmap) {
            break;
        } else if (code == kDelta) {
            if (at + 2 > data.size())
                break;
            canvas.Move(data[at], data[at + 1]);
            at += 2;
        } else {
            // An absolute run of `code` indices, padded to a 16-bit boundary.
            const std::size_t bytes = fourBit ? (code + 1) / 2 : code;
            const std::size_t present = std::min(bytes, data.size() - at);
            const unsigned indices = fourBit ? static_cast<unsigned>(std::min<std::size_t>(code, present * 2))
                                             : static_cast<unsigned>(present);
            for (unsigned i = 0; i < indices; ++i)
                canvas.Put(IndexAt(data.data() + at, i, fourBit));
            at += bytes + bytes % 2;
        }
    }
    return picture;
}

} // namespace bmp2jpg
