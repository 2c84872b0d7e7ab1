#include "bench/job/DesktopJob.h"

#include "bench/job/PeakMemory.h"
#include "job/ConversionRun.h"
#include "data/UDataModule.h"

#include <QElapsedTimer>

#include <cstdio>

int RunDesktopJob(const QString& server, const QString& database)
{
    TDataModule1 dataModule;
    dataModule.DataSource = server;
    dataModule.UserID = QStringLiteral("bench");
    dataModule.InitialCatalog = database;
    if (!dataModule.Connect())
        return 1;
    QElapsedTimer timer;
    timer.start();
    TConversionRun(dataModule, ExeFolder(), [] {}).run();
    std::printf("%f %f\n", double(timer.nsecsElapsed()) / 1e9, double(PeakResidentBytes()) / (1 << 20));
    return 0;
}
