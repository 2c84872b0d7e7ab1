#pragma once

#include "data/ConnectionSettings.h"

#include <QString>

#include <optional>

// An ODBC driver for SQL Server and what its connection string needs.
struct SqlServerDriver {
    QString name;                // as registered with the driver manager
    bool undoublesClosingBraces; // reads "}}" inside a braced value as "}"
    QString extraAttributes;     // appended to every connection string
};

// The preferred SQL Server driver among those the driver manager lists.
std::optional<SqlServerDriver> InstalledSqlServerDriver();

// The preferred one of the drivers named: Microsoft's 18, then 17; then on
// Windows the legacy "SQL Server" driver that ships with it, then FreeTDS;
// elsewhere FreeTDS, then the legacy driver.
std::optional<SqlServerDriver> PreferredSqlServerDriver(const QStringList& installed);

// The driver connection string for the settings, with SQL Server
// authentication; nullopt when a value cannot reach this driver exactly as
// typed (a "}" for drivers that do not undouble it, a NUL anywhere).
std::optional<QString> SqlServerConnectionString(const SqlServerDriver& driver, const ConnectionSettings& settings);
