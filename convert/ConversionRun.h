#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <functional>

class TDataModule1;

// The folder that holds the running executable: the root of the scratch folders.
std::filesystem::path ExeFolder();

// A file name for a row's scratch files that stays inside its folder and is
// valid on every platform, whatever the row's identifier holds.
QString ScratchFileName(const QString& identifier);

// The conversion of every stored picture of table BAC1, column BAC02 then
// BAC04, in place on the connection of the data module. Values that do not
// change (anything that is not a readable bitmap) are not written back.
class TConversionRun {
public:
    TConversionRun(TDataModule1& dataModule, std::filesystem::path scratchRoot,
                   std::function<void()> pictureDone);

    void Run();

private:
    void RunPass(const QString& column, const QString& statement);
    void ConvertCurrentRecord(const QString& column, const std::filesystem::path& bmpPath,
                              const std::filesystem::path& jpgPath);
    void ReadFileIntoBuffer(const std::filesystem::path& path);

    TDataModule1& DataModule;
    std::filesystem::path ScratchRoot;
    std::function<void()> PictureDone;
    QByteArray Buffer;
};
