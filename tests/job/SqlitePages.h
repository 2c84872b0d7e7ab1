#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <vector>

// The pages of one table in an SQLite database file, read by the file
// format's rules, for tests that damage a chosen page. Many SQLite builds
// (Windows ones among them) leave out the dbstat table that would tell.
struct TablePages {
    std::vector<qint64> leaves;          // leaf pages of the table's b-tree, in page order
    std::vector<qint64> firstOverflows;  // the first page of each value's overflow chain, in page order
};

// Throws when a page of the table is not a table b-tree page.
TablePages ReadTablePages(const QByteArray& file, qint64 rootPage);
