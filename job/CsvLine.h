#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// One record of comma-separated values (RFC 4180): fields holding a comma, a
// quote or a line break are quoted, quotes doubled. Ends with "\n".
// A spreadsheet runs a field starting with = + - @, a tab or a carriage
// return as a formula: such a field, and one starting with ', is written
// after a '. A field that is not valid text (see ExactText) is written '\x
// and the hexadecimal of its bytes, or, where it has none, '\u and that of
// its UTF-16 code units.
QString CsvLine(const QStringList& fields);
// The records of a text of such lines, ended by "\n" or "\r\n", each field
// as it was given to CsvLine. A last record without its line end was cut
// short by a kill while it was written, and is left out.
std::vector<QStringList> ParseCsv(const QString& text);
