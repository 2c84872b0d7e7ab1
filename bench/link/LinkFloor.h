#pragma once

#include <QString>

// What the SQL Server costs the job across the link: the program's own
// statements, through the same ODBC driver and connection string, with the
// finished JPEGs and nothing else. Each column's rows are read a page at a
// time with their sizes and first bytes; each bitmap is read whole under an
// update lock and its JPEG written over it, committed every 0.5 s, as the
// program does; but each statement is prepared once and its results read
// straight into one buffer. `sessions` connections take disjoint ranges of
// the key, each on a thread of its own.
//
// The finished JPEGs are in the order the job meets the bitmaps: BAC02 of
// rows 1 up, then BAC04, the bitmaps coming first in each column (the photo
// table). Returns the exit code; prints "<seconds> <peak MiB>".
int RunLinkFloor(const QString& server, const QString& finishedJpegs, int sessions);
