#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace bmp2jpg {

// A path as UTF-8 text, for messages.
std::string PathText(const std::filesystem::path& path);

// The whole file in one buffer. Throws std::runtime_error naming the file.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);

// Creates or truncates the file and writes all bytes in one write. A write
// that does not store every byte throws std::runtime_error naming the file.
void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Deletes a regular file if there is one; failures are ignored.
void RemoveFileIfPresent(const std::filesystem::path& path) noexcept;

} // namespace bmp2jpg
