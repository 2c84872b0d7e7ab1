#include "batch/BatchMain.h"
#include "codec/MemoryReuse.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    KeepFreedMemoryForReuse();
    QCoreApplication application(argc, argv);
    return RunBatch(application.arguments().mid(1), OdbcDriverProfile::SqlServer());
}
