#include "testdata/RleEncoder.h"

#include <stdexcept>

namespace bmp2jpg::testdata {
namespace {

constexpr std::size_t kLongestRun = 255;
// Shorter stretches of differing indices go out as runs of one.
constexpr std::size_t kShortestAbsoluteRun = 3;

class RowEncoder {
public:
    RowEncoder(std::vector<std::uint8_t>& out, bool fourBit) : out_(out), fourBit_(fourBit) {}

    void Encode(const std::uint8_t* row, std::size_t width)
    {
        std::size_t x = 0;
        while (x < width) {
            const std::size_t repeats = RepeatLength(row, x, width);
            if (repeats >= 2) {
                EmitRun(row[x], repeats);
                x += repeats;
                continue;
            }
            std::size_t length = 1;
            while (x + length < width && length < kLongestRun && RepeatLength(row, x + length, width) < 2)
                ++length;
            if (length < kShortestAbsoluteRun) {
                for (std::size_t i = 0; i < length; ++i)
                    EmitRun(row[x + i], 1);
            } else {
                EmitAbsolute(row + x, length);
            }
            x += length;
        }
    }

private:
    static std::size_t RepeatLength(const std::uint8_t* row, std::size_t x, std::size_t width)
    {
        std::size_t length = 1;
        while (x + length < width && length < kLongestRun && row[x + length] == row[x])
            ++length;
        return length;
    }

    void EmitRun(std::uint8_t index, std::size_t length)
    {
        out_.push_back(static_cast<std::uint8_t>(length));
        out_.push_back(fourBit_ ? static_cast<std::uint8_t>(index << 4 | index) : index);
    }

    void EmitAbsolute(const std::uint8_t* indices, std::size_t length)
    {
        out_.push_back(0);
        out_.push_back(static_cast<std::uint8_t>(length));
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < length; i += fourBit_ ? 2 : 1, ++bytes) {
            if (!fourBit_)
                out_.push_back(indices[i]);
            else
                out_.push_back(static_cast<std::uint8_t>(indices[i] << 4 | (i + 1 < length ? indices[i + 1] : 0)));
        }
        if (bytes % 2 != 0)
            out_.push_back(0);
    }

    std::vector<std::uint8_t>& out_;
    bool fourBit_;
};

} // namespace

std::vector<std::uint8_t> EncodeRle(const IndexedImage& image, unsigned bitsPerIndex)
{
    if (bitsPerIndex != 4 && bitsPerIndex != 8)
        throw std::invalid_argument("Run-length data has 4 or 8 bits per index");
    std::vector<std::uint8_t> out;
    RowEncoder encoder(out, bitsPerIndex == 4);
    for (std::uint32_t row = image.height; row-- > 0;) {
        encoder.Encode(&image.indices[std::size_t{row} * image.width], image.width);
        out.push_back(0);
        out.push_back(row == 0 ? 1 : 0);
    }
    return out;
}

} // namespace bmp2jpg::testdata
