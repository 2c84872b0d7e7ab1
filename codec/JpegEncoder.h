#pragma once

#include "codec/BgrPicture.h"

#include <cstdint>
#include <vector>

namespace bmp2jpg {

// Encodes a picture as a baseline JFIF file: quality 90, floating-point DCT,
// libjpeg's defaults otherwise (4:2:0 YCbCr, density 1:1 without unit,
// standard Huffman tables), rows from top to bottom. A picture without pixels
// gives no bytes. libjpeg's own errors, such as a side above 65500 pixels,
// throw std::runtime_error("JPEG error #<libjpeg message code>").
std::vector<std::uint8_t> EncodeJpeg(BgrPicture& picture);

} // namespace bmp2jpg
