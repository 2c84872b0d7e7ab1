#include "data/SqlServerDialect.h"

#include "data/Statements.h"
#include "data/SimpleSelect.h"
#include "data/SqlError.h"

#include <QRegularExpression>
#include <QSet>

#include <QSqlError>
#include <QSqlRecord>

#include <algorithm>

namespace {

struct ColumnFacts {
    QString type;    // TYPE_NAME: "varbinary", "nvarchar"...
    int maxLength;   // bytes; -1 for the (max) types
    int precision;
    int scale;
    bool nullable;
    QString collation;  // of text columns
    // Narrow text made by CAST takes the database's collation, whose code
    // page may not be the column's.
    bool inDatabaseCodePage;
};

// A name as OBJECT_ID takes it, sent as its UTF-16 bytes: FreeTDS sends text
// in the database's code page, which may not hold it.
const QString objectId = QStringLiteral("OBJECT_ID(CAST(CAST(? AS varbinary(8000)) AS nvarchar(4000)))");

QByteArray objectName(const QStringList& name)
{
    const QString quoted = QuoteIdentifier(name);
    return QByteArray(reinterpret_cast<const char*>(quoted.utf16()), quoted.size() * 2);
}

// Only these hold a picture of any size byte for byte.
bool isLarge(const ColumnFacts& c)
{
    return c.type == QLatin1String("image") || (c.type == QLatin1String("varbinary") && c.maxLength == -1);
}

QString declaredType(const ColumnFacts& c)
{
    static const QSet<QString> sized{QStringLiteral("char"), QStringLiteral("varchar"), QStringLiteral("binary"),
                                     QStringLiteral("varbinary")};
    static const QSet<QString> wide{QStringLiteral("nchar"), QStringLiteral("nvarchar")};
    if (c.maxLength == -1 && (sized.contains(c.type) || wide.contains(c.type)))
        return c.type + QStringLiteral("(max)");
    if (sized.contains(c.type))
        return QStringLiteral("%1(%2)").arg(c.type).arg(c.maxLength);
    if (wide.contains(c.type))
        return QStringLiteral("%1(%2)").arg(c.type).arg(c.maxLength / 2);
    if (c.type == QLatin1String("decimal") || c.type == QLatin1String("numeric"))
        return QStringLiteral("%1(%2,%3)").arg(c.type).arg(c.precision).arg(c.scale);
    return c.type;
}

// How a key column is read and found again so that "column = value" finds
// exactly the row it was read from, over any driver: every compared value
// is cast to the column's type, since Microsoft's drivers declare bytes as
// image (which compares with nothing) and FreeTDS sends text in the
// database's code page. Text therefore travels as its bytes. nullopt for
// types Qt does not carry exactly (float, datetime since 2016, (max) types).
// Rows are read in the order of the types whose order the protocol tests
// check; date and smalldatetime keys are only compared for equality.
std::optional<KeyPart> exactPart(const QString& quoted, const ColumnFacts& c, int column)
{
    const auto part = [&](const QString& selected, const QString& placeholder, bool ordered = true) {
        return KeyPart{selected, quoted, placeholder, column, KeyPart::Of::Value, ordered};
    };
    static const QSet<QString> integers{QStringLiteral("tinyint"), QStringLiteral("smallint"), QStringLiteral("int"),
                                        QStringLiteral("bigint"), QStringLiteral("bit")};
    if (integers.contains(c.type))
        return part(quoted, QStringLiteral("?"));
    if (c.maxLength == -1)
        return std::nullopt;
    const QString bytes = QStringLiteral("CAST(%1 AS varbinary(8000))").arg(quoted);
    if (c.type == QLatin1String("nchar") || c.type == QLatin1String("nvarchar"))
        return part(bytes, QStringLiteral("CAST(CAST(? AS varbinary(8000)) AS nvarchar(4000))"));
    // The column's collation decides the comparison (collation precedence),
    // so the server compares as it orders the column.
    const bool narrow = c.type == QLatin1String("char") || c.type == QLatin1String("varchar");
    if (narrow && c.inDatabaseCodePage)
        return part(bytes, QStringLiteral("CAST(CAST(? AS varbinary(8000)) AS varchar(8000))"));
    // Bytes would be read in the database's code page: the text travels as
    // UTF-16, made the column's by COLLATE before it is narrowed.
    // nvarchar(4000) holds any varchar(4000); longer ones are left out of keys.
    static const QRegularExpression collationName(QStringLiteral("^[A-Za-z0-9_]+$"));
    if (narrow && c.maxLength <= 4000 && collationName.match(c.collation).hasMatch())
        return part(QStringLiteral("CAST(CAST(%1 AS nvarchar(4000)) AS varbinary(8000))").arg(quoted),
                    QStringLiteral("CAST(CAST(CAST(? AS varbinary(8000)) AS nvarchar(4000)) COLLATE %1 AS varchar(8000))").arg(c.collation));
    if (narrow)
        return std::nullopt;
    if (c.type == QLatin1String("binary") || c.type == QLatin1String("varbinary"))
        return part(quoted, QStringLiteral("CAST(? AS varbinary(8000))"));
    if (c.type == QLatin1String("decimal") || c.type == QLatin1String("numeric"))
        return part(QStringLiteral("CAST(%1 AS varchar(41))").arg(quoted),
                    QStringLiteral("CAST(? AS %1)").arg(declaredType(c)));
    if (c.type == QLatin1String("uniqueidentifier"))
        return part(QStringLiteral("CAST(%1 AS char(36))").arg(quoted), QStringLiteral("CAST(? AS uniqueidentifier)"));
    if (c.type == QLatin1String("date") || c.type == QLatin1String("smalldatetime"))
        return part(quoted, QStringLiteral("?"), false);
    return std::nullopt;
}

// Types that convert to varbinary byte for byte, so a digest of them tells
// rows apart whatever the collation or precision.
bool isDigestible(const QString& type)
{
    static const QSet<QString> digestible{
        QStringLiteral("decimal"),   QStringLiteral("numeric"),   QStringLiteral("money"),
        QStringLiteral("smallmoney"), QStringLiteral("float"),    QStringLiteral("real"),
        QStringLiteral("char"),      QStringLiteral("varchar"),   QStringLiteral("nchar"),
        QStringLiteral("nvarchar"),  QStringLiteral("binary"),    QStringLiteral("varbinary"),
        QStringLiteral("image"),     QStringLiteral("time"),      QStringLiteral("datetime"),
        QStringLiteral("datetime2"), QStringLiteral("datetimeoffset"), QStringLiteral("uniqueidentifier")};
    return digestible.contains(type);
}

// The first primary key or unique index of exact, non-null columns.
std::vector<KeyPart> uniqueKey(Statements& session, const QStringList& tableName, const std::vector<TableColumn>& columns,
                               const std::vector<ColumnFacts>& facts)
{
    const Statements::Rows indexes = session.select(
        QStringLiteral("select i.index_id, c.name from sys.indexes i "
                       "join sys.index_columns ic on ic.object_id = i.object_id and ic.index_id = i.index_id "
                       "and ic.is_included_column = 0 "
                       "join sys.columns c on c.object_id = ic.object_id and c.column_id = ic.column_id "
                       "where i.object_id = %1 and i.is_unique = 1 and i.has_filter = 0 "
                       "and i.is_disabled = 0 and i.is_hypothetical = 0 "
                       "order by i.is_primary_key desc, i.index_id, ic.key_ordinal")
            .arg(objectId),
        {objectName(tableName)});
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
        std::vector<KeyPart> key;
        for (int c : keyColumns) {
            if (c >= int(columns.size()) || facts[c].nullable)
                break;
            const std::optional<KeyPart> part = exactPart(QuoteIdentifier(columns[c].name), facts[c], c);
            if (!part)
                break;
            key.push_back(*part);
        }
        if (key.size() == keyColumns.size())
            return key;
    }
    return {};
}

// No usable key: a row is told by all its columns. Exact ones and the sizes
// of the others find the candidates, an index on BCE01 helping; only they
// are digested.
std::vector<KeyPart> wholeRowKey(const std::vector<TableColumn>& columns, const std::vector<ColumnFacts>& facts)
{
    std::vector<KeyPart> key;
    for (int c = 0; c < int(columns.size()); ++c) {
        const QString quoted = QuoteIdentifier(columns[c].name);
        if (const std::optional<KeyPart> part = exactPart(quoted, facts[c], c)) {
            key.push_back(*part);
            continue;
        }
        if (!isDigestible(facts[c].type))
            continue;
        const QString size = QStringLiteral("DATALENGTH(%1)").arg(quoted);
        const QString digest = QStringLiteral("HASHBYTES('SHA2_256', CONVERT(varbinary(max), %1))").arg(quoted);
        key.push_back({size, size, QStringLiteral("?"), c, KeyPart::Of::Size});
        key.push_back({digest, digest, QStringLiteral("CAST(? AS varbinary(8000))"), c, KeyPart::Of::Digest});
    }
    return key;
}

// HASHBYTES takes more than 8000 bytes, and SHA2_256, from SQL Server 2016 on.
void requireDigestsOfAnySize(Statements& session, const QString& tableName)
{
    const QString version =
        session.select(QStringLiteral("select CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(128))")).values.front()[0].toString();
    if (version.section(QLatin1Char('.'), 0, 0).toInt() < 13)
        throw EDatabaseError(
            QStringLiteral("%1 has no primary key, and SQL Server %2 cannot tell its rows apart by their pictures "
                           "(that needs SQL Server 2016 or later). Give %1 a primary key, then start again.")
                .arg(tableName, version));
}

// The table a name stands for: itself, or the table of a synonym.
std::optional<QStringList> baseTable(Statements& session, const QStringList& name)
{
    const Statements::Rows found = session.select(
        QStringLiteral("select o.type, PARSENAME(s.base_object_name, 4), PARSENAME(s.base_object_name, 3), "
                       "PARSENAME(s.base_object_name, 2), PARSENAME(s.base_object_name, 1), DB_NAME() "
                       "from sys.objects o left join sys.synonyms s on s.object_id = o.object_id "
                       "where o.object_id = %1")
            .arg(objectId),
        {objectName(name)});
    if (found.values.empty())
        return std::nullopt;
    const std::vector<QVariant>& object = found.values.front();
    const QString type = object[0].toString().trimmed();
    const QString shown = name.join(QLatin1Char('.'));
    if (type == QLatin1String("U"))
        return name;
    if (type == QLatin1String("V"))
        throw ViewRefused(shown);
    if (type != QLatin1String("SN"))
        throw EDatabaseError(QStringLiteral("%1 is not a table (object type %2)").arg(shown, type));
    QStringList base;
    for (int part = 1; part <= 4; ++part) {
        if (!object[part].isNull())
            base << object[part].toString();
    }
    const bool elsewhere = !object[1].isNull() ||
                           (!object[2].isNull() && object[2].toString().compare(object[5].toString(), Qt::CaseInsensitive) != 0);
    if (elsewhere)
        throw EDatabaseError(QStringLiteral("%1 is a synonym of %2 in another database: convert the pictures there.")
                                 .arg(shown, QuoteIdentifier(base)));
    base = base.mid(base.size() - std::min<qsizetype>(base.size(), 2));
    const std::optional<QStringList> table = baseTable(session, base);
    if (!table)
        throw EDatabaseError(QStringLiteral("%1 is a synonym of %2, which does not exist").arg(shown, QuoteIdentifier(base)));
    return table;
}

struct UpdateTrigger {
    QString name;
    bool insteadOf;
};

// The enabled triggers an UPDATE of the table fires (event type 2 in sys.events).
std::vector<UpdateTrigger> updateTriggers(Statements& session, const QStringList& tableName)
{
    const Statements::Rows found = session.select(
        QStringLiteral("select t.name, t.is_instead_of_trigger from sys.triggers t "
                       "join sys.trigger_events e on e.object_id = t.object_id "
                       "where t.parent_id = %1 and t.is_disabled = 0 and e.type = 2 "
                       "order by t.is_instead_of_trigger desc, t.name")
            .arg(objectId),
        {objectName(tableName)});
    std::vector<UpdateTrigger> triggers;
    for (const auto& row : found.values)
        triggers.push_back({row[0].toString(), row[1].toBool()});
    return triggers;
}

// OUTPUT sees the row an INSTEAD OF UPDATE trigger was handed, not what it
// stored: a value it kept as a bitmap would be counted as converted. A table
// has at most one.
void refuseInsteadOfUpdate(Statements& session, const QStringList& tableName)
{
    const std::vector<UpdateTrigger> triggers = updateTriggers(session, tableName);
    if (triggers.empty() || !triggers.front().insteadOf)
        return;
    const QString table = tableName.join(QLatin1Char('.'));
    const QString trigger = triggers.front().name;
    // A trigger is in its table's schema.
    throw EDatabaseError(QStringLiteral("Table %1 has the INSTEAD OF UPDATE trigger \"%2\": the values it would write cannot be "
                                        "checked; disable it for the run (DISABLE TRIGGER %3 ON %4) or convert elsewhere")
                             .arg(table, trigger, QuoteIdentifier(tableName.mid(0, tableName.size() - 1) << trigger),
                                  QuoteIdentifier(tableName)));
}

const QString rowSavepoint = QStringLiteral("bmp2jpg_row");

// A failed UPDATE may have left part of itself: an AFTER trigger that
// raises an error without rolling back leaves the row written. The row goes
// back to the savepoint taken before it; where that cannot be done, the
// transaction ends, so that nothing of the statement is committed.
EDatabaseError undoFailedUpdate(Statements& session, const TableSchema& table, const EDatabaseError& failure)
{
    try {
        session.execute(QStringLiteral("IF XACT_STATE() = 1 ROLLBACK TRANSACTION %1").arg(rowSavepoint));
    } catch (const EDatabaseError&) {
        try {
            session.rollbackTransaction();
        } catch (const EDatabaseError&) {
        }
    }
    QString text = QString::fromUtf8(failure.what());
    std::vector<UpdateTrigger> triggers;
    try {
        if (!failure.lockConflict())
            triggers = updateTriggers(session, table.name);
    } catch (const EDatabaseError&) {
    }
    if (!triggers.empty()) {
        QStringList names;
        for (const UpdateTrigger& trigger : triggers)
            names << u'"' + trigger.name + u'"';
        text += QStringLiteral(" (in the UPDATE of table %1, which fires the trigger%2 %3)")
                    .arg(table.name.join(u'.'), triggers.size() > 1 ? QStringLiteral("s") : QString(), names.join(QStringLiteral(", ")));
    }
    return EDatabaseError(text, failure.lockConflict());
}

} // namespace

std::chrono::milliseconds SqlServerDialect::commitInterval() const
{
    // Short: the rows of a group stay locked against other writers until it
    // commits, and a trigger that rolls back takes the group with it.
    return std::chrono::milliseconds(500);
}

// Locks are taken row by row and granted to waiters in the order they asked.
std::chrono::milliseconds SqlServerDialect::writersTurn() const
{
    return std::chrono::milliseconds(0);
}

// ODBC asks applications to end transactions through the driver: a COMMIT
// sent as a statement in autocommit mode leaves the driver's idea of the
// transaction and the server's apart.
void SqlServerDialect::begin(Statements& session) const
{
    session.beginTransaction();
}

void SqlServerDialect::commit(Statements& session) const
{
    session.commitTransaction();
}

void SqlServerDialect::rollback(Statements& session) const
{
    session.rollbackTransaction();
}

// A deadlock victim's transaction is gone (1205), a lock timeout leaves it
// open (1222), XACT_ABORT or a severe error may leave it uncommittable (-1).
bool SqlServerDialect::holdsTransaction(Statements& session) const
{
    const Statements::Rows state = session.select(QStringLiteral("SELECT XACT_STATE()"));
    return !state.values.empty() && state.values.front()[0].toInt() == 1;
}

void SqlServerDialect::prepareSession(Statements& session, const ConnectionSettings&) const
{
    // Without it image and (max) values arrive cut to 4096 bytes: Microsoft's
    // drivers raise the limit at connect, FreeTDS does not.
    session.execute(QStringLiteral("SET TEXTSIZE 2147483647"));
    // A row another client keeps locked fails our statement (1222) instead
    // of stopping the run without a word; the wait is the embedded server's.
    session.execute(QStringLiteral("SET LOCK_TIMEOUT %1").arg(LockWait.count()));
}

std::optional<TableSchema> SqlServerDialect::describeTable(Statements& session, const QStringList& name) const
{
    if (name.size() > 2)
        return std::nullopt;
    const std::optional<QStringList> tableName = baseTable(session, name);
    if (!tableName)
        return std::nullopt;
    refuseInsteadOfUpdate(session, *tableName);
    const Statements::Rows columns = session.select(
        QStringLiteral("select c.name, TYPE_NAME(c.system_type_id), c.max_length, c.precision, c.scale, c.is_nullable, "
                       "c.collation_name, CAST(COLLATIONPROPERTY(c.collation_name, 'CodePage') AS int), "
                       "CAST(COLLATIONPROPERTY(CAST(DATABASEPROPERTYEX(DB_NAME(), 'Collation') AS nvarchar(128)), 'CodePage') AS int) "
                       "from sys.columns c where c.object_id = %1 order by c.column_id")
            .arg(objectId),
        {objectName(*tableName)});
    TableSchema table{*tableName, {}, {}, true};
    std::vector<ColumnFacts> facts;
    for (const auto& column : columns.values) {
        const ColumnFacts c{column[1].toString(), column[2].toInt(), column[3].toInt(), column[4].toInt(), column[5].toBool(),
                            column[6].toString(), column[7] == column[8]};
        table.columns.push_back({column[0].toString(), isLarge(c), declaredType(c)});
        facts.push_back(c);
    }
    if (table.columns.empty())
        return std::nullopt;

    table.key = uniqueKey(session, *tableName, table.columns, facts);
    if (table.key.empty()) {
        requireDigestsOfAnySize(session, name.join(QLatin1Char('.')));
        table.key = wholeRowKey(table.columns, facts);
        table.unique = false;
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
                                         RowLock lock) const
{
    // UPDLOCK keeps other writers off the row until our transaction ends,
    // while readers go on. READPAST skips rows others hold locked.
    const QString hints = lock == RowLock::Wait         ? QStringLiteral(" WITH (UPDLOCK, ROWLOCK)")
                          : lock == RowLock::SkipLocked ? QStringLiteral(" WITH (UPDLOCK, ROWLOCK, READPAST)")
                                                        : QString();
    return QStringLiteral("select top (1) DATALENGTH(%1), %1 from %2%3 where %4")
        .arg(quotedColumn, QuoteIdentifier(table.name), hints, condition);
}

QString SqlServerDialect::pageStatement(const TableSchema& table, const QString& selectList, const QString& condition,
                                        const QString& order, int rows) const
{
    const QString where = condition.isEmpty() ? QString() : QStringLiteral(" where ") + condition;
    return QStringLiteral("select top (%1) %2 from %3%4 order by %5")
        .arg(QString::number(rows), selectList, QuoteIdentifier(table.name), where, order);
}

// Read without locks: any keys make ranges that hold each row exactly once,
// so another client's write in progress can only make the parts uneven,
// and waiting for it would hold up the run. ROW_NUMBER, unlike OFFSET, is
// there since SQL Server 2005.
std::optional<std::vector<std::vector<QVariant>>> SqlServerDialect::keyBounds(Statements& session, const TableSchema& table,
                                                                              const QStringList& keyParts,
                                                                              const QString& order, int parts) const
{
    const QString from = QuoteIdentifier(table.name) + QStringLiteral(" WITH (NOLOCK)");
    const qint64 rows = session.select(QStringLiteral("select count(*) from %1").arg(from)).values.front()[0].toLongLong();
    std::vector<qint64> positions;
    for (int part = 1; part < parts; ++part) {
        const qint64 position = rows * part / parts + 1;
        if (position > 1 && position <= rows && (positions.empty() || position > positions.back()))
            positions.push_back(position);
    }
    if (positions.empty())
        return std::vector<std::vector<QVariant>>{};
    QStringList inner;
    QStringList outer;
    for (int i = 0; i < keyParts.size(); ++i) {
        inner << QStringLiteral("%1 AS bmp2jpg_key%2").arg(keyParts[i]).arg(i);
        outer << QStringLiteral("bmp2jpg_key%1").arg(i);
    }
    QStringList numbers;
    for (const qint64 position : positions)
        numbers << QString::number(position);
    return session
        .select(QStringLiteral("select %1 from (select %2, ROW_NUMBER() OVER (ORDER BY %3) AS bmp2jpg_position from %4) AS k "
                               "where bmp2jpg_position in (%5) order by bmp2jpg_position")
                    .arg(outer.join(QStringLiteral(", ")), inner.join(QStringLiteral(", ")), order, from,
                         numbers.join(QStringLiteral(", "))))
        .values;
}

// Microsoft's drivers declare bytes as image, which only converts explicitly.
QString SqlServerDialect::blobPlaceholder() const
{
    return QStringLiteral("CAST(? AS varbinary(max))");
}

qint64 SqlServerDialect::updateRow(Statements& session, const TableSchema& table, const QString& assignments,
                                   const QString& condition, const QVariantList& parameters) const
{
    // The row count comes from OUTPUT: row counts of triggers would blur
    // SQLRowCount, and OUTPUT without INTO is refused on tables with triggers.
    // It is read by name, past any rows a trigger returns.
    const QString statement = QStringLiteral("SET NOCOUNT ON; SAVE TRANSACTION %1; DECLARE @written TABLE (n int); "
                                             "UPDATE TOP (1) %2 SET %3 OUTPUT 1 INTO @written WHERE %4; "
                                             "SELECT COUNT(*) AS rows_written FROM @written")
                                  .arg(rowSavepoint, QuoteIdentifier(table.name), assignments, condition);
    try {
        for (const Statements::Rows& result : session.run(statement, parameters)) {
            if (result.record.indexOf(QStringLiteral("rows_written")) == 0 && !result.values.empty())
                return result.values.front()[0].toLongLong();
        }
        throw EDatabaseError(QStringLiteral("The server did not say how many rows the update wrote"));
    } catch (const EDatabaseError& failure) {
        throw undoFailedUpdate(session, table, failure);
    }
}
