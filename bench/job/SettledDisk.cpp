#include "bench/job/SettledDisk.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

void SettleDisk()
{
#if !defined(_WIN32)
    sync();
#endif
}
