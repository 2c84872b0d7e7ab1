#include "codec/BmpToJpg.h"

#include "codec/FileBytes.h"

#include <exception>
#include <stdexcept>
#include <string>

namespace bmp2jpg {

std::optional<std::vector<std::uint8_t>> ConvertBmpBytes(std::span<const std::uint8_t> bmp)
{
    try {
        const auto picture = DecodeBmp(bmp);
        return EncodeJpeg(*picture);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

ConversionOutcome BmpToJpg(const std::filesystem::path& bmpPath, const std::filesystem::path& jpgPath)
{
    try {
        const FileContents contents = ReadFileBytes(bmpPath);
        const std::span<const std::uint8_t> bmp = contents.Bytes();
        if (const auto jpeg = ConvertBmpBytes(bmp)) {
            try {
                WriteFileBytes(jpgPath, *jpeg);
                return ConversionOutcome::Encoded;
            } catch (const std::exception&) {
                // The copy below replaces whatever the failed write left.
            }
        }
        WriteFileBytes(jpgPath, bmp);
        return ConversionOutcome::Copied;
    } catch (const std::exception& error) {
        RemoveFileIfPresent(jpgPath);
        throw std::runtime_error("Cannot convert or copy \"" + PathText(bmpPath) + "\" to \"" + PathText(jpgPath)
            + "\": " + error.what());
    }
}

} // namespace bmp2jpg
