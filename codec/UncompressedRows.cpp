#include "codec/UncompressedRows.h"

#include "codec/CheckedMath.h"
#include "codec/IndexedPixels.h"

#include <algorithm>

namespace bmp2jpg {

UncompressedRows::UncompressedRows(const BmpLayout& layout)
    : layout_(layout)
    , bitFields_(layout.colourMasks, layout.bitCount)
    , usedRowBytes_(static_cast<std::size_t>(CheckedAdd(CheckedMul(layout.width, layout.bitCount), 7) / 8))
    , paddedRow_(usedRowBytes_)
    , bgrRow_(layout.bitCount == 24 ? 0 : static_cast<std::size_t>(CheckedMul(layout.width, 3) + 1))
{
}

const std::uint8_t* UncompressedRows::Row(std::uint32_t y) noexcept
{
    const std::uint32_t fileRow = layout_.bottomUp ? layout_.height - 1 - y : y;
    const std::uint8_t* stored = StoredRow(fileRow);
    switch (layout_.bitCount) {
    case 24:
        return stored;
    case 16:
    case 32:
        bitFields_.ExpandRow(stored, layout_.width, bgrRow_.data());
        return bgrRow_.data();
    default:
        ExpandIndexedRow(stored, layout_.bitCount, layout_.width, layout_.palette, bgrRow_.data());
        return bgrRow_.data();
    }
}

const std::uint8_t* UncompressedRows::StoredRow(std::uint32_t fileRow) noexcept
{
    const auto& pixels = layout_.pixels;
    const std::uint64_t start = fileRow * layout_.rowStride;
    if (start + usedRowBytes_ <= pixels.size())
        return pixels.data() + start;
    std::fill(paddedRow_.begin(), paddedRow_.end(), std::uint8_t{0});
    if (start < pixels.size())
        std::copy(pixels.begin() + static_cast<std::ptrdiff_t>(start), pixels.end(), paddedRow_.begin());
    return paddedRow_.data();
}

} // namespace bmp2jpg
