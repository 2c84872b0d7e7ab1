// Writes the fuzz seed corpus: a small picture in every layout the reader
// knows, a few damaged ones, and inputs that are not bitmaps at all.

#include "codec/BmpToJpg.h"
#include "codec/FileBytes.h"
#include "testdata/BmpWriter.h"
#include "testdata/PhotoLikeImage.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

namespace {

using namespace bmp2jpg::testdata;
using Bytes = std::vector<std::uint8_t>;

class SeedFolder {
public:
    explicit SeedFolder(std::filesystem::path folder) : folder_(std::move(folder))
    {
        std::filesystem::create_directories(folder_);
    }

    void Add(const std::string& name, const Bytes& bytes) const { bmp2jpg::WriteFileBytes(folder_ / name, bytes); }

private:
    std::filesystem::path folder_;
};

void WriteSeeds(const SeedFolder& seeds)
{
    // Odd sizes, so that rows need padding.
    const RgbImage photo = MakePhotoLikeImage(13, 7, 1);
    const struct {
        const char* name;
        DirectFormat format;
        InfoHeader header;
    } direct[] = {
        {"bgr24.bmp", DirectFormat::Bgr24, InfoHeader::Windows},
        {"bgrx32.bmp", DirectFormat::Bgrx32, InfoHeader::Windows},
        {"rgb555.bmp", DirectFormat::Rgb555, InfoHeader::Windows},
        {"rgb565-40.bmp", DirectFormat::Rgb565, InfoHeader::Windows},
        {"rgb565-56.bmp", DirectFormat::Rgb565, InfoHeader::WindowsV3},
        {"rgb101010-v5.bmp", DirectFormat::Rgb101010, InfoHeader::V5},
        {"os2-bgr24.bmp", DirectFormat::Bgr24, InfoHeader::Os2},
    };
    for (const auto& seed : direct)
        seeds.Add(seed.name, WriteBmp(photo, seed.format, {.header = seed.header}));
    seeds.Add("bgr24-topdown.bmp", WriteBmp(photo, DirectFormat::Bgr24, {.topDown = true}));
    seeds.Add("bgr24-gap.bmp", WriteBmp(photo, DirectFormat::Bgr24, {.header = InfoHeader::V5, .gapBeforePixels = 20}));

    const struct {
        const char* name;
        IndexedFormat format;
        unsigned bits;
        InfoHeader header;
    } indexed[] = {
        {"index1.bmp", IndexedFormat::Bits1, 1, InfoHeader::Windows},
        {"index4.bmp", IndexedFormat::Bits4, 4, InfoHeader::Windows},
        {"index8.bmp", IndexedFormat::Bits8, 8, InfoHeader::Windows},
        {"os2-index8.bmp", IndexedFormat::Bits8, 8, InfoHeader::Os2},
        {"rle4.bmp", IndexedFormat::Rle4, 4, InfoHeader::Windows},
        {"rle8.bmp", IndexedFormat::Rle8, 8, InfoHeader::Windows},
    };
    for (const auto& seed : indexed)
        seeds.Add(seed.name, WriteBmp(Quantize(photo, seed.bits), seed.format, {.header = seed.header}));

    IndexedImage shortTable = Quantize(photo, 8);
    shortTable.palette.resize(9);
    seeds.Add("index8-short-table.bmp", WriteBmp(shortTable, IndexedFormat::Bits8));

    const Bytes bgr24 = WriteBmp(photo, DirectFormat::Bgr24);
    seeds.Add("bgr24-cut.bmp", Bytes(bgr24.begin(), bgr24.end() - 50));
    seeds.Add("empty.bin", {});
    seeds.Add("png-signature.bin", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
    seeds.Add("picture.jpg", bmp2jpg::ConvertBmpBytes(bgr24).value());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    try {
        WriteSeeds(SeedFolder(argv[1]));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
