// The conversion run without windows, in a process of its own, so tests can
// kill it or starve it of disk space: job_child <server folder> <database>.
#include "job/ConversionRun.h"
#include "job/ScratchRoot.h"
#include "data/UDataModule.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    // Not argv: on Windows it is in the ANSI code page, which may not hold a folder's name.
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3)
        return 2;
    TDataModule1 dataModule;
    dataModule.DataSource = arguments[1];
    dataModule.UserID = QStringLiteral("sa");
    dataModule.InitialCatalog = arguments[2];
    if (!dataModule.Connect())
        return 3;
    try {
        TConversionRun(dataModule, ScratchRoot(), [] {}).run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
