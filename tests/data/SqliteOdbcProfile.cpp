#include "tests/data/SqliteOdbcProfile.h"

#include "data/DatabaseFolder.h"

OdbcDriverProfile SqliteOdbcProfile()
{
    OdbcDriverProfile profile;
    profile.foldersAreEmbeddedServers = false;
    profile.driverConnectionString = [](const ConnectionSettings& settings) -> std::optional<QString> {
        QString file = QStringLiteral(":memory:");
        if (!settings.InitialCatalog.isEmpty()) {
            const std::optional<QString> found = DatabaseFolder(settings.DataSource).databaseFile(settings.InitialCatalog);
            if (!found)
                return std::nullopt;
            file = *found;
        }
        // This driver knows no quoting: a path with ";" or braces cannot be given.
        if (file.contains(QLatin1Char(';')) || file.contains(QLatin1Char('{')) || file.contains(QLatin1Char('}')))
            return std::nullopt;
        return QStringLiteral("Driver=SQLite3;Database=%1;NoCreat=1").arg(file);
    };
    return profile;
}
