#pragma once

#include <QString>

#include <filesystem>

// One row's scratch BMP and JPG files, named after the row and created for
// this run alone: no other process, another copy of the program included, can
// open the same names while they exist. Both are deleted on every path.
class RowScratchFiles {
public:
    // Throws "Cannot create file ..." when a file cannot be created.
    RowScratchFiles(const std::filesystem::path& bmpFolder, const std::filesystem::path& jpgFolder,
                    const QString& identifier);
    ~RowScratchFiles();
    RowScratchFiles(const RowScratchFiles&) = delete;
    RowScratchFiles& operator=(const RowScratchFiles&) = delete;

    const std::filesystem::path& Bmp() const { return bmpPath_; }
    const std::filesystem::path& Jpg() const { return jpgPath_; }

private:
    std::filesystem::path bmpPath_;
    std::filesystem::path jpgPath_;
};
