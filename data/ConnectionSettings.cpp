#include "data/ConnectionSettings.h"

QString TrimmedSetting(const QString& text)
{
    auto removable = [](QChar c) { return c == u' ' || c.category() == QChar::Other_Control; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && removable(text[begin]))
        ++begin;
    while (end > begin && removable(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}
