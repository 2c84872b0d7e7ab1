// The conversion run without windows, in a process of its own, so tests can
// kill it or starve it of disk space: job_child <server folder> <database>.
#include "convert/ConversionRun.h"
#include "convert/ScratchRoot.h"
#include "data/UDataModule.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3)
        return 2;
    TDataModule1 dataModule;
    dataModule.DataSource = QString::fromLocal8Bit(argv[1]);
    dataModule.UserID = QStringLiteral("sa");
    dataModule.InitialCatalog = QString::fromLocal8Bit(argv[2]);
    if (!dataModule.Connect())
        return 3;
    try {
        TConversionRun(dataModule, ScratchRoot(), [] {}).Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
