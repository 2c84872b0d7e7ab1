#pragma once

#include "data/Statements.h"

#include <QString>
#include <QVariantList>

#include <vector>

// A statement run straight on an ODBC connection with SQLExecDirect. FreeTDS
// and Microsoft's drivers send it with its parameters as one sp_executesql,
// where a statement Qt runs is prepared and unprepared each time: two round
// trips to the server instead of one.

// Whether RunOdbcDirect binds every one of `parameters` as Qt's ODBC driver
// binds it for FreeTDS, so that the server sees the same types and values:
// int, smallint and bigint, bytes and ASCII text (other text depends on the
// code page).
bool OdbcDirectBinds(const QVariantList& parameters);

// Runs `statement` on the connection handle and reads every result to its
// end. Integers and bytes come as Qt gives them, other columns as text.
// Throws EDatabaseError with the driver's diagnostics, joined as Qt joins them.
std::vector<Statements::Rows> RunOdbcDirect(void* connection, const QString& statement, const QVariantList& parameters);
