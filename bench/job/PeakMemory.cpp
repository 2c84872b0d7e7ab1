#include "bench/job/PeakMemory.h"

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#elif defined(__linux__)
#include <cstdio>
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
#elif defined(__linux__)
    // Not getrusage: its maximum carries over from the parent through fork
    // and exec, so a child would report a large parent's memory as its own.
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    char line[256];
    unsigned long long kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmHWM: %llu kB", &kib) == 1)
            break;
    }
    std::fclose(status);
    return std::uint64_t(kib) * 1024;
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
