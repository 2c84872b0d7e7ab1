#pragma once

#include <QString>

#include <filesystem>

// Where the desktop tool keeps its four scratch folders. A copy run from its
// own folder (a build tree, a portable copy) keeps them beside the
// executable. An installed copy, an executable in <prefix>/bin beside
// <prefix>/share/bmp2jpg, keeps them in the user's cache folder: the program
// folder is not the user's to write, and as root it would be littered.
std::filesystem::path ScratchRoot();
// The same for an executable in `exeFolder`, with the user's cache folder
// `cacheFolder` (the platform's standard location).
std::filesystem::path ScratchRootFor(const QString& exeFolder, const QString& cacheFolder);
