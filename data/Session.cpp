#include "data/Session.h"

#include "data/DatabaseFolder.h"
#include "data/OdbcDirect.h"
#include "data/SqlError.h"
#include "data/SqlServerDialect.h"
#include "data/SqliteDialect.h"
#include "data/SqliteUri.h"

#include <QFileInfo>
#include <QSqlDriver>

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <array>
#include <atomic>

namespace {

QString newConnectionName()
{
    static std::atomic<int> serial{0};
    return QStringLiteral("bmp2jpg-data-%1").arg(++serial);
}

std::unique_ptr<Dialect> openEmbedded(const QString& connectionName, const ConnectionSettings& settings)
{
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    if (settings.InitialCatalog.isEmpty()) {
        database.setDatabaseName(QStringLiteral(":memory:"));
    } else {
        const std::optional<QString> file = DatabaseFolder(settings.DataSource).databaseFile(settings.InitialCatalog);
        if (!file)
            throw EDatabaseError(QStringLiteral("Cannot open database \"%1\": there is no file \"%1.db\" in \"%2\"")
                                     .arg(settings.InitialCatalog, settings.DataSource));
        // Other clients' writes are waited for as a server would queue them;
        // only a lock held this long stops the run.
        database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(LockWait.count()));
        database.setDatabaseName(SqliteFileUri(QFileInfo(*file).absoluteFilePath()));
    }
    if (!database.open())
        throw SqlError(database.lastError());
    return std::make_unique<SqliteDialect>();
}

// The ODBC connection handle; null for other drivers.
SQLHANDLE odbcConnection(const QSqlDatabase& database)
{
    const QVariant handle = database.driver()->handle();
    if (handle.metaType() != QMetaType::fromType<SQLHANDLE>())
        return nullptr;
    return *static_cast<const SQLHANDLE*>(handle.constData());
}

void setAutocommit(const QSqlDatabase& database)
{
    if (const SQLHANDLE connection = odbcConnection(database))
        SQLSetConnectAttr(connection, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER);
}

QString dbmsName(const QSqlDatabase& database)
{
    const SQLHANDLE connection = odbcConnection(database);
    if (!connection)
        return {};
    std::array<SQLWCHAR, 256> name{};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(connection, SQL_DBMS_NAME, name.data(), SQLSMALLINT(sizeof name), &length)))
        return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(name.data()));
}

void openOdbc(const QString& connectionName, const ConnectionSettings& settings, const OdbcDriverProfile& odbc)
{
    const std::optional<QString> text = odbc.driverConnectionString(settings);
    if (!text)
        throw EDatabaseError(QStringLiteral("A setting holds characters the ODBC driver cannot be given safely"));
    // Qt's ODBC driver reads any string containing ".dsn" as a file DSN.
    if (text->contains(QLatin1String(".dsn"), Qt::CaseInsensitive))
        throw EDatabaseError(QStringLiteral("A setting contains \".dsn\", which Qt's ODBC driver cannot pass on"));
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), connectionName);
    // Login and password are in the string, quoted; Qt would append them raw.
    database.setDatabaseName(*text);
    database.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=15"));
    if (!database.open())
        throw SqlError(database.lastError());
}

} // namespace

Session::Session(const QString& connectionName) : connectionName_(connectionName) {}

Session::~Session()
{
    commits_.reset();
    QSqlDatabase::database(connectionName_, false).close();
    QSqlDatabase::removeDatabase(connectionName_);
}

std::unique_ptr<Session> Session::open(const ConnectionSettings& settings, const OdbcDriverProfile& odbc)
{
    std::unique_ptr<Session> session(new Session(newConnectionName()));
    if (NamesEmbeddedServer(settings.DataSource, odbc)) {
        session->dialect_ = openEmbedded(session->connectionName_, settings);
    } else {
        openOdbc(session->connectionName_, settings, odbc);
        const QSqlDatabase database = session->database();
        if (dbmsName(database).startsWith(QLatin1String("SQLite"), Qt::CaseInsensitive)) {
            session->dialect_ = std::make_unique<SqliteDialect>();
        } else {
            session->dialect_ = std::make_unique<SqlServerDialect>();
            session->directOdbc_ = odbcConnection(database);
        }
    }
    session->commits_ = std::make_unique<CommitGroup>(*session, *session->dialect_);
    session->dialect_->prepareSession(*session, settings);
    return session;
}

QSqlDatabase Session::database() const
{
    return QSqlDatabase::database(connectionName_, false);
}

QSqlQuery Session::execute(const QString& statement, const QVariantList& parameters)
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    bool done = false;
    if (parameters.isEmpty()) {
        done = query.exec(statement);
    } else if (query.prepare(statement)) {
        for (const QVariant& parameter : parameters)
            query.addBindValue(parameter);
        done = query.exec();
    }
    if (!done)
        throw SqlError(query.lastError());
    return query;
}

namespace {

Statements::Rows readRows(QSqlQuery& query)
{
    Statements::Rows rows{query.record(), {}};
    while (query.next()) {
        std::vector<QVariant>& row = rows.values.emplace_back();
        row.reserve(rows.record.count());
        for (int i = 0; i < rows.record.count(); ++i)
            row.push_back(query.value(i));
    }
    // next() says false both at the end and on a failed fetch (a corrupt
    // page, a lost connection, a server error after the first rows).
    if (query.lastError().isValid())
        throw SqlError(query.lastError());
    return rows;
}

} // namespace

Session::Rows Session::select(const QString& statement, const QVariantList& parameters)
{
    QSqlQuery query = execute(statement, parameters);
    return readRows(query);
}

std::vector<Session::Rows> Session::run(const QString& statement, const QVariantList& parameters)
{
    if (directOdbc_ && OdbcDirectBinds(parameters))
        return RunOdbcDirect(directOdbc_, statement, parameters);
    QSqlQuery query = execute(statement, parameters);
    std::vector<Rows> results;
    do {
        if (query.isSelect())
            results.push_back(readRows(query));
    } while (query.nextResult());
    if (query.lastError().isValid())
        throw SqlError(query.lastError());
    return results;
}

void Session::beginTransaction()
{
    QSqlDatabase db = database();
    if (!db.transaction())
        throw SqlError(db.lastError());
}

void Session::commitTransaction()
{
    QSqlDatabase db = database();
    if (!db.commit())
        throw SqlError(db.lastError());
}

void Session::rollbackTransaction()
{
    QSqlDatabase db = database();
    if (db.rollback())
        return;
    const EDatabaseError failure = SqlError(db.lastError());
    // Qt leaves autocommit off when SQLEndTran fails: the next statements
    // would run in a transaction nobody ends, or in none at all.
    setAutocommit(db);
    throw failure;
}
