#pragma once

#include <QByteArray>

#include <cstdint>

// Stored values as the image table holds them, made from photo-like pictures
// of the given size and seed.
namespace stored {

QByteArray Bmp24(std::uint32_t width, std::uint32_t height, std::uint32_t seed);
QByteArray Bmp8(std::uint32_t width, std::uint32_t height, std::uint32_t seed);
QByteArray Rle8(std::uint32_t width, std::uint32_t height, std::uint32_t seed);
// A JPEG file, as a value that was converted before.
QByteArray Jpeg(std::uint32_t width, std::uint32_t height, std::uint32_t seed);

}  // namespace stored
