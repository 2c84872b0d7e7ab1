#pragma once

#include <string_view>

namespace bmp2jpg {

// The first bytes of every BMP file and of every JPEG file (its
// start-of-image marker): what tells a stored picture's kind.
inline constexpr std::string_view kBmpSignature{"BM"};
inline constexpr std::string_view kJpegSignature{"\xFF\xD8"};

} // namespace bmp2jpg
