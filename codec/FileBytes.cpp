#include "codec/FileBytes.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <stdexcept>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace bmp2jpg {

namespace {

std::string WriteErrorText(FileWriteError::Step step, const std::filesystem::path& path)
{
    return (step == FileWriteError::Step::Create ? "Cannot create file \"" : "Cannot write file \"") + PathText(path)
        + "\"";
}

#ifdef _WIN32

class OpenFile {
public:
    explicit OpenFile(const std::filesystem::path& path)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~OpenFile()
    {
        if (opened())
            CloseHandle(handle_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool opened() const { return handle_ != INVALID_HANDLE_VALUE; }
    static int lastError() { return static_cast<int>(GetLastError()); }

    // The count written, or -1.
    long long write(const std::uint8_t* data, std::size_t size)
    {
        // WriteFile takes a DWORD count.
        const DWORD step = static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30));
        DWORD written = 0;
        return WriteFile(handle_, data, step, &written, nullptr) ? static_cast<long long>(written) : -1;
    }
    bool cutTo(std::size_t size)
    {
        LARGE_INTEGER current{};
        if (!GetFileSizeEx(handle_, &current))
            return false;
        if (static_cast<unsigned long long>(current.QuadPart) <= size)
            return true;
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(size);
        return SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle_);
    }
    bool close()
    {
        const bool closed = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

#else

class OpenFile {
public:
    explicit OpenFile(const std::filesystem::path& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {}
    ~OpenFile()
    {
        if (opened())
            ::close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool opened() const { return fd_ >= 0; }
    static int lastError() { return errno; }

    // The count written, or -1.
    long long write(const std::uint8_t* data, std::size_t size)
    {
        for (;;) {
            const ssize_t written = ::write(fd_, data, size);
            if (written >= 0 || errno != EINTR)
                return written;
        }
    }
    bool cutTo(std::size_t size)
    {
        struct stat status {};
        if (::fstat(fd_, &status) != 0)
            return false;
        return static_cast<std::uintmax_t>(status.st_size) <= size || ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
    }
    bool close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_;
};

#endif

} // namespace

std::string PathText(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

FileWriteError::FileWriteError(Step step, const std::filesystem::path& path, int systemError)
    : std::runtime_error(WriteErrorText(step, path))
    , step_(step)
    , systemError_(systemError)
{
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
    // Written over and cut after, not truncated at the open: ext4 writes a
    // file truncated to nothing back to the disk when it is closed, which
    // made each scratch file a disk write and its deletion a discard.
    OpenFile file(path);
    if (!file.opened())
        throw FileWriteError(FileWriteError::Step::Create, path, OpenFile::lastError());
    // A short write says nothing; writing on gives the system's reason.
    for (std::size_t written = 0; written < bytes.size();) {
        const long long step = file.write(bytes.data() + written, bytes.size() - written);
        if (step <= 0)
            throw FileWriteError(FileWriteError::Step::Write, path, OpenFile::lastError());
        written += static_cast<std::size_t>(step);
    }
    if (!file.cutTo(bytes.size()) || !file.close())
        throw FileWriteError(FileWriteError::Step::Write, path, OpenFile::lastError());
}

void RemoveFileIfPresent(const std::filesystem::path& path) noexcept
{
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error))
        std::filesystem::remove(path, error);
}

} // namespace bmp2jpg
