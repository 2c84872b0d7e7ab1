#pragma once

#include "codec/BgrPixelBuffer.h"
#include "codec/BmpLayout.h"

namespace bmp2jpg {

// Decodes run-length data (8 or 4 bits per pixel, bottom row first) through
// the colour table. Pixels the data skips (delta, end of line, end of bitmap)
// or never reaches because it is cut short stay black; pixels a run places
// past the right edge or the top are dropped.
BgrPixelBuffer DecodeRle(const BmpLayout& layout);

} // namespace bmp2jpg
