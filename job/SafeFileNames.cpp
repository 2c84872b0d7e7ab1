#include "job/SafeFileNames.h"

#include "job/BackupManifest.h"

namespace {

// Identifiers can be long; a component must stay well under 255 bytes.
constexpr qsizetype kMaxScratchNameLength = 64;
constexpr int kLongestBackupName = 120;

// True for a name Windows takes for a device (CON, PRN, AUX, NUL, COM0-9,
// LPT0-9, in any case) whatever follows its first dot: "con.x.bmp" opens the
// console, not a file.
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

QString Escaped(char c)
{
    return QStringLiteral("%%1").arg(uchar(c), 2, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

QString ScratchFileName(const QString& identifier)
{
    QString name;
    for (const QChar c : identifier.left(kMaxScratchNameLength)) {
        const bool safe = c.isLetterOrNumber() || c == u'-' || c == u'_';
        name += safe ? c : QChar(u'_');
    }
    if (name.isEmpty() || IsWindowsDeviceName(name))
        name.prepend(u'_');
    return name;
}

QString BackupFileName(const QString& key)
{
    // Upper case is escaped too, so names differ where case is ignored.
    QString name;
    for (const char c : key.toUtf8()) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '=' || c == '-' || c == '_' || c == '.')
            name += QLatin1Char(c);
        else
            name += Escaped(c);
    }
    if (IsWindowsDeviceName(name))
        name.replace(0, 1, Escaped(name[0].toLatin1()));
    if (name.size() > kLongestBackupName)
        name = name.left(kLongestBackupName - 17) + u'~' + Sha256Hex(key.toUtf8()).left(16);
    return name;
}
