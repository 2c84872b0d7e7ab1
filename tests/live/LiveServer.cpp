#include "tests/live/LiveServer.h"

#include "data/OdbcDriverProfile.h"

#include <QSqlError>

#include <stdexcept>

namespace {

template <typename T>
std::optional<T> optionalValue(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional<T>(value.value<T>());
}

} // namespace

std::optional<ConnectionSettings> LiveServerFromEnvironment()
{
    if (!qEnvironmentVariableIsSet(kLiveServerVariable))
        return std::nullopt;
    const QString text = qEnvironmentVariable(kLiveServerVariable);
    const qsizetype first = text.indexOf(QLatin1Char(';'));
    const qsizetype second = first < 0 ? -1 : text.indexOf(QLatin1Char(';'), first + 1);
    if (second < 0 || first == 0 || second == first + 1)
        throw std::runtime_error("BMP2JPG_TEST_SQLSERVER must read server;login;password");
    return ConnectionSettings{text.left(first), text.mid(first + 1, second - first - 1), text.mid(second + 1), QString()};
}

LiveDatabase::LiveDatabase(const ConnectionSettings& server, quint32 seed) : settings_(server)
{
    settings_.InitialCatalog = QStringLiteral("bmp2jpg_live_%1").arg(seed);
    master_ = open(QStringLiteral("master"));
    QSqlQuery version = master_->execute(QStringLiteral("SELECT CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(128))"));
    if (!version.next())
        throw std::runtime_error("SERVERPROPERTY('ProductVersion') gave no row");
    majorVersion_ = version.value(0).toString().section(QLatin1Char('.'), 0, 0).toInt();
    drop();  // left over from an earlier run with the same seed
    master_->execute(QStringLiteral("CREATE DATABASE [%1]").arg(name()));
    try {
        database_ = open(name());
    } catch (...) {
        drop();
        throw;
    }
}

LiveDatabase::~LiveDatabase()
{
    database_.reset();
    try {
        drop();
    } catch (const std::exception& error) {
        qWarning("could not drop database %s: %s", qPrintable(name()), error.what());
    }
}

std::unique_ptr<DatabaseClient> LiveDatabase::open(const QString& catalog) const
{
    ConnectionSettings settings = settings_;
    settings.InitialCatalog = catalog;
    const std::optional<QString> text = OdbcDriverProfile::SqlServer().driverConnectionString(settings);
    if (!text)
        throw std::runtime_error("the live server's settings cannot be given to the ODBC driver");
    try {
        return std::make_unique<DatabaseClient>(DatabaseClient::Odbc{*text});
    } catch (const std::exception& error) {
        throw std::runtime_error(
            QStringLiteral("connecting to %1 on %2: %3").arg(catalog, settings.DataSource, QString::fromUtf8(error.what())).toStdString());
    }
}

void LiveDatabase::drop() const
{
    // SINGLE_USER with ROLLBACK IMMEDIATE ends the sessions a failed test
    // may have left in the database, so that it can be dropped. The name is
    // the suite's own, made of letters, digits and "_".
    master_->execute(QStringLiteral("IF DB_ID(N'%1') IS NOT NULL BEGIN "
                                    "ALTER DATABASE [%1] SET SINGLE_USER WITH ROLLBACK IMMEDIATE; DROP DATABASE [%1]; END")
                         .arg(name()));
}

QSqlQuery LiveDatabase::execute(const QString& statement, const QVariantList& parameters) const
{
    return database_->execute(statement, parameters);
}

std::vector<ImageRow> LiveDatabase::imageTable() const
{
    // FreeTDS hands out large values cut to 4096 bytes without SET TEXTSIZE;
    // in the same batch, it holds however the driver runs the statement.
    QSqlQuery query =
        execute(QStringLiteral("SET TEXTSIZE 2147483647; SELECT BCE01, BAC02, BAC04 FROM dbo.BAC1 ORDER BY BCE01"));
    while (!query.isSelect() && query.nextResult()) {
    }
    std::vector<ImageRow> rows;
    while (query.next())
        rows.push_back({optionalValue<QString>(query.value(0)), optionalValue<QByteArray>(query.value(1)),
                        optionalValue<QByteArray>(query.value(2))});
    if (query.lastError().isValid())
        throw std::runtime_error(("reading BAC1: " + query.lastError().text()).toStdString());
    return rows;
}
