#include "bench/job/DatabaseFloor.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

void WriteFinishedJpegs(const std::vector<QByteArray>& jpegs, const QString& file)
{
    QFile out(file);
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QDataStream stream(&out);
    stream << qint64(jpegs.size());
    for (const QByteArray& jpeg : jpegs)
        stream << jpeg;
}

std::vector<QByteArray> ReadFinishedJpegs(const QString& file)
{
    QFile in(file);
    in.open(QIODevice::ReadOnly);
    QDataStream stream(&in);
    qint64 count = 0;
    stream >> count;
    std::vector<QByteArray> jpegs(size_t(std::max<qint64>(count, 0)));
    for (QByteArray& jpeg : jpegs)
        stream >> jpeg;
    return jpegs;
}

namespace {

// Every statement must work, or the floor is not the job's floor.
void Require(bool done, const QSqlQuery& query)
{
    if (!done) {
        std::fprintf(stderr, "floor: %s\n", qPrintable(query.lastError().text()));
        std::exit(1);
    }
}

void WriteFloor(QSqlDatabase& database, const std::vector<QByteArray>& finished)
{
    QSqlQuery query(database);
    Require(query.exec(QStringLiteral("pragma secure_delete = fast")), query);
    Require(query.exec(QStringLiteral("pragma cache_size = -32768")), query);
    QElapsedTimer group;
    size_t picture = 0;
    for (const QString& column : {QStringLiteral("BAC02"), QStringLiteral("BAC04")}) {
        std::vector<qint64> rows;
        Require(query.exec(QStringLiteral("select rowid from BAC1 where %1 is not null order by rowid").arg(column)), query);
        while (query.next())
            rows.push_back(query.value(0).toLongLong());
        QSqlQuery read(database);
        read.prepare(QStringLiteral("select %1 from BAC1 where rowid = ?").arg(column));
        QSqlQuery write(database);
        write.prepare(QStringLiteral("update BAC1 set %1 = ? where rowid = ?").arg(column));
        for (const qint64 row : rows) {
            if (!group.isValid()) {
                Require(query.exec(QStringLiteral("begin immediate")), query);
                group.start();
            }
            read.addBindValue(row);
            Require(read.exec() && read.next(), read);
            const bool bitmap = read.value(0).toByteArray().startsWith("BM");
            read.finish();
            if (!bitmap)
                continue;
            if (picture >= finished.size()) {
                std::fprintf(stderr, "floor: more bitmaps than finished JPEGs\n");
                std::exit(1);
            }
            write.addBindValue(finished[picture++]);
            write.addBindValue(row);
            Require(write.exec(), write);
            if (group.elapsed() >= 750) {
                Require(query.exec(QStringLiteral("commit")), query);
                group.invalidate();
            }
        }
    }
    // The last row may have closed the last group already.
    if (group.isValid())
        Require(query.exec(QStringLiteral("commit")), query);
}

}  // namespace

int RunDatabaseFloor(const QString& file, const QString& finishedJpegs)
{
    const std::vector<QByteArray> finished = ReadFinishedJpegs(finishedJpegs);
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("floor"));
        database.setDatabaseName(file);
        if (!database.open())
            return 1;
        WriteFloor(database, finished);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("floor"));
    return 0;
}
