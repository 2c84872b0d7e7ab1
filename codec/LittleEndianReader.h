#pragma once

#include <cstdint>
#include <span>

namespace bmp2jpg {

// Bounds-checked little-endian field reads from a whole file held in memory.
// Reading past the end fails like a short file does.
class LittleEndianReader {
public:
    explicit LittleEndianReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::span<const std::uint8_t> Bytes(std::uint64_t offset, std::uint64_t count) const;
    std::uint16_t U16(std::uint64_t offset) const;
    std::uint32_t U32(std::uint64_t offset) const;
    std::int32_t I32(std::uint64_t offset) const;

private:
    std::span<const std::uint8_t> bytes_;
};

} // namespace bmp2jpg
