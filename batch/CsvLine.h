#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// One record of comma-separated values (RFC 4180): fields holding a comma, a
// quote or a line break are quoted, quotes doubled. Ends with "\n".
QString CsvLine(const QStringList& fields);
// The records of a text of such lines. A last record without its "\n" was
// cut short by a kill while it was written, and is left out.
std::vector<QStringList> ParseCsv(const QString& text);
