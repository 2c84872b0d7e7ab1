#include "batch/TerminalText.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

bool IsWide(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0x303E) || (u >= 0x3041 && u <= 0x33FF) ||
           (u >= 0x3400 && u <= 0x4DBF) || (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xA000 && u <= 0xA4CF) ||
           (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F) ||
           (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6) || c.isSurrogate();
}

// Chinese typesetting starts no line with these...
bool IsClosing(QChar c)
{
    return QStringView(u"，。、；：！？）」』》〉”’,.;:!?)]").contains(c);
}

// ...and ends none with these.
bool IsOpening(QChar c)
{
    return QStringView(u"（「『《〈“‘([").contains(c);
}

// Where a line may break: a unit of text and whether a space stood before it.
struct Unit {
    QString text;
    bool spaceBefore;
};

std::vector<Unit> Units(const QString& line)
{
    std::vector<Unit> units;
    bool space = true;
    for (const QChar c : line) {
        if (c == u' ') {
            space = true;
            continue;
        }
        const bool breakHere = space || units.empty() ||
                               ((IsWide(c) || IsWide(units.back().text.back())) && !IsClosing(c) &&
                                !IsOpening(units.back().text.back()));
        if (breakHere)
            units.push_back({QString(c), space && !units.empty()});
        else
            units.back().text += c;
        space = false;
    }
    return units;
}

}  // namespace

int TerminalWidth(const QString& text)
{
    int width = 0;
    for (const QChar c : text)
        width += IsWide(c) ? 2 : 1;
    return width;
}

QString Padded(const QString& text, int width)
{
    const QString spaces(std::max(0, std::abs(width) - TerminalWidth(text)), u' ');
    return width < 0 ? text + spaces : spaces + text;
}

QStringList Wrapped(const QString& text, int width)
{
    QStringList lines;
    for (const QString& paragraph : text.split(u'\n')) {
        QString line;
        int lineWidth = 0;
        for (const Unit& unit : Units(paragraph)) {
            const QString gap = unit.spaceBefore && !line.isEmpty() ? QStringLiteral(" ") : QString();
            const int unitWidth = TerminalWidth(unit.text);
            if (!line.isEmpty() && lineWidth + gap.size() + unitWidth > width) {
                lines.append(line);
                line = unit.text;
                lineWidth = unitWidth;
                continue;
            }
            line += gap + unit.text;
            lineWidth += int(gap.size()) + unitWidth;
        }
        lines.append(line);
    }
    return lines;
}
