#pragma once

// The BMP-to-JPEG conversion of one stored picture. Nothing here depends on
// Qt, and nothing keeps state between calls: any number of threads may
// convert at once.

#include "codec/BmpDecoder.h"
#include "codec/JpegEncoder.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace bmp2jpg {

enum class ConversionOutcome { Encoded, Copied };

// The JPEG encoding of a BMP file held in memory, or nullopt when the bytes
// are not a readable bitmap or fail to encode (the caller then keeps them as
// they are). An empty file is an empty picture and encodes to no bytes.
std::optional<std::vector<std::uint8_t>> ConvertBmpBytes(std::span<const std::uint8_t> bmp);

// Writes the JPEG encoding of the bitmap in bmpPath to jpgPath, or else an
// exact copy of bmpPath, replacing any file there, in one write each. An
// empty bmpPath gives an empty jpgPath and counts as Encoded. When not even
// the copy can be made (bmpPath unreadable, disk full) it throws
// std::runtime_error naming both files and leaves no file at jpgPath, so a
// partial or earlier file can never be taken for the result.
ConversionOutcome BmpToJpg(const std::filesystem::path& bmpPath, const std::filesystem::path& jpgPath);

} // namespace bmp2jpg
