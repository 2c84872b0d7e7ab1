#pragma once

#include "data/ConnectionSettings.h"
#include "data/SqlServerDriver.h"

#include <QString>

#include <functional>
#include <optional>

// How Connect reaches a database through ODBC: the driver connection string
// made from the settings. Production uses SqlServer(); tests plug in another
// installed driver to run the ODBC code path without a SQL Server.
struct OdbcDriverProfile {
    // The driver connection string, or nullopt when the settings cannot be
    // carried to the driver exactly as typed (Connect then fails).
    std::function<std::optional<QString>(const ConnectionSettings&)> driverConnectionString;
    // True: a DataSource naming an existing folder opens the embedded server
    // instead of going through ODBC.
    bool foldersAreEmbeddedServers = true;

    // The preferred installed SQL Server driver (PreferredSqlServerDriver;
    // without one the connection is refused), treating the server's
    // certificate as `certificate` says. A FreeTDS connection that checks
    // certificates points FREETDSCONF of this process at a freetds.conf of
    // its own while the profile lives.
    static OdbcDriverProfile SqlServer(const CertificateCheck& certificate = {});
};
