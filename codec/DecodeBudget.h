#pragma once

#include <cstdint>

namespace bmp2jpg {

// The most decoded pixel bytes (width * height * 3) a file may declare: 64
// per byte of the file plus 16 MiB. Every genuine uncompressed bitmap fits
// (a 1-bit one needs 24 bytes per file byte) with room for cut-short files;
// only run-length data can legitimately go further, and then only within the
// margin. A short value that declares a huge picture is therefore copied
// through at once instead of taking gigabytes or minutes to encode.
inline constexpr std::uint64_t kDecodedBytesPerFileByte = 64;
inline constexpr std::uint64_t kDecodedBytesMargin = std::uint64_t{16} << 20;

// Throws BmpReadError when the picture exceeds the budget of a file of
// fileSize bytes.
void CheckDecodeBudget(std::uint32_t width, std::uint32_t height, std::uint64_t fileSize);

} // namespace bmp2jpg
