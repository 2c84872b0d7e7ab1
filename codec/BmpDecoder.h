#pragma once

#include "codec/BgrPicture.h"

#include <cstdint>
#include <memory>
#include <span>

namespace bmp2jpg {

// Decodes a whole BMP file held in memory. An empty file gives an empty
// picture (0 x 0). Uncompressed pictures are read from `file` as they are
// encoded, so the bytes must outlive the picture. Throws a std::exception
// (BmpReadError for every defect of the file) when it is not a readable
// bitmap.
std::unique_ptr<BgrPicture> DecodeBmp(std::span<const std::uint8_t> file);

} // namespace bmp2jpg
