#include "tests/data/ServerFolder.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <functional>
#include <stdexcept>

namespace {

// Opens its own connection for one piece of work and removes it afterwards.
void withDatabase(const QString& file, const std::function<void(QSqlDatabase&)>& work)
{
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(file);
        if (!database.open())
            throw std::runtime_error(database.lastError().text().toStdString());
        work(database);
    }
    QSqlDatabase::removeDatabase(name);
}

QSqlQuery checked(QSqlDatabase& database, const QString& statement, const QVariantList& parameters = {})
{
    QSqlQuery query(database);
    query.prepare(statement);
    for (const QVariant& parameter : parameters)
        query.addBindValue(parameter);
    if (!query.exec())
        throw std::runtime_error((statement + QStringLiteral(": ") + query.lastError().text()).toStdString());
    return query;
}

} // namespace

void ServerFolder::run(const QString& database, const QString& statement, const QVariantList& parameters) const
{
    withDatabase(file(database), [&](QSqlDatabase& db) { checked(db, statement, parameters); });
}

QVariantList ServerFolder::column(const QString& database, const QString& statement) const
{
    QVariantList values;
    withDatabase(file(database), [&](QSqlDatabase& db) {
        QSqlQuery query = checked(db, statement);
        while (query.next())
            values << query.value(0);
    });
    return values;
}
