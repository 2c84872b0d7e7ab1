#include "job/ScratchRoot.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

std::filesystem::path ScratchRootFor(const QString& exeFolder, const QString& cacheFolder)
{
    const QDir exe(exeFolder);
    const bool installed = exe.dirName() == QLatin1String("bin") && exe.exists(QStringLiteral("../share/bmp2jpg"));
    const QString root = installed && !cacheFolder.isEmpty() ? QDir(cacheFolder).filePath(QStringLiteral("bmp2jpg"))
                                                              : exe.absolutePath();
    return std::filesystem::path(root.toStdU16String());
}

std::filesystem::path ScratchRoot()
{
    return ScratchRootFor(QCoreApplication::applicationDirPath(),
                          QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation));
}
