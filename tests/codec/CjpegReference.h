#pragma once

#include "testdata/RgbImage.h"

#include <QByteArray>
#include <QMetaType>

#include <cstdint>
#include <vector>

namespace bmp2jpg::test {

using Bytes = std::vector<std::uint8_t>;

// What libjpeg-turbo's own cjpeg writes at quality 90 with the floating-point
// DCT for the image stored as a 24-bit BMP without pixels-per-metre: the
// bytes every conversion of the same pixels must equal.
Bytes CjpegReference(const testdata::RgbImage& image);

// A failure message: the sizes and the first offset where the bytes differ.
QByteArray DescribeDifference(const Bytes& actual, const Bytes& expected);

} // namespace bmp2jpg::test

Q_DECLARE_METATYPE(bmp2jpg::testdata::RgbImage)
