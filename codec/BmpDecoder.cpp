#include "codec/BmpDecoder.h"

#include "codec/BmpLayout.h"
#include "codec/RleDecoder.h"
#include "codec/UncompressedRows.h"

namespace bmp2jpg {

std::unique_ptr<BgrPicture> DecodeBmp(std::span<const std::uint8_t> file)
{
    if (file.empty())
        return std::make_unique<BgrPixelBuffer>(0, 0);
    const BmpLayout layout = ReadBmpLayout(file);
    switch (layout.compression) {
    case BmpCompression::Rle8:
    case BmpCompression::Rle4:
        return std::make_unique<BgrPixelBuffer>(DecodeRle(layout));
    default:
        return std::make_unique<UncompressedRows>(layout);
    }
}

} // namespace bmp2jpg
