#include "tests/data/ServerFolder.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <stdexcept>

DatabaseClient::DatabaseClient(const QString& file, int busyTimeoutMs) : name_(QUuid::createUuid().toString())
{
    open(QStringLiteral("QSQLITE"), file, QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
}

DatabaseClient::DatabaseClient(const Odbc& odbc) : name_(QUuid::createUuid().toString())
{
    open(QStringLiteral("QODBC"), odbc.connectionString, QString());
}

void DatabaseClient::open(const QString& driver, const QString& databaseName, const QString& options)
{
    QSqlDatabase database = QSqlDatabase::addDatabase(driver, name_);
    database.setDatabaseName(databaseName);
    database.setConnectOptions(options);
    if (!database.open()) {
        const QString error = database.lastError().text();
        database = QSqlDatabase();
        QSqlDatabase::removeDatabase(name_);
        throw std::runtime_error(error.toStdString());
    }
}

DatabaseClient::~DatabaseClient()
{
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
}

QSqlQuery DatabaseClient::execute(const QString& statement, const QVariantList& parameters) const
{
    QSqlQuery query(QSqlDatabase::database(name_, false));
    // Server cursors, which Qt's ODBC driver asks for otherwise, are not
    // wanted for reading whole large values.
    query.setForwardOnly(true);
    query.prepare(statement);
    for (const QVariant& parameter : parameters)
        query.addBindValue(parameter);
    if (!query.exec())
        throw std::runtime_error((statement + QStringLiteral(": ") + query.lastError().text()).toStdString());
    return query;
}

void ServerFolder::run(const QString& database, const QString& statement, const QVariantList& parameters) const
{
    DatabaseClient(file(database)).execute(statement, parameters);
}

QVariantList ServerFolder::column(const QString& database, const QString& statement) const
{
    QVariantList values;
    const DatabaseClient client(file(database));
    QSqlQuery query = client.execute(statement);
    while (query.next())
        values << query.value(0);
    return values;
}
