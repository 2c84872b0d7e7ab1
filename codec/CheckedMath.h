#pragma once

#include "codec/BmpErrors.h"

#include <cstdint>
#include <limits>

namespace bmp2jpg {

// Size arithmetic on values taken from untrusted headers: an overflow makes
// the file unreadable instead of wrapping round to a small size.
inline std::uint64_t CheckedAdd(std::uint64_t a, std::uint64_t b)
{
    if (b > std::numeric_limits<std::uint64_t>::max() - a)
        throw BmpReadError("Bitmap size overflows");
    return a + b;
}

inline std::uint64_t CheckedMul(std::uint64_t a, std::uint64_t b)
{
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
        throw BmpReadError("Bitmap size overflows");
    return a * b;
}

} // namespace bmp2jpg
