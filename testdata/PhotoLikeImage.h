#pragma once

#include "testdata/RgbImage.h"

namespace bmp2jpg::testdata {

// A deterministic picture with the statistics of a photograph (smooth
// gradients and soft shapes, coarse and fine texture, pixel noise), so that
// JPEG sizes and encoding times are realistic. Integer arithmetic only: the
// same seed gives the same pixels everywhere.
RgbImage MakePhotoLikeImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed);

} // namespace bmp2jpg::testdata
