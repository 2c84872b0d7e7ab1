#include "testdata/StoredPictures.h"

#include "codec/BmpToJpg.h"
#include "testdata/BmpWriter.h"
#include "testdata/IndexedImage.h"
#include "testdata/PhotoLikeImage.h"

#include <stdexcept>

namespace stored {
namespace {

using namespace bmp2jpg::testdata;

QByteArray Bytes(const std::vector<std::uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

}  // namespace

QByteArray Bmp24(std::uint32_t width, std::uint32_t height, std::uint32_t seed)
{
    return Bytes(WriteBmp(MakePhotoLikeImage(width, height, seed), DirectFormat::Bgr24));
}

QByteArray Bmp8(std::uint32_t width, std::uint32_t height, std::uint32_t seed)
{
    return Bytes(WriteBmp(Quantize(MakePhotoLikeImage(width, height, seed), 8), IndexedFormat::Bits8));
}

QByteArray Rle8(std::uint32_t width, std::uint32_t height, std::uint32_t seed)
{
    return Bytes(WriteBmp(Quantize(MakePhotoLikeImage(width, height, seed), 8), IndexedFormat::Rle8));
}

QByteArray Jpeg(std::uint32_t width, std::uint32_t height, std::uint32_t seed)
{
    const auto bmp = WriteBmp(MakePhotoLikeImage(width, height, seed), DirectFormat::Bgr24);
    const auto jpeg = bmp2jpg::ConvertBmpBytes(bmp);
    if (!jpeg)
        throw std::logic_error("a generated bitmap did not encode");
    return Bytes(*jpeg);
}

}  // namespace stored
