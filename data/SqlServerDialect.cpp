#include "data/SqlServerDialect.h"

#include "data/Session.h"
#include "data/SimpleSelect.h"

#include <QSet>

#include <map>

namespace {

bool isLarge(const QString& type)
{
    static const QSet<QString> large{QStringLiteral("image"), QStringLiteral("varbinary"), QStringLiteral("binary")};
    return large.contains(type);
}

// Types whose values come back through Qt unchanged, so "column = value" finds
// exactly the row they were read from. Not datetime: since SQL Server 2016 it
// no longer equals the millisecond value Qt reads from it.
bool isExactKeyType(const QString& type)
{
    static const QSet<QString> exact{QStringLiteral("tinyint"),  QStringLiteral("smallint"),
                                     QStringLiteral("int"),      QStringLiteral("bigint"),
                                     QStringLiteral("bit"),      QStringLiteral("char"),
                                     QStringLiteral("varchar"),  QStringLiteral("nchar"),
                                     QStringLiteral("nvarchar"), QStringLiteral("binary"),
                                     QStringLiteral("varbinary"), QStringLiteral("date"),
                                     QStringLiteral("smalldatetime")};
    return exact.contains(type);
}

// Qt passes text as nvarchar; compared with a char or varchar column as it is,
// it would make SQL Server scan the table instead of seeking the key.
QString keyPlaceholder(const QString& type)
{
    const bool narrowText = type == QLatin1String("char") || type == QLatin1String("varchar");
    return narrowText ? QStringLiteral("CAST(? AS varchar(8000))") : QStringLiteral("?");
}

// Types that convert to varbinary byte for byte, so a digest of them tells
// rows apart whatever the collation or precision.
bool isDigestible(const QString& type)
{
    static const QSet<QString> digestible{
        QStringLiteral("tinyint"),   QStringLiteral("smallint"),   QStringLiteral("int"),
        QStringLiteral("bigint"),    QStringLiteral("bit"),        QStringLiteral("decimal"),
        QStringLiteral("numeric"),   QStringLiteral("money"),      QStringLiteral("smallmoney"),
        QStringLiteral("float"),     QStringLiteral("real"),       QStringLiteral("char"),
        QStringLiteral("varchar"),   QStringLiteral("nchar"),      QStringLiteral("nvarchar"),
        QStringLiteral("binary"),    QStringLiteral("varbinary"),  QStringLiteral("image"),
        QStringLiteral("date"),      QStringLiteral("time"),       QStringLiteral("datetime"),
        QStringLiteral("datetime2"), QStringLiteral("smalldatetime"), QStringLiteral("datetimeoffset"),
        QStringLiteral("uniqueidentifier")};
    return digestible.contains(type);
}

struct ColumnFacts {
    QString type;
    bool nullable;
};

// The first primary key or unique index of exact, non-null columns.
std::vector<KeyPart> uniqueKey(Session& session, const QString& objectName, const std::vector<TableColumn>& columns,
                               const std::vector<ColumnFacts>& facts)
{
    const Session::Rows indexes = session.select(
        QStringLiteral("select i.index_id, c.name from sys.indexes i "
                       "join sys.index_columns ic on ic.object_id = i.object_id and ic.index_id = i.index_id "
                       "and ic.is_included_column = 0 "
                       "join sys.columns c on c.object_id = ic.object_id and c.column_id = ic.column_id "
                       "where i.object_id = OBJECT_ID(?) and i.is_unique = 1 and i.has_filter = 0 "
                       "and i.is_disabled = 0 and i.is_hypothetical = 0 "
                       "order by i.is_primary_key desc, i.index_id, ic.key_ordinal"),
        {objectName});
    std::vector<std::pair<int, std::vector<int>>> candidates;  // index id, its columns
    for (const auto& row : indexes.values) {
        const int id = row[0].toInt();
        if (candidates.empty() || candidates.back().first != id)
            candidates.emplace_back(id, std::vector<int>{});
        const QString name = row[1].toString();
        const auto column = std::find_if(columns.begin(), columns.end(), [&](const TableColumn& c) { return c.name == name; });
        candidates.back().second.push_back(int(column - columns.begin()));
    }
    for (const auto& [id, keyColumns] : candidates) {
        const bool usable = std::all_of(keyColumns.begin(), keyColumns.end(), [&](int c) {
            return c < int(columns.size()) && !facts[c].nullable && isExactKeyType(facts[c].type);
        });
        if (!usable)
            continue;
        std::vector<KeyPart> key;
        for (int c : keyColumns)
            key.push_back({QuoteIdentifier(columns[c].name), keyPlaceholder(facts[c].type), c, false});
        return key;
    }
    return {};
}

} // namespace

std::chrono::milliseconds SqlServerDialect::commitInterval() const
{
    // Short: the rows of a group stay locked against other writers until it
    // commits, and a trigger that rolls back takes the group with it.
    return std::chrono::milliseconds(500);
}

QString SqlServerDialect::beginStatement() const
{
    return QStringLiteral("BEGIN TRANSACTION");
}

QString SqlServerDialect::commitStatement() const
{
    return QStringLiteral("COMMIT TRANSACTION");
}

QString SqlServerDialect::rollbackStatement() const
{
    // A trigger or a deadlock may have ended the transaction already.
    return QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION");
}

void SqlServerDialect::prepareSession(Session& session, const ConnectionSettings&) const
{
    // Without it image and (max) values arrive cut to 4096 bytes: Microsoft's
    // drivers raise the limit at connect, FreeTDS does not.
    session.execute(QStringLiteral("SET TEXTSIZE 2147483647"));
}

std::optional<TableSchema> SqlServerDialect::describeTable(Session& session, const QStringList& name) const
{
    if (name.size() > 2)
        return std::nullopt;
    const QString objectName = QuoteIdentifier(name);
    const Session::Rows columns = session.select(
        QStringLiteral("select c.name, TYPE_NAME(c.system_type_id), c.is_nullable from sys.columns c "
                       "where c.object_id = OBJECT_ID(?) and OBJECTPROPERTY(c.object_id, 'IsUserTable') = 1 "
                       "order by c.column_id"),
        {objectName});
    TableSchema table{name, {}, {}, true};
    std::vector<ColumnFacts> facts;
    for (const auto& column : columns.values) {
        const QString type = column[1].toString();
        table.columns.push_back({column[0].toString(), isLarge(type)});
        facts.push_back({type, column[2].toBool()});
    }
    if (table.columns.empty())
        return std::nullopt;

    table.key = uniqueKey(session, objectName, table.columns, facts);
    if (!table.key.empty())
        return table;
    // No usable key: a row is told by the bytes of all its columns. Rows equal
    // in all of them are interchangeable, so writing any one of them is right.
    table.keyUnique = false;
    for (int c = 0; c < int(table.columns.size()); ++c) {
        if (isDigestible(facts[c].type))
            table.key.push_back(
                {QStringLiteral("HASHBYTES('SHA2_256', CONVERT(varbinary(max), %1))").arg(QuoteIdentifier(table.columns[c].name)),
                 QStringLiteral("?"), c, true});
    }
    return table;
}

QString SqlServerDialect::blobSizeExpression(const QString& quotedColumn) const
{
    return QStringLiteral("DATALENGTH(%1)").arg(quotedColumn);
}

QString SqlServerDialect::blobHeadExpression(const QString& quotedColumn, int bytes) const
{
    return QStringLiteral("CAST(SUBSTRING(%1, 1, %2) AS varbinary(%2))").arg(quotedColumn, QString::number(bytes));
}

QString SqlServerDialect::fetchStatement(const TableSchema& table, const QString& quotedColumn, const QString& condition,
                                         bool forUpdate) const
{
    // UPDLOCK keeps other writers off the row until our transaction ends,
    // while readers go on.
    return QStringLiteral("select top (1) DATALENGTH(%1), %1 from %2%3 where %4")
        .arg(quotedColumn, QuoteIdentifier(table.name),
             forUpdate ? QStringLiteral(" WITH (UPDLOCK, ROWLOCK)") : QString(), condition);
}

qint64 SqlServerDialect::updateRow(Session& session, const TableSchema& table, const QString& assignments,
                                   const QString& condition, const QVariantList& parameters) const
{
    // The row count comes from OUTPUT: row counts of triggers would blur
    // SQLRowCount, and OUTPUT without INTO is refused on tables with triggers.
    QSqlQuery update = session.execute(
        QStringLiteral("SET NOCOUNT ON; DECLARE @written TABLE (n int); "
                       "UPDATE TOP (1) %1 SET %2 OUTPUT 1 INTO @written WHERE %3; "
                       "SELECT COUNT(*) FROM @written")
            .arg(QuoteIdentifier(table.name), assignments, condition),
        parameters);
    while (!update.isSelect() && update.nextResult()) {
    }
    return update.next() ? update.value(0).toLongLong() : 0;
}
