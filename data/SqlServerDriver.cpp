#include "data/SqlServerDriver.h"

#include "data/ConnectionString.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <array>
#include <memory>
#include <vector>

namespace {

// Encryption with the certificate unchecked: on-premise servers mostly run on
// their self-signed certificate, which driver 18 rejects by default.
const QString microsoftEncryption = QStringLiteral("Encrypt=yes;TrustServerCertificate=yes");

// TDS 7.2 is the least that carries varbinary(max); UTF-8 keeps Chinese
// names intact. FreeTDS encrypts when the server offers it.
const SqlServerDriver freeTds{QStringLiteral("FreeTDS"), false, QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8")};
const SqlServerDriver windowsLegacy{QStringLiteral("SQL Server"), false, QString()};

const std::array<SqlServerDriver, 4> knownDrivers{{
    {QStringLiteral("ODBC Driver 18 for SQL Server"), true, microsoftEncryption},
    {QStringLiteral("ODBC Driver 17 for SQL Server"), true, microsoftEncryption},
#ifdef _WIN32
    // Every Windows has the legacy driver; FreeTDS is there only when someone
    // added it (or under Wine, from the host).
    windowsLegacy,
    freeTds,
#else
    freeTds,
    windowsLegacy,
#endif
}};

QStringList installedDriverNames()
{
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return {};
    const std::unique_ptr<void, void (*)(SQLHENV)> guard(env, [](SQLHENV h) { SQLFreeHandle(SQL_HANDLE_ENV, h); });
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);

    QStringList names;
    std::array<SQLWCHAR, 512> description{};
    std::array<SQLWCHAR, 2048> attributes{};
    SQLSMALLINT descriptionLength = 0;
    SQLSMALLINT attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDriversW(env, direction, description.data(), SQLSMALLINT(description.size()), &descriptionLength,
                                     attributes.data(), SQLSMALLINT(attributes.size()), &attributesLength))) {
        names << QString::fromUtf16(reinterpret_cast<const char16_t*>(description.data()));
        direction = SQL_FETCH_NEXT;
    }
    return names;
}

std::optional<QString> quoted(const SqlServerDriver& driver, const QString& value)
{
    if (value.contains(QChar(0)))
        return std::nullopt;
    if (driver.undoublesClosingBraces)
        return QuoteOdbcValue(value);
    // Such drivers end a braced value at the first "}" or "};", while the
    // driver manager reads "}}" as "}": a "}" would read differently to the
    // two and could smuggle in a key, so it is refused.
    if (value.contains(QLatin1Char('}')))
        return std::nullopt;
    return OdbcValueNeedsBraces(value) ? QLatin1Char('{') + value + QLatin1Char('}') : value;
}

} // namespace

std::optional<SqlServerDriver> InstalledSqlServerDriver()
{
    return PreferredSqlServerDriver(installedDriverNames());
}

std::optional<SqlServerDriver> PreferredSqlServerDriver(const QStringList& installed)
{
    for (const SqlServerDriver& driver : knownDrivers) {
        if (installed.contains(driver.name, Qt::CaseInsensitive))
            return driver;
    }
    return std::nullopt;
}

std::optional<QString> SqlServerConnectionString(const SqlServerDriver& driver, const ConnectionSettings& settings)
{
    std::vector<std::pair<QString, QString>> values{
        {QStringLiteral("Server"), settings.DataSource}, {QStringLiteral("UID"), settings.UserID}, {QStringLiteral("PWD"), settings.Password}};
    if (!settings.InitialCatalog.isEmpty())
        values.emplace_back(QStringLiteral("Database"), settings.InitialCatalog);

    QStringList parts{QStringLiteral("Driver={%1}").arg(driver.name)};
    for (const auto& [key, value] : values) {
        const std::optional<QString> text = quoted(driver, value);
        if (!text)
            return std::nullopt;
        parts << key + QLatin1Char('=') + *text;
    }
    if (!driver.extraAttributes.isEmpty())
        parts << driver.extraAttributes;
    // A braced value ends at "};" for some drivers: always close the last one.
    return parts.join(QLatin1Char(';')) + QLatin1Char(';');
}
