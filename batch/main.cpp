#include "batch/BatchMain.h"
#include "batch/Translation.h"
#include "codec/MemoryReuse.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    KeepFreedMemoryForReuse();
    QCoreApplication application(argc, argv);
    // Here, not in RunBatch: tests that call RunBatch in-process read English.
    InstallTranslation();
    return RunBatch(application.arguments().mid(1), OdbcDriverProfile::SqlServer());
}
