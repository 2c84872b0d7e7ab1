#pragma once

#include "tests/tds/ScriptedTdsServer.h"

// Reading the program's row statements back from the scripted server's log.

// The log as text, one request a line, for failure messages.
QString DumpLog(const std::vector<LoggedStatement>& log);

// A pattern matching the whole text, spacing as written, case-insensitive.
QRegularExpression WholeStatement(const QString& pattern);

// What comes before the program's first statement: the encryption answer,
// the login, and the SET QUOTED_IDENTIFIER ON Qt's ODBC driver runs as it
// opens a connection to SQL Server (FreeTDS sends it through a server cursor,
// which the scripted server refuses and Qt ignores; it changes nothing the
// program relies on).
bool IsDriverProbe(const LoggedStatement& s);

// One read for update or one write of a picture column of one row.
struct RowAccess {
    const LoggedStatement* statement;
    bool write;
    QString table;      // as the statement names it
    QString column;     // BAC02 or BAC04
    QString condition;  // the row condition, placeholders as sent
    QStringList key;    // the values of the condition's parameters, bytes in hex
};
// In log order; other statements are left out.
std::vector<RowAccess> RowAccesses(const std::vector<LoggedStatement>& log);

// The row condition the program sends for a table with this key, as a
// pattern: placeholders are @Pn or "?", every part not null.
QString ExpectedRowCondition(TableKey key, SqlType nameType = SqlType::NVarChar);
