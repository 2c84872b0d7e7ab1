#include "job/WindowsDeviceName.h"

bool IsWindowsDeviceName(const QString& name)
{
    const QString base = name.section(u'.', 0, 0).toUpper();
    if (base == QLatin1String("CON") || base == QLatin1String("PRN") || base == QLatin1String("AUX") ||
        base == QLatin1String("NUL"))
        return true;
    // The ports take a digit, superscripts ¹²³ included.
    const bool port = base.size() == 4 && (base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT")));
    return port && (base[3].isDigit() || base[3] == QChar(0xB9) || base[3] == QChar(0xB2) || base[3] == QChar(0xB3));
}
