#pragma once

#include "data/ConnectionSettings.h"

#include <QString>

#include <optional>

// What a connection asks of the server's TLS certificate.
struct CertificateCheck {
    // False: encrypt without checking the certificate, so servers on their
    // self-signed certificate connect. True: the chain must lead to a trusted
    // CA and the certificate must name the server as typed.
    bool verify = false;
    // A PEM file of CAs to trust instead of the system's; empty: the system's.
    QString caFile;
};

// An ODBC driver for SQL Server and what its connection string needs.
struct SqlServerDriver {
    enum class Family { Microsoft, FreeTds, Other };

    QString name;                // as registered with the driver manager
    bool undoublesClosingBraces; // reads "}}" inside a braced value as "}"
    QString extraAttributes;     // appended to every connection string
    Family family = Family::Other;
};

// How a CA is added to a system's certificate store, for messages: "on
// Debian, copy it ...".
enum class CertificateStore { Debian, Windows };
QString AddToCertificateStore(CertificateStore store);
// The same for this system's store.
QString AddToSystemCertificateStore();

// The names of the ODBC drivers the driver manager lists.
QStringList InstalledOdbcDrivers();

// The preferred one of the drivers named, on every platform: Microsoft's
// ODBC Driver 18, 17, 13, 11, SQL Server Native Client 11.0, 10.0, then
// FreeTDS. The legacy "SQL Server" driver is never chosen.
std::optional<SqlServerDriver> PreferredSqlServerDriver(const QStringList& installed);

// The same, or EDatabaseError naming the drivers to install.
SqlServerDriver RequireSqlServerDriver(const QStringList& installed);

// The driver connection string for the settings, with SQL Server
// authentication; nullopt when a value cannot reach this driver exactly as
// typed (a "}" for drivers that do not undouble it, a NUL anywhere). Throws
// EDatabaseError when the driver cannot check the certificate as asked.
// FreeTDS checks certificates only for a server described in a freetds.conf
// section: it is then named by kFreeTdsSection, not by "Server". FreeTDS gets
// 127.0.0.1 for the host "." or "(local)".
std::optional<QString> SqlServerConnectionString(const SqlServerDriver& driver, const ConnectionSettings& settings,
                                                 const CertificateCheck& certificate = {});

// The freetds.conf section FreeTDS needs to check the certificate of the
// server the settings name; nullopt when the server name or the CA file
// cannot be written there exactly.
std::optional<QString> FreeTdsVerifyingSection(const ConnectionSettings& settings, const CertificateCheck& certificate);
inline constexpr char kFreeTdsSection[] = "bmp2jpg-verified";
