#pragma once

#include "data/ConnectionSettings.h"

#include <QMap>
#include <QString>

// The module's connection string: "Provider=SQLOLEDB.1;Password=...;Persist
// Security Info=True;User ID=...;[Initial Catalog=...;]Data Source=...".
// Values are quoted by the ODBC rules, so a value is read back exactly as
// typed and can never add a key of its own.
QString BuildConnectionString(const ConnectionSettings& settings);

// The four settings read back from such a string; keys not of the four are
// ignored. Throws EDatabaseError on a malformed string.
ConnectionSettings ParseConnectionString(const QString& connectionString);

// Braces when the value could be mistaken for syntax, with "}" doubled;
// plain text otherwise.
QString QuoteOdbcValue(const QString& value);
bool OdbcValueNeedsBraces(const QString& value);

// "key=value" pairs by the ODBC rules, keys in lower case.
QMap<QString, QString> ParseOdbcAttributes(const QString& text);
