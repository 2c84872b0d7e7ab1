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

    int Capacity() const override { return 0; }
    void BeginPass(const QString& column) override;
    void Start(const QString& rowName, QByteArray bmp) override;
    std::optional<QByteArray> Finish() override;
    void Abandon() override;

private:
    std::filesystem::path ScratchRoot;
    std::filesystem::path BmpFolder;
    std::filesystem::path JpgFolder;
    std::optional<QByteArray> Result;
};

// The conversion of every stored picture of table BAC1, column BAC02 then
// BAC04, in place on the connection of the data module, through scratch files.
class TConversionRun {
public:
    // `picturesUndone`: the engine rolled back that many converted pictures.
    TConversionRun(TDataModule1& dataModule, std::filesystem::path scratchRoot, std::function<void()> pictureDone,
                   std::function<void(int pictures)> picturesUndone = {});

    void Run();

private:
    ScratchFileConverter Converter;
    PictureWalk Walk;
};
