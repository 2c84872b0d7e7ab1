#pragma once

#include <QString>
#include <QStringList>

// Text laid out for a terminal, where a Chinese character takes two columns.

// Columns the text takes: East Asian wide characters two, the rest one.
int TerminalWidth(const QString& text);

// The text with spaces to `width` columns, as QString::arg's field width
// does it: right-aligned for a positive width, left-aligned for a negative.
QString Padded(const QString& text, int width);

// The text in lines of at most `width` columns: broken at spaces (which go)
// and between wide characters, never inside a word of narrow ones nor
// before closing or after opening punctuation; "\n" breaks a line. A word
// wider than a line keeps a line of its own.
QStringList Wrapped(const QString& text, int width);
