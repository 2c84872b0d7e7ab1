#include "bench/job/PeakMemory.h"

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

std::uint64_t PeakResidentBytes()
{
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS counters{};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return counters.PeakWorkingSetSize;
    return 0;
#else
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
#if defined(__APPLE__)
    return std::uint64_t(usage.ru_maxrss);
#else
    return std::uint64_t(usage.ru_maxrss) * 1024;
#endif
#endif
}
