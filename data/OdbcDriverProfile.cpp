#include "data/OdbcDriverProfile.h"

#include "data/DataErrors.h"
#include "data/SqlServerDriver.h"

OdbcDriverProfile OdbcDriverProfile::SqlServer()
{
    OdbcDriverProfile profile;
    profile.driverConnectionString = [](const ConnectionSettings& settings) {
        const std::optional<SqlServerDriver> driver = InstalledSqlServerDriver();
        if (!driver)
            throw EDatabaseError(QStringLiteral("No ODBC driver for SQL Server is installed"));
        return SqlServerConnectionString(*driver, settings);
    };
    return profile;
}
