#include "data/SqlServerDriver.h"

#include "data/ConnectionString.h"
#include "data/DataErrors.h"

#include <QRegularExpression>

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace {

using Family = SqlServerDriver::Family;

// TDS 7.2 is the least that carries varbinary(max); UTF-8 keeps Chinese
// names intact.
const SqlServerDriver freeTds{QStringLiteral("FreeTDS"), false, QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8"),
                              Family::FreeTds};

// Preferred first, on every platform. Native Client ends a braced value at
// its first "}" and nothing says 11 or 13 undouble "}}": only 17 and 18 are
// trusted to. All of Microsoft's know Encrypt and TrustServerCertificate,
// the only TLS keywords given.
const std::array<SqlServerDriver, 7> knownDrivers{{
    {QStringLiteral("ODBC Driver 18 for SQL Server"), true, QString(), Family::Microsoft},
    {QStringLiteral("ODBC Driver 17 for SQL Server"), true, QString(), Family::Microsoft},
    {QStringLiteral("ODBC Driver 13 for SQL Server"), false, QString(), Family::Microsoft},
    {QStringLiteral("ODBC Driver 11 for SQL Server"), false, QString(), Family::Microsoft},
    {QStringLiteral("SQL Server Native Client 11.0"), false, QString(), Family::Microsoft},
    {QStringLiteral("SQL Server Native Client 10.0"), false, QString(), Family::Microsoft},
    freeTds,
}};

// Never chosen: it sends binary parameters of 400 KB or more with
// WRITETEXT, which fails on varbinary(max).
const QString windowsLegacy = QStringLiteral("SQL Server");

// Unchecked by default: on-premise servers mostly run on their self-signed
// certificate, which driver 18 rejects unless told to trust it. Checked, the
// driver matches the certificate against the name given as Server.
QString microsoftEncryption(const CertificateCheck& certificate)
{
    if (!certificate.caFile.isEmpty())
        throw EDatabaseError(QStringLiteral("Microsoft's ODBC driver trusts only the system's certificate store, so a CA "
                                            "file cannot be given to it: add the CA to that store instead (%1)")
                                 .arg(AddToSystemCertificateStore()));
    return certificate.verify ? QStringLiteral("Encrypt=yes;TrustServerCertificate=no")
                              : QStringLiteral("Encrypt=yes;TrustServerCertificate=yes");
}

// The attributes that ask the driver for encryption as the check says.
QString encryptionAttributes(const SqlServerDriver& driver, const CertificateCheck& certificate)
{
    switch (driver.family) {
    case Family::Microsoft:
        return microsoftEncryption(certificate);
    case Family::FreeTds:
        // Unless required, FreeTDS encrypts the login alone and the pictures
        // cross the network in clear. Every SQL Server since 2005 offers TLS,
        // with a certificate of its own making when given none. The CA and the
        // host-name check come from the section.
        return QStringLiteral("Encryption=require");
    case Family::Other:
        break;
    }
    if (certificate.verify)
        throw EDatabaseError(QStringLiteral("The ODBC driver \"%1\" cannot be asked to check the server's certificate: "
                                            "install Microsoft's \"ODBC Driver 18 for SQL Server\"")
                                 .arg(driver.name));
    return {};
}

// A freetds.conf value reads back as written only without comment marks,
// control characters and runs of spaces, and on a line FreeTDS reads whole.
bool fitsFreeTdsConf(const QString& value)
{
    constexpr qsizetype longestValue = 200;
    if (value.isEmpty() || value.size() > longestValue || value != value.trimmed() || value.contains(QLatin1String("  ")))
        return false;
    return std::none_of(value.begin(), value.end(), [](QChar c) {
        return c == QLatin1Char(';') || c == QLatin1Char('#') || c.category() == QChar::Other_Control;
    });
}

} // namespace

QStringList InstalledOdbcDrivers()
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

namespace {

// FreeTDS looks every host up in DNS, which knows neither "." nor "(local)":
// to Microsoft's drivers they are this machine, so to FreeTDS as well.
QString freeTdsServer(const QString& server)
{
    const QString host = server.left(server.indexOf(QRegularExpression(QStringLiteral("[\\\\,]"))));
    if (host == QLatin1String(".") || host.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("127.0.0.1") + server.mid(host.size());
    return server;
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

// Marked for the batch command's translation; this layer stays English.
QString AddToCertificateStore(CertificateStore store)
{
    if (store == CertificateStore::Windows)
        return QStringLiteral(QT_TRANSLATE_NOOP("CertificateStore", "on Windows, import it into Trusted Root "
                                                                    "Certification Authorities of the local computer "
                                                                    "with certlm.msc"));
    return QStringLiteral(QT_TRANSLATE_NOOP("CertificateStore", "on Debian, copy it as a .crt file to "
                                                                "/usr/local/share/ca-certificates and run "
                                                                "update-ca-certificates"));
}

QString AddToSystemCertificateStore()
{
#ifdef _WIN32
    return AddToCertificateStore(CertificateStore::Windows);
#else
    return AddToCertificateStore(CertificateStore::Debian);
#endif
}

std::optional<SqlServerDriver> PreferredSqlServerDriver(const QStringList& installed)
{
    for (const SqlServerDriver& driver : knownDrivers) {
        if (installed.contains(driver.name, Qt::CaseInsensitive))
            return driver;
    }
    return std::nullopt;
}

SqlServerDriver RequireSqlServerDriver(const QStringList& installed)
{
    if (std::optional<SqlServerDriver> driver = PreferredSqlServerDriver(installed))
        return *driver;
    const QString install = QStringLiteral("install Microsoft's \"ODBC Driver 18 for SQL Server\" (or ODBC Driver 17, 13 "
                                           "or 11, SQL Server Native Client 11.0 or 10.0, or FreeTDS)");
    if (installed.contains(windowsLegacy, Qt::CaseInsensitive))
        throw EDatabaseError(QStringLiteral("The only ODBC driver for SQL Server installed is the old \"SQL Server\" "
                                            "driver, which cannot write pictures of 400 KB or more: %1")
                                 .arg(install));
    throw EDatabaseError(QStringLiteral("No ODBC driver for SQL Server is installed: %1").arg(install));
}

std::optional<QString> SqlServerConnectionString(const SqlServerDriver& driver, const ConnectionSettings& settings,
                                                 const CertificateCheck& certificate)
{
    const QString encryption = encryptionAttributes(driver, certificate);
    const bool namedBySection = driver.family == Family::FreeTds && certificate.verify;
    std::vector<std::pair<QString, QString>> values{
        namedBySection ? std::pair{QStringLiteral("Servername"), QString::fromLatin1(kFreeTdsSection)}
                       : std::pair{QStringLiteral("Server"), driver.family == Family::FreeTds
                                                                 ? freeTdsServer(settings.DataSource)
                                                                 : settings.DataSource},
        {QStringLiteral("UID"), settings.UserID},
        {QStringLiteral("PWD"), settings.Password}};
    if (!settings.InitialCatalog.isEmpty())
        values.emplace_back(QStringLiteral("Database"), settings.InitialCatalog);

    QStringList parts{QStringLiteral("Driver={%1}").arg(driver.name)};
    for (const auto& [key, value] : values) {
        const std::optional<QString> text = quoted(driver, value);
        if (!text)
            return std::nullopt;
        parts << key + QLatin1Char('=') + *text;
    }
    for (const QString& attributes : {driver.extraAttributes, encryption}) {
        if (!attributes.isEmpty())
            parts << attributes;
    }
    // A braced value ends at "};" for some drivers: always close the last one.
    return parts.join(QLatin1Char(';')) + QLatin1Char(';');
}

std::optional<QString> FreeTdsVerifyingSection(const ConnectionSettings& settings, const CertificateCheck& certificate)
{
    // The server name as FreeTDS reads it from "Server": host\instance, or
    // host,port.
    QString host = freeTdsServer(settings.DataSource);
    QString where;
    if (const qsizetype backslash = host.indexOf(QLatin1Char('\\')); backslash >= 0) {
        where = QStringLiteral("instance = ") + host.mid(backslash + 1);
        host.truncate(backslash);
    } else if (const qsizetype comma = host.indexOf(QLatin1Char(',')); comma >= 0) {
        bool number = false;
        const int port = host.mid(comma + 1).toInt(&number);
        if (!number || port <= 0 || port > 65535)
            return std::nullopt;
        where = QStringLiteral("port = %1").arg(port);
        host.truncate(comma);
    }
    const QString caFile = certificate.caFile.isEmpty() ? QStringLiteral("system") : certificate.caFile;
    if (!fitsFreeTdsConf(host) || !fitsFreeTdsConf(caFile) || (!where.isEmpty() && !fitsFreeTdsConf(where)))
        return std::nullopt;
    QStringList lines{QStringLiteral("[%1]").arg(QLatin1String(kFreeTdsSection)), QStringLiteral("host = ") + host};
    if (!where.isEmpty())
        lines << where;
    lines << QStringLiteral("encryption = require") << QStringLiteral("ca file = ") + caFile
          << QStringLiteral("check certificate hostname = yes");
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
