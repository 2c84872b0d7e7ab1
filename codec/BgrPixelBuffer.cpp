#include "codec/BgrPixelBuffer.h"

#include "codec/CheckedMath.h"

namespace bmp2jpg {

BgrPixelBuffer::BgrPixelBuffer(std::uint32_t width, std::uint32_t height)
    : width_(width)
    , height_(height)
    , pixels_(static_cast<std::size_t>(CheckedMul(CheckedMul(width, height), 3)))
{
}

} // namespace bmp2jpg
