#pragma once

#include <stdexcept>

namespace bmp2jpg {

// Raised for any input the reader cannot take as a bitmap; the conversion
// answers it with a plain copy.
class BmpReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file ends before its headers, masks or colour table do.
[[noreturn]] inline void FailStreamRead()
{
    throw BmpReadError("Stream read error");
}

[[noreturn]] inline void FailInvalidBitmap()
{
    throw BmpReadError("Bitmap image is not valid");
}

} // namespace bmp2jpg
