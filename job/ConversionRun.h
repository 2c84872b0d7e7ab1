#pragma once

#include "job/PictureWalk.h"

#include <filesystem>
#include <functional>

class TDataModule1;

// The folder that holds the running executable: the root of the scratch folders.
std::filesystem::path ExeFolder();

// The desktop's way to convert a picture: through a scratch BMP and JPG file
// named after the row, under <root>/<column>/bmp and <root>/<column>/jpg, one
// picture at a time.
class ScratchFileConverter : public PictureConverter {
public:
    explicit ScratchFileConverter(std::filesystem::path scratchRoot);

    int capacity() const override { return 0; }
    void beginPass(const QString& column) override;
    void start(const QString& rowName, QByteArray bmp) override;
    std::optional<QByteArray> finish() override;
    void abandon() override;

private:
    std::filesystem::path scratchRoot_;
    std::filesystem::path bmpFolder_;
    std::filesystem::path jpgFolder_;
    std::optional<QByteArray> result_;
};

// The conversion of every stored picture of table BAC1, column BAC02 then
// BAC04, in place on the connection of the data module, through scratch files.
class TConversionRun {
public:
    // `picturesUndone`: the engine rolled back that many converted pictures.
    TConversionRun(TDataModule1& dataModule, std::filesystem::path scratchRoot, std::function<void()> pictureDone,
                   std::function<void(int pictures)> picturesUndone = {});

    void run();

private:
    ScratchFileConverter converter_;
    PictureWalk walk_;
};
