#include "testdata/ImageTableReader.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <stdexcept>

namespace {

template <typename T>
std::optional<T> Optional(const QVariant& value)
{
    if (value.isNull())
        return std::nullopt;
    return value.value<T>();
}

}  // namespace

std::vector<ImageRow> ReadImageTable(const QString& databaseFile)
{
    const QString connectionName = QUuid::createUuid().toString();
    std::vector<ImageRow> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        // Not read-only: a run that was stopped may have left a journal to roll back.
        db.setDatabaseName(databaseFile);
        if (!db.open())
            throw std::runtime_error(db.lastError().text().toStdString());
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("select BCE01, BAC02, BAC04 from BAC1 order by rowid")))
            throw std::runtime_error(query.lastError().text().toStdString());
        while (query.next())
            rows.push_back({Optional<QString>(query.value(0)), Optional<QByteArray>(query.value(1)),
                            Optional<QByteArray>(query.value(2))});
    }
    QSqlDatabase::removeDatabase(connectionName);
    return rows;
}
