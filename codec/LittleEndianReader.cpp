#include "codec/LittleEndianReader.h"

#include "codec/BmpErrors.h"

namespace bmp2jpg {

std::span<const std::uint8_t> LittleEndianReader::Bytes(std::uint64_t offset, std::uint64_t count) const
{
    if (offset > bytes_.size() || count > bytes_.size() - offset)
        FailStreamRead();
    return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));
}

std::uint16_t LittleEndianReader::U16(std::uint64_t offset) const
{
    const auto b = Bytes(offset, 2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t LittleEndianReader::U32(std::uint64_t offset) const
{
    const auto b = Bytes(offset, 4);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8)
        | (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::int32_t LittleEndianReader::I32(std::uint64_t offset) const
{
    // Two's complement conversion is well defined since C++20.
    return static_cast<std::int32_t>(U32(offset));
}

} // namespace bmp2jpg
