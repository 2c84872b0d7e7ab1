#pragma once

#include "testdata/IndexedImage.h"

#include <cstdint>
#include <vector>

namespace bmp2jpg::testdata {

// Run-length pixel data of a BMP with 8 or 4 bits per index, bottom row
// first: encoded runs for repeated indices, absolute runs for the rest, an
// end-of-line code between rows and the end-of-bitmap code last.
std::vector<std::uint8_t> EncodeRle(const IndexedImage& image, unsigned bitsPerIndex);

} // namespace bmp2jpg::testdata
