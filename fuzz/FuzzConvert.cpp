// Any bytes through the BMP reader and the JPEG encoder: no crash, hang,
// leak or undefined behaviour, and the answer is either "copy through" or a
// whole JPEG file (an empty input alone gives no bytes).

#include "codec/BmpToJpg.h"

#include <cstdlib>

namespace {

bool IsWholeJpeg(const std::vector<std::uint8_t>& jpeg)
{
    return jpeg.size() >= 4 && jpeg[0] == 0xFF && jpeg[1] == 0xD8 && jpeg[jpeg.size() - 2] == 0xFF
        && jpeg.back() == 0xD9;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto jpeg = bmp2jpg::ConvertBmpBytes({data, size});
    if (jpeg && (size == 0 ? !jpeg->empty() : !IsWholeJpeg(*jpeg)))
        std::abort();
    return 0;
}
