#pragma once

#include "codec/BgrPicture.h"
#include "codec/BitFieldPixels.h"
#include "codec/BmpLayout.h"

#include <vector>

namespace bmp2jpg {

// The picture of an uncompressed or bit-field bitmap, expanded one row at a
// time straight from the file's bytes (which must outlive it). Complete
// 24-bit rows are handed out in place, without a copy. Pixel bytes the file
// lacks read as zero.
class UncompressedRows final : public BgrPicture {
public:
    explicit UncompressedRows(const BmpLayout& layout);

    std::uint32_t Width() const noexcept override { return layout_.width; }
    std::uint32_t Height() const noexcept override { return layout_.height; }
    const std::uint8_t* Row(std::uint32_t y) noexcept override;

private:
    const std::uint8_t* StoredRow(std::uint32_t fileRow) noexcept;

    BmpLayout layout_;
    BitFieldExpander bitFields_;
    std::size_t usedRowBytes_; // the bytes of a stored row that hold pixels
    std::vector<std::uint8_t> paddedRow_; // a row the file cuts short, zero-filled
    std::vector<std::uint8_t> bgrRow_;
};

} // namespace bmp2jpg
