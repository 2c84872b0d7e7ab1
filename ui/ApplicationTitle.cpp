#include "ui/ApplicationTitle.h"

#include <algorithm>

namespace ui {

QString ApplicationTitle(const QString& executablePath)
{
    // Both separators count, so a Windows path names its file on any platform.
    const qsizetype separator =
        std::max(executablePath.lastIndexOf(u'/'), executablePath.lastIndexOf(u'\\'));
    QString name = executablePath.mid(separator + 1);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    return name.left(1) + name.mid(1).toLower();
}

}  // namespace ui
