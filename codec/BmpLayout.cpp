#include "codec/BmpLayout.h"

#include "codec/BmpErrors.h"
#include "codec/CheckedMath.h"
#include "codec/DecodeBudget.h"
#include "codec/LittleEndianReader.h"
#include "codec/Signatures.h"

#include <algorithm>
#include <bit>

namespace bmp2jpg {
namespace {

constexpr std::uint64_t kFileHeaderBytes = 14;
constexpr std::uint64_t kDataOffsetField = 10;
constexpr std::uint32_t kOs2HeaderBytes = 12;
constexpr std::uint32_t kWindowsHeaderBytes = 40;
// From this header length on, the colour masks are fields of the header.
constexpr std::uint32_t kHeaderWithMasksBytes = 52;
constexpr std::uint64_t kMasksBytes = 12;

// The fields of either header form that reading needs.
struct InfoHeader {
    std::uint32_t length = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t coloursUsed = 0;
    std::uint64_t paletteEntryBytes = 4;
};

InfoHeader ReadInfoHeader(const LittleEndianReader& in)
{
    InfoHeader header;
    header.length = in.U32(kFileHeaderBytes);
    const std::uint64_t at = kFileHeaderBytes + 4;
    if (header.length == kOs2HeaderBytes) {
        header.width = in.U16(at);
        header.height = in.U16(at + 2);
        header.planes = in.U16(at + 4);
        header.bitCount = in.U16(at + 6);
        header.paletteEntryBytes = 3;
        return header;
    }
    if (header.length < kWindowsHeaderBytes)
        FailInvalidBitmap();
    header.width = in.I32(at);
    header.height = in.I32(at + 4);
    header.planes = in.U16(at + 8);
    header.bitCount = in.U16(at + 10);
    header.compression = in.U32(at + 12);
    header.imageSize = in.U32(at + 16);
    header.coloursUsed = in.U32(at + 28);
    return header;
}

BmpCompression CompressionOf(const InfoHeader& header, bool bottomUp)
{
    const std::uint16_t bits = header.bitCount;
    switch (header.compression) {
    case 0:
        if (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32)
            return BmpCompression::None;
        break;
    case 1: // Windows takes run-length data only bottom-up.
        if (bits == 8 && bottomUp)
            return BmpCompression::Rle8;
        break;
    case 2:
        if (bits == 4 && bottomUp)
            return BmpCompression::Rle4;
        break;
    case 3:
        if (bits == 16 || bits == 32)
            return BmpCompression::BitFields;
        break;
    default:
        break;
    }
    FailInvalidBitmap();
}

std::array<std::uint32_t, 3> DefaultMasks(std::uint16_t bitCount)
{
    if (bitCount == 16)
        return {0x7C00, 0x03E0, 0x001F};
    return {0x00FF0000, 0x0000FF00, 0x000000FF};
}

// A channel is one run of bits inside the pixel, or absent.
bool IsUsableMask(std::uint32_t mask, std::uint16_t bitCount)
{
    if (bitCount < 32 && (mask >> bitCount) != 0)
        return false;
    if (mask == 0)
        return true;
    const std::uint32_t run = mask >> std::countr_zero(mask);
    return (run & (run + 1)) == 0;
}

// Fills the palette and returns where the colour table ends. Entries past the
// 256th are skipped.
std::uint64_t ReadPalette(const LittleEndianReader& in, const InfoHeader& header, std::uint64_t tableStart,
    BmpPalette& palette)
{
    const std::uint64_t entries = header.coloursUsed != 0 ? header.coloursUsed
        : header.bitCount <= 8                           ? std::uint64_t{1} << header.bitCount
                                                         : 0;
    const auto table = in.Bytes(tableStart, CheckedMul(entries, header.paletteEntryBytes));
    const std::size_t used = static_cast<std::size_t>(std::min<std::uint64_t>(entries, palette.size()));
    const std::size_t step = static_cast<std::size_t>(header.paletteEntryBytes);
    for (std::size_t i = 0; i < used; ++i)
        palette[i] = {table[i * step], table[i * step + 1], table[i * step + 2], 0};
    return tableStart + table.size();
}

} // namespace

BmpLayout ReadBmpLayout(std::span<const std::uint8_t> file)
{
    if (file.size() < kFileHeaderBytes)
        FailStreamRead();
    if (!std::equal(kBmpSignature.begin(), kBmpSignature.end(), file.begin()))
        FailInvalidBitmap();
    const LittleEndianReader in(file);
    const InfoHeader header = ReadInfoHeader(in);
    if (header.planes != 1 || header.width <= 0 || header.height == 0)
        FailInvalidBitmap();

    BmpLayout layout;
    layout.width = static_cast<std::uint32_t>(header.width);
    layout.height = static_cast<std::uint32_t>(header.height < 0 ? -header.height : header.height);
    layout.bottomUp = header.height > 0;
    CheckDecodeBudget(layout.width, layout.height, file.size());
    layout.bitCount = header.bitCount;
    layout.compression = CompressionOf(header, layout.bottomUp);

    std::uint64_t tableStart = kFileHeaderBytes + header.length;
    layout.colourMasks = DefaultMasks(header.bitCount);
    if (layout.compression == BmpCompression::BitFields) {
        const bool masksInHeader = header.length >= kHeaderWithMasksBytes;
        const std::uint64_t masksAt = masksInHeader ? kFileHeaderBytes + kWindowsHeaderBytes : tableStart;
        layout.colourMasks = {in.U32(masksAt), in.U32(masksAt + 4), in.U32(masksAt + 8)};
        if (!masksInHeader)
            tableStart += kMasksBytes;
        for (const std::uint32_t mask : layout.colourMasks)
            if (!IsUsableMask(mask, header.bitCount))
                FailInvalidBitmap();
    }
    const std::uint64_t tableEnd = ReadPalette(in, header, tableStart, layout.palette);

    // Honour the data offset where it is plausible: some writers leave a gap
    // or put a colour profile between the table and the pixels.
    const std::uint32_t dataOffset = in.U32(kDataOffsetField);
    const std::uint64_t pixelStart = dataOffset >= tableEnd && dataOffset < file.size() ? dataOffset : tableEnd;

    layout.rowStride = CheckedMul(CheckedAdd(CheckedMul(layout.width, layout.bitCount), 31) / 32, 4);
    const std::uint64_t storedBytes = CheckedMul(layout.rowStride, layout.height);
    const bool runLength = layout.compression == BmpCompression::Rle8 || layout.compression == BmpCompression::Rle4;
    std::uint64_t length = header.imageSize == 0 || header.compression == 0 ? storedBytes : header.imageSize;
    if (!runLength)
        length = std::min(length, storedBytes);
    length = std::min<std::uint64_t>(length, file.size() - pixelStart);
    layout.pixels = file.subspan(static_cast<std::size_t>(pixelStart), static_cast<std::size_t>(length));
    return layout;
}

} // namespace bmp2jpg
