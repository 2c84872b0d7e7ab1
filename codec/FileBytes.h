#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace bmp2jpg {

// A path as UTF-8 text, for messages.
std::string PathText(const std::filesystem::path& path);

// A file that could not be created or written. what() names the file; the
// system's error number (errno, GetLastError() on Windows) is kept apart so
// that a caller can word the reason as it must.
class FileWriteError : public std::runtime_error {
public:
    enum class Step { Create, Write };
    FileWriteError(Step step, const std::filesystem::path& path, int systemError);

    Step step() const noexcept { return step_; }
    int systemError() const noexcept { return systemError_; }

private:
    Step step_;
    int systemError_;
};

// A whole file in one buffer. The buffer is not cleared before the read
// fills it: for a large bitmap that would cost a twentieth of its encoding.
class FileContents {
public:
    explicit FileContents(std::size_t size)
        : data_(std::make_unique_for_overwrite<std::uint8_t[]>(size))
        , size_(size)
    {
    }

    std::span<std::uint8_t> Bytes() noexcept { return {data_.get(), size_}; }
    std::span<const std::uint8_t> Bytes() const noexcept { return {data_.get(), size_}; }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_;
};

// Throws std::runtime_error naming the file.
FileContents ReadFileBytes(const std::filesystem::path& path);

// Creates the file or writes over it, cutting what is left. Unbuffered, so a
// full disk shows at the write that hits it. Throws FileWriteError.
void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Deletes a regular file if there is one; failures are ignored.
void RemoveFileIfPresent(const std::filesystem::path& path) noexcept;

} // namespace bmp2jpg
