#include "testdata/ImageTableWriter.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <stdexcept>

namespace {

void Check(bool ok, const QSqlQuery& query)
{
    if (!ok)
        throw std::runtime_error(query.lastError().text().toStdString());
}

QVariant Value(const std::optional<QByteArray>& bytes)
{
    if (!bytes)
        return QVariant(QMetaType(QMetaType::QByteArray));
    // The driver binds a null QByteArray as NULL; a 0-byte value is not NULL.
    return QVariant(bytes->isNull() ? QByteArray("") : *bytes);
}

}  // namespace

ImageTableWriter::ImageTableWriter(const QString& databaseFile)
    : connectionName(QUuid::createUuid().toString())
{
    // A journal left by an earlier, killed writer must not be applied to the new file.
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(databaseFile + QLatin1String(suffix));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(databaseFile);
    if (!db.open())
        throw std::runtime_error(db.lastError().text().toStdString());
    Execute(QStringLiteral("create table BAC1 (BCE01 varchar(50), BAC02 blob, BAC04 blob)"));
    db.transaction();
}

ImageTableWriter::~ImageTableWriter()
{
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
}

void ImageTableWriter::AddRow(const std::optional<QString>& bce01, const std::optional<QByteArray>& bac02,
                              const std::optional<QByteArray>& bac04)
{
    QSqlQuery query(QSqlDatabase::database(connectionName, false));
    query.prepare(QStringLiteral("insert into BAC1 (BCE01, BAC02, BAC04) values (?, ?, ?)"));
    query.addBindValue(bce01 ? QVariant(*bce01) : QVariant(QMetaType(QMetaType::QString)));
    query.addBindValue(Value(bac02));
    query.addBindValue(Value(bac04));
    Check(query.exec(), query);
}

void ImageTableWriter::Execute(const QString& statement)
{
    QSqlQuery query(QSqlDatabase::database(connectionName, false));
    Check(query.exec(statement), query);
}
