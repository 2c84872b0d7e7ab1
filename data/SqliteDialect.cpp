#include "data/SqliteDialect.h"

#include "data/DataErrors.h"
#include "data/DatabaseFolder.h"
#include "data/Statements.h"
#include "data/SimpleSelect.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// The column type's affinity is BLOB: a declared type naming BLOB, or none.
bool hasBlobAffinity(const QString& declaredType)
{
    const QString type = declaredType.toUpper();
    if (type.contains(QLatin1String("INT")) || type.contains(QLatin1String("CHAR")) ||
        type.contains(QLatin1String("CLOB")) || type.contains(QLatin1String("TEXT")))
        return false;
    return type.contains(QLatin1String("BLOB")) || type.trimmed().isEmpty();
}

// A name for the rowid that no column hides.
std::optional<QString> rowidName(const std::vector<TableColumn>& columns)
{
    for (const QString& candidate : {QStringLiteral("rowid"), QStringLiteral("_rowid_"), QStringLiteral("oid")}) {
        const bool hidden = std::any_of(columns.begin(), columns.end(), [&](const TableColumn& c) {
            return c.name.compare(candidate, Qt::CaseInsensitive) == 0;
        });
        if (!hidden)
            return candidate;
    }
    return std::nullopt;
}

// A text value's stored bytes, which reading it as text would re-encode.
QString exactBytes(const QString& quotedColumn)
{
    return QStringLiteral("case when typeof(%1) = 'text' then cast(%1 as blob) else %1 end").arg(quotedColumn);
}

} // namespace

std::chrono::milliseconds SqliteDialect::commitInterval() const
{
    // Syncing a commit costs several times a picture's encoding.
    return std::chrono::milliseconds(750);
}

// The whole database has one write lock, and a client waiting for it polls:
// SQLite's busy handler sleeps at most 100 ms between tries. Free for longer
// than that, the lock reaches a waiting writer before the next group takes it.
std::chrono::milliseconds SqliteDialect::writersTurn() const
{
    return std::chrono::milliseconds(120);
}

// IMMEDIATE takes the write lock at the read, so the value cannot change
// before our write. A plain BEGIN holds only a read lock: another client's
// transaction can take the write lock first, and SQLite then fails our write
// at once with "database is locked" (a deadlock it will not wait out).
// Qt's transaction() would send a plain BEGIN: the statements stay ours.
void SqliteDialect::begin(Statements& session) const
{
    session.execute(QStringLiteral("begin immediate"));
}

void SqliteDialect::commit(Statements& session) const
{
    session.execute(QStringLiteral("commit"));
}

void SqliteDialect::rollback(Statements& session) const
{
    session.execute(QStringLiteral("rollback"));
}

// A full disk, an I/O error or a lock SQLite would not wait for rolls the
// whole transaction back; SQLite refuses BEGIN only inside a transaction.
bool SqliteDialect::holdsTransaction(Statements& session) const
{
    try {
        session.execute(QStringLiteral("begin"));
    } catch (const EDatabaseError& error) {
        if (QString::fromUtf8(error.what()).contains(QLatin1String("within a transaction")))
            return true;
        throw;
    }
    session.execute(QStringLiteral("rollback"));
    return false;
}

void SqliteDialect::prepareSession(Statements& session, const ConnectionSettings& settings) const
{
    // Debian builds SQLite to zero every freed page, which doubles the writing
    // of each rewritten picture. Freed pages keep their old bytes until reused.
    session.execute(QStringLiteral("pragma secure_delete = fast"));
    // A picture spans hundreds of pages that the prefix check, the fetch and
    // the update each walk: keep them cached between those steps (bounded).
    session.execute(QStringLiteral("pragma cache_size = -32768"));
    session.execute(QStringLiteral("create temp table sysdatabases (name text)"));
    if (QFileInfo(settings.DataSource).isDir()) {
        for (const QString& name : DatabaseFolder(settings.DataSource).databaseNames())
            session.execute(QStringLiteral("insert into temp.sysdatabases (name) values (?)"), {name});
    }
    // Names match without regard to case, as SQLite resolves them and as a
    // SQL Server with the default collation would.
    session.execute(QStringLiteral("create temp view sysobjects as select name collate nocase as name, type "
                                   "from main.sqlite_master "
                                   "where type in ('table', 'view') and name not like 'sqlite!_%' escape '!'"));
}

std::optional<TableSchema> SqliteDialect::describeTable(Statements& session, const QStringList& name) const
{
    if (name.size() != 1)
        return std::nullopt;
    const Statements::Rows kind = session.select(
        QStringLiteral("select name, wr, type from pragma_table_list(?) where schema = 'main' and type in ('table', 'view')"),
        {name.front()});
    if (kind.values.empty())
        return std::nullopt;
    if (kind.values.front()[2].toString() == QLatin1String("view"))
        throw ViewRefused(name.front());
    TableSchema table{{kind.values.front()[0].toString()}, {}, {}, true};
    const bool withoutRowid = kind.values.front()[1].toInt() != 0;

    std::vector<std::pair<int, int>> primaryKey;  // (position in key, column)
    for (const auto& column : session.select(QStringLiteral("select name, type, pk from pragma_table_info(?, 'main') order by cid"),
                                             {table.name.front()})
                                  .values) {
        table.columns.push_back({column[0].toString(), hasBlobAffinity(column[1].toString()), column[1].toString()});
        if (column[2].toInt() > 0)
            primaryKey.emplace_back(column[2].toInt(), int(table.columns.size()) - 1);
    }
    if (!withoutRowid) {
        if (const std::optional<QString> rowid = rowidName(table.columns))
            table.key.push_back({*rowid, *rowid, QStringLiteral("?"), -1, KeyPart::Of::Value, true});
        // Only a column declared INTEGER PRIMARY KEY keeps the rowid as it is.
        table.keyLasts = primaryKey.size() == 1 &&
                         table.columns[primaryKey.front().second].type.trimmed().compare(QLatin1String("INTEGER"),
                                                                                         Qt::CaseInsensitive) == 0;
        return table;
    }
    // A table without rowid always has a primary key, and it is never NULL.
    std::sort(primaryKey.begin(), primaryKey.end());
    for (const auto& [position, column] : primaryKey)
    {
        const QString quoted = QuoteIdentifier(table.columns[column].name);
        // Comparisons and ORDER BY take the column's own collation alike.
        table.key.push_back({quoted, quoted, QStringLiteral("?"), column, KeyPart::Of::Value, true});
    }
    return table;
}

// SQLite reads length() and typeof() of a column from the record header, but
// loads the whole value for anything else, a cast included: cast only text.
QString SqliteDialect::blobSizeExpression(const QString& quotedColumn) const
{
    // Bytes also for a text value in a BLOB column.
    return QStringLiteral("case when typeof(%1) = 'text' then length(cast(%1 as blob)) else length(%1) end")
        .arg(quotedColumn);
}

// SQLite gives text that is not valid UTF-8 with replacement characters.
QString SqliteDialect::textBytesExpression(const QString& quotedColumn) const
{
    return QStringLiteral("case when typeof(%1) = 'text' then cast(%1 as blob) end").arg(quotedColumn);
}

// Only for values that fit in a page or two: a larger one is loaded whole,
// and the walk reads a bitmap whole anyway.
QString SqliteDialect::blobHeadExpression(const QString& quotedColumn, int bytes) const
{
    constexpr int smallValueBytes = 4096;
    // Bytes, not NULL, for a large one: the SQLite ODBC driver types an
    // expression's column by its first value, and would give later bytes as text.
    return QStringLiteral("case when length(%1) > %2 then x'%3' else substr(%4, 1, %5) end")
        .arg(quotedColumn, QString::number(smallValueBytes), QString(2 * (bytes + 1), u'0'), exactBytes(quotedColumn),
             QString::number(bytes));
}

// The transaction of the group holds the write lock already.
// The write lock taken at BEGIN IMMEDIATE covers every row.
QString SqliteDialect::fetchStatement(const TableSchema& table, const QString& quotedColumn, const QString& condition,
                                      RowLock) const
{
    return QStringLiteral("select %1, %2 from %3 where %4")
        .arg(blobSizeExpression(quotedColumn), exactBytes(quotedColumn), QuoteIdentifier(table.name), condition);
}

QString SqliteDialect::pageStatement(const TableSchema& table, const QString& selectList, const QString& condition,
                                     const QString& order, int rows) const
{
    const QString where = condition.isEmpty() ? QString() : QStringLiteral(" where ") + condition;
    return QStringLiteral("select %1 from %2%3 order by %4 limit %5")
        .arg(selectList, QuoteIdentifier(table.name), where, order, QString::number(rows));
}

QString SqliteDialect::blobPlaceholder() const
{
    return QStringLiteral("?");
}

qint64 SqliteDialect::updateRow(Statements& session, const TableSchema& table, const QString& assignments,
                                const QString& condition, const QVariantList& parameters) const
{
    const QSqlQuery update = session.execute(
        QStringLiteral("update %1 set %2 where %3").arg(QuoteIdentifier(table.name), assignments, condition), parameters);
    return update.numRowsAffected();
}
