#include "testdata/IndexedImage.h"

#include <array>
#include <stdexcept>

namespace bmp2jpg::testdata {
namespace {

// The palette of `levels` red x green x blue steps, red slowest.
struct ColourCube {
    std::array<unsigned, 3> levels;

    std::vector<Rgb> Palette() const
    {
        std::vector<Rgb> palette;
        for (unsigned r = 0; r < levels[0]; ++r)
            for (unsigned g = 0; g < levels[1]; ++g)
                for (unsigned b = 0; b < levels[2]; ++b)
                    palette.push_back({Level(r, 0), Level(g, 1), Level(b, 2)});
        return palette;
    }

    std::uint8_t Nearest(const Rgb& colour) const
    {
        return static_cast<std::uint8_t>(
            (Step(colour.r, 0) * levels[1] + Step(colour.g, 1)) * levels[2] + Step(colour.b, 2));
    }

private:
    std::uint8_t Level(unsigned step, unsigned channel) const
    {
        return static_cast<std::uint8_t>(step * 255 / (levels[channel] - 1));
    }

    unsigned Step(std::uint8_t value, unsigned channel) const
    {
        const unsigned last = levels[channel] - 1;
        return (value * last + 127) / 255;
    }
};

constexpr Rgb kDarkTone{25, 30, 60};
constexpr Rgb kLightTone{235, 220, 190};

} // namespace

IndexedImage Quantize(const RgbImage& image, unsigned bitsPerIndex)
{
    IndexedImage indexed{image.width, image.height, {}, {}};
    indexed.indices.reserve(image.pixels.size());
    if (bitsPerIndex == 1) {
        indexed.palette = {kDarkTone, kLightTone};
        for (const Rgb& p : image.pixels)
            indexed.indices.push_back(p.r * 3 + p.g * 6 + p.b >= 128 * 10 ? 1 : 0);
        return indexed;
    }
    if (bitsPerIndex != 4 && bitsPerIndex != 8)
        throw std::invalid_argument("Quantize takes 1, 4 or 8 bits per index");
    const ColourCube cube{bitsPerIndex == 4 ? std::array<unsigned, 3>{2, 4, 2} : std::array<unsigned, 3>{6, 7, 6}};
    indexed.palette = cube.Palette();
    for (const Rgb& p : image.pixels)
        indexed.indices.push_back(cube.Nearest(p));
    return indexed;
}

RgbImage Expand(const IndexedImage& image)
{
    RgbImage expanded(image.width, image.height);
    for (std::size_t i = 0; i < image.indices.size(); ++i)
        if (image.indices[i] < image.palette.size())
            expanded.pixels[i] = image.palette[image.indices[i]];
    return expanded;
}

} // namespace bmp2jpg::testdata
