#pragma once

#include "data/OdbcDriverProfile.h"

// Reaches the embedded server's databases through Debian's SQLite ODBC driver
// ("SQLite3"), so the ODBC code path runs without a SQL Server: DataSource is
// the folder, InitialCatalog the database in it.
OdbcDriverProfile SqliteOdbcProfile();
