#pragma once

#include <QString>

// True for a file name that Windows takes for a device (CON, PRN, AUX, NUL,
// COM0-9, LPT0-9, in any case) whatever follows its first dot: "con.x.bmp"
// opens the console, not a file.
bool IsWindowsDeviceName(const QString& name);
