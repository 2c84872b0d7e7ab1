#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

// True when this Windows program runs under Wine, where its ODBC calls reach
// the host's unixODBC drivers: what they read from the environment is the
// Unix process's, not what the program sets with its own calls.
inline bool UnderWine()
{
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
