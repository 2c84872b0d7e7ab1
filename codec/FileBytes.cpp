#include "codec/FileBytes.h"

#include <fstream>
#include <stdexcept>

namespace bmp2jpg {

std::string PathText(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

FileContents ReadFileBytes(const std::filesystem::path& path)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    std::ifstream in(path, std::ios::binary);
    if (error || !in)
        throw std::runtime_error("Cannot open file \"" + PathText(path) + "\"");
    FileContents contents(static_cast<std::size_t>(size));
    const auto bytes = contents.Bytes();
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::uintmax_t>(in.gcount()) != size)
        throw std::runtime_error("Cannot read file \"" + PathText(path) + "\"");
    return contents;
}

void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes)
{
    // An existing file is written over and cut after, not truncated at the
    // open: ext4 writes a file truncated to nothing back to the disk when it
    // is closed, which made each scratch file a disk write.
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    if (!out)
        out.open(path, std::ios::binary | std::ios::out | std::ios::trunc);
    if (!out)
        throw std::runtime_error("Cannot create file \"" + PathText(path) + "\"");
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    std::error_code error;
    if (out && std::filesystem::file_size(path, error) > bytes.size())
        std::filesystem::resize_file(path, bytes.size(), error);
    if (!out || error)
        throw std::runtime_error("Cannot write file \"" + PathText(path) + "\"");
}

void RemoveFileIfPresent(const std::filesystem::path& path) noexcept
{
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error))
        std::filesystem::remove(path, error);
}

} // namespace bmp2jpg
