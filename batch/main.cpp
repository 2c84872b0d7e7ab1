#include "batch/BatchMain.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    return RunBatch(application.arguments().mid(1), OdbcDriverProfile::SqlServer());
}
