#include "codec/DecodeBudget.h"

#include "codec/BmpErrors.h"
#include "codec/CheckedMath.h"

namespace bmp2jpg {

void CheckDecodeBudget(std::uint32_t width, std::uint32_t height, std::uint64_t fileSize)
{
    const std::uint64_t pictureBytes = CheckedMul(CheckedMul(width, height), 3);
    const std::uint64_t budget = CheckedAdd(CheckedMul(fileSize, kDecodedBytesPerFileByte), kDecodedBytesMargin);
    if (pictureBytes > budget)
        throw BmpReadError("Bitmap declares a picture too large for its file");
}

} // namespace bmp2jpg
