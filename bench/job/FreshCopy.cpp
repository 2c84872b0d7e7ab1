#include "bench/job/FreshCopy.h"

#include "bench/job/SettledDisk.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>

void FreshCopy(const QString& pristine, const QString& copy)
{
    QFile::remove(copy);
    if (!QFile::copy(pristine, copy)) {
        std::fprintf(stderr, "cannot copy %s to %s\n", qPrintable(pristine), qPrintable(copy));
        std::exit(1);
    }
    SettleDisk();
}
