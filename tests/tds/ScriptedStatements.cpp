#include "tests/tds/ScriptedTable.h"

#include "tests/tds/SqlExpression.h"
#include "tests/tds/SqlValues.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ranges>

namespace {

const QString identifier = QStringLiteral(R"((\[[^\]]+\]|[A-Za-z_]\w*))");
// OBJECT_ID's argument: a text parameter, or bytes cast to nvarchar.
const QString nameArgument =
    QStringLiteral(R"((?:cast\(cast\()?(\?|@\w+)(?: as varbinary\(8000\)\) as nvarchar\(4000\)\))?)");
const QString objectName = QStringLiteral(R"((?:\[[^\]]+\]|[A-Za-z_]\w*)(?:\.(?:\[[^\]]+\]|[A-Za-z_]\w*)){0,2})");

QString unquoted(const QString& name)
{
    return name.startsWith(QLatin1Char('[')) ? name.mid(1, name.size() - 2) : name;
}

// One space between words and none around punctuation, so that patterns
// need not spell out every spacing a statement may have.
QString normalized(const QString& text)
{
    static const QRegularExpression around(QStringLiteral(R"(\s*([(,;=<>])\s*)"));
    static const QRegularExpression beforeClose(QStringLiteral(R"(\s+\))"));
    QString s = text.simplified().replace(around, QStringLiteral("\\1")).replace(beforeClose, QStringLiteral(")"));
    while (s.endsWith(QLatin1Char(';')))
        s.chop(1);
    return s;
}

QRegularExpressionMatch whole(const QString& pattern, const QString& text)
{
    return QRegularExpression(QStringLiteral("^(?:%1)$").arg(pattern), QRegularExpression::CaseInsensitiveOption).match(text);
}

StatementReply failed(int number, const QString& text)
{
    StatementReply reply;
    reply.error = SqlFailure{number, 16, text};
    return reply;
}

StatementReply rowsReply(SqlResult result)
{
    StatementReply reply;
    reply.count = qint64(result.rows.size());
    reply.result = std::move(result);
    return reply;
}

// PARSENAME(name, part): part 1 the object, 2 the schema, 3 the database.
QVariant nameComponent(const QString& name, int part)
{
    static const QRegularExpression component(QStringLiteral(R"(\[((?:[^\]]|\]\])*)\]|([^.\[]+))"));
    QStringList parts;
    for (const QRegularExpressionMatch& m : component.globalMatch(name))
        parts.prepend(m.hasCaptured(1) ? m.captured(1).replace(QStringLiteral("]]"), QStringLiteral("]")) : m.captured(2));
    return name.isEmpty() || part > parts.size() ? QVariant(QMetaType::fromType<QString>()) : QVariant(parts[part - 1]);
}

using Handler = std::function<std::vector<StatementReply>()>;

class Request {
public:
    Request(ScriptedTable& table, const std::vector<ReadFailure>& failures, ScriptedSession& session,
            const std::vector<RpcParameter>& parameters, const QString& text)
        : table_(table), failures_(failures), session_(session), parameters_(parameters), text_(text)
    {
        scope_.column = [this](const QString& name) -> std::optional<size_t> {
            for (size_t c = 0; c < table_.columns.size(); ++c) {
                if (table_.columns[c].name.compare(name, Qt::CaseInsensitive) == 0)
                    return c;
            }
            return std::nullopt;
        };
        scope_.columnType = [this](size_t c) { return table_.columnType(c); };
        scope_.cell = [this](size_t row, size_t c) { return cell(row, c); };
        scope_.parameter = [this](const QString& token) { return parameter(token); };
        scope_.databaseCollation = table_.databaseCollation;
        scope_.serverMajorVersion = table_.majorVersion();
    }

    // Throws SqlFailure for what SQL Server refuses to compile.
    std::optional<Handler> recognize(const QString& statement);
    Handler write(const QRegularExpressionMatch& m);

private:
    QVariant cell(size_t row, size_t column) const
    {
        const auto written = session_.pending.find({row, column});
        return written != session_.pending.end() ? written->second : table_.cell(row, column);
    }
    const RpcParameter* parameter(const QString& token)
    {
        if (token == QLatin1String("?"))
            return next_ < parameters_.size() ? &parameters_[next_++] : nullptr;
        for (const RpcParameter& p : parameters_) {
            if (p.name.compare(token, Qt::CaseInsensitive) == 0)
                return &p;
        }
        // Parameters may come unnamed; @Pn is then the n-th.
        const QRegularExpressionMatch n = whole(QStringLiteral(R"(@P(\d+))"), token);
        const size_t index = n.hasMatch() ? n.captured(1).toULongLong() : 0;
        return index > 0 && index <= parameters_.size() ? &parameters_[index - 1] : nullptr;
    }
    // A name given as text, or as its UTF-16 bytes cast to nvarchar.
    QString parameterText(const QString& token)
    {
        const RpcParameter* p = parameter(token);
        if (!p || p->value.typeId() != QMetaType::QByteArray)
            return p ? p->value.toString() : QString();
        const QByteArray bytes = p->value.toByteArray();
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
    }
    ObjectKind resolve(const QString& name) const { return table_.resolve(name, session_.database); }
    void checkTable(const QString& name) const
    {
        if (resolve(name) == ObjectKind::None)
            throw SqlFailure{208, 16, QStringLiteral("Invalid object name '%1'.").arg(unquoted(name))};
    }
    // A WHERE clause: its condition, and the bounds a seek may use.
    struct Filter {
        std::optional<Condition> condition;
        std::vector<ColumnBound> bounds;
    };
    // The rows a table stored in key order can hold for `filter`: those its
    // bounds on the key leave, found by binary search as SQL Server seeks.
    std::pair<size_t, size_t> keyRange(const Filter& filter) const
    {
        size_t begin = 0, end = table_.rowCount();
        // An empty table is not sought: the scan would evaluate no bound.
        if (!table_.storedInKeyOrder || table_.key.size() != 1 || end == 0)
            return {begin, end};
        const std::optional<size_t> key = scope_.column(table_.key.front());
        for (const ColumnBound& bound : filter.bounds) {
            if (bound.column != *key)
                continue;
            const QVariant value = bound.value.value(0);  // the same for every row
            if (value.isNull())
                return {0, 0};  // nothing compares true with NULL
            const auto order = [&](size_t r) { return *Compared(cell(r, *key), table_.columnType(*key), value, bound.value.type); };
            // Rows [0, equal) order before the value, [equal, after) with it, the rest after it.
            const size_t equal = *std::ranges::partition_point(std::views::iota(size_t(0), table_.rowCount()),
                                                               [&](size_t r) { return order(r) < 0; });
            const size_t after = *std::ranges::partition_point(std::views::iota(equal, table_.rowCount()),
                                                               [&](size_t r) { return order(r) == 0; });
            begin = std::max(begin, bound.less ? size_t(0) : bound.equal ? equal : after);
            end = std::min(end, bound.greater ? table_.rowCount() : bound.equal ? after : equal);
        }
        return {begin, std::max(begin, end)};
    }
    // In the order the rows are stored; the first `most` of them. Still the
    // whole condition decides each row, as a scan would.
    std::vector<size_t> matchingRows(const Filter& filter, size_t most = SIZE_MAX) const
    {
        std::vector<size_t> rows;
        const auto [begin, end] = keyRange(filter);
        for (size_t r = begin; r < end && rows.size() < most; ++r) {
            if (!filter.condition || (*filter.condition)(r) == true)
                rows.push_back(r);
        }
        return rows;
    }
    Filter where(const QString& text)
    {
        if (text.isEmpty())
            return {};
        ExpressionParser parser(text, scope_);
        Condition condition = parser.condition();
        parser.expectEnd();
        return {condition, parser.bounds()};
    }

    Handler select(const QRegularExpressionMatch& m);
    Handler keysAt(const QRegularExpressionMatch& m);
    std::vector<std::function<int(size_t, size_t)>> ordering(const QString& text);
    void sort(std::vector<size_t>& rows, const std::vector<std::function<int(size_t, size_t)>>& order) const;
    std::optional<StatementReply> lockRefused(const std::vector<size_t>& rows, bool write, bool plainRead = false);
    StatementReply object(const QString& name) const;
    StatementReply columns(const QString& name) const;
    StatementReply keys(const QString& name) const;
    StatementReply transaction(char change, bool quietly);

    ScriptedTable& table_;
    const std::vector<ReadFailure>& failures_;
    ScriptedSession& session_;
    const std::vector<RpcParameter>& parameters_;
    const QString& text_;
    ExpressionScope scope_;
    size_t next_ = 0;  // the next positional parameter
};

Handler Request::select(const QRegularExpressionMatch& m)
{
    const QString top = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
    checkTable(m.captured(u"table"));
    std::vector<Expression> items;
    bool count = false;
    ExpressionParser list(m.captured(u"list"), scope_);
    do {
        if (list.accept(QStringLiteral("count"))) {
            list.expect(QStringLiteral("("));
            if (!list.acceptPunctuation(QStringLiteral("*")))
                list.expression();
            list.expect(QStringLiteral(")"));
            count = true;
            items.push_back({{QString(), SqlType::Int}, {}});
        } else {
            items.push_back(list.expression());
        }
        if (list.accept(QStringLiteral("as")))
            items.back().type.name = list.word();
    } while (list.acceptPunctuation(QStringLiteral(",")));
    list.expectEnd();
    const Filter condition = where(m.captured(u"where"));
    const std::vector<std::function<int(size_t, size_t)>> order = ordering(m.captured(u"order"));

    const bool updateLock = m.captured(u"hints").contains(QLatin1String("updlock"), Qt::CaseInsensitive);
    const bool readPast = m.captured(u"hints").contains(QLatin1String("readpast"), Qt::CaseInsensitive);
    const bool noLock = m.captured(u"hints").contains(QLatin1String("nolock"), Qt::CaseInsensitive);
    const bool inStoredOrder = table_.storedInKeyOrder && table_.key.size() == 1 &&
                               (!m.hasCaptured(u"order") || unquoted(m.captured(u"order")).compare(table_.key.front(), Qt::CaseInsensitive) == 0);
    const size_t most = inStoredOrder && !top.isEmpty() && !count && !readPast ? top.toULongLong() : SIZE_MAX;
    return [this, top, items, count, condition, order, updateLock, readPast, noLock, most] {
        std::vector<size_t> rows = matchingRows(condition, most);
        if (updateLock && readPast) {
            std::erase_if(rows, [&](size_t r) {
                return std::any_of(table_.otherSessionLocks.begin(), table_.otherSessionLocks.end(),
                                   [&](const ScriptedTable::OtherSessionLock& l) { return size_t(l.row - 1) == r; });
            });
        } else if (updateLock) {
            // A table without a unique index is scanned: the read meets every row's lock.
            std::vector<size_t> touched = rows;
            if (table_.key.empty())
                touched = matchingRows({});
            if (std::optional<StatementReply> refused = lockRefused(touched, false))
                return std::vector<StatementReply>{*refused};
        }
        sort(rows, order);
        if (!top.isEmpty() && rows.size() > top.toULongLong())
            rows.resize(top.toULongLong());
        // Under READ COMMITTED a read waits for each row it returns that another session is writing.
        if (!updateLock && !noLock) {
            if (std::optional<StatementReply> refused = lockRefused(rows, false, true))
                return std::vector<StatementReply>{*refused};
        }
        SqlResult result;
        for (const Expression& item : items)
            result.columns.push_back(item.type);
        if (count) {
            result.rows.push_back({QVariant(qlonglong(rows.size()))});
        } else {
            for (size_t r : rows) {
                SqlRow row;
                for (const Expression& item : items)
                    row.push_back(item.value(r));
                result.rows.push_back(row);
            }
        }
        StatementReply reply = rowsReply(std::move(result));
        for (const ReadFailure& failure : failures_) {
            if (failure.statement.match(text_).hasMatch() && int(reply.result->rows.size()) > failure.afterRows) {
                reply.result->rows.resize(failure.afterRows);
                reply.error = failure.error;
            }
        }
        reply.count = qint64(reply.result->rows.size());
        return std::vector<StatementReply>{reply};
    };
}

// The terms of an ORDER BY; none for an empty text.
std::vector<std::function<int(size_t, size_t)>> Request::ordering(const QString& text)
{
    std::vector<std::function<int(size_t, size_t)>> order;
    if (text.isEmpty())
        return order;
    ExpressionParser by(text, scope_);
    do
        order.push_back(by.ordering());
    while (by.acceptPunctuation(QStringLiteral(",")));
    by.expectEnd();
    return order;
}

void Request::sort(std::vector<size_t>& rows, const std::vector<std::function<int(size_t, size_t)>>& order) const
{
    std::stable_sort(rows.begin(), rows.end(), [&order](size_t a, size_t b) {
        for (const auto& by : order) {
            if (const int o = by(a, b))
                return o < 0;
        }
        return false;
    });
}

// The keys of the rows at some positions of the table in an order, as
// ROW_NUMBER() numbers them: the one statement of this shape the program sends.
Handler Request::keysAt(const QRegularExpressionMatch& m)
{
    checkTable(m.captured(u"table"));
    std::vector<Expression> items;
    ExpressionParser list(m.captured(u"list"), scope_);
    do {
        items.push_back(list.expression());
        if (list.accept(QStringLiteral("as")))
            items.back().type.name = list.word();
    } while (list.acceptPunctuation(QStringLiteral(",")));
    list.expectEnd();
    const std::vector<std::function<int(size_t, size_t)>> order = ordering(m.captured(u"order"));
    std::vector<size_t> positions;
    for (const QString& position : m.captured(u"positions").split(u','))
        positions.push_back(position.toULongLong());
    const bool inStoredOrder = table_.storedInKeyOrder && table_.key.size() == 1 &&
                               unquoted(m.captured(u"order")).compare(table_.key.front(), Qt::CaseInsensitive) == 0;
    return [this, items, order, positions, inStoredOrder] {
        std::vector<size_t> rows;
        if (inStoredOrder) {
            for (size_t r = 0; r < table_.rowCount(); ++r)
                rows.push_back(r);
        } else {
            rows = matchingRows({});
            sort(rows, order);
        }
        SqlResult result;
        for (const Expression& item : items)
            result.columns.push_back(item.type);
        for (const size_t position : positions) {
            if (position < 1 || position > rows.size())
                continue;
            SqlRow row;
            for (const Expression& item : items)
                row.push_back(item.value(rows[position - 1]));
            result.rows.push_back(row);
        }
        return std::vector<StatementReply>{rowsReply(std::move(result))};
    };
}

std::optional<StatementReply> Request::lockRefused(const std::vector<size_t>& rows, bool write, bool plainRead)
{
    auto& locks = table_.otherSessionLocks;
    const auto lock = std::find_if(locks.begin(), locks.end(), [&](const ScriptedTable::OtherSessionLock& l) {
        return l.atWrite == write && (!plainRead || l.exclusive) &&
               std::find(rows.begin(), rows.end(), size_t(l.row - 1)) != rows.end();
    });
    if (lock == locks.end())
        return std::nullopt;
    if (lock->after > 0) {
        --lock->after;
        return std::nullopt;
    }
    StatementReply reply;
    if (lock->deadlock) {
        reply = failed(1205, QStringLiteral("Transaction (Process ID 53) was deadlocked on lock resources with another process "
                                            "and has been chosen as the deadlock victim. Rerun the transaction."));
        reply.error->severity = 13;
        if (session_.inTransaction)
            reply.transaction = 'R';
        session_.pending.clear();
        session_.inTransaction = false;
    } else if (!session_.lockTimeout || *session_.lockTimeout < 0) {
        return failed(50000, QStringLiteral("The session never set LOCK_TIMEOUT: SQL Server would wait for ever here"));
    } else {
        reply = failed(1222, QStringLiteral("Lock request time out period exceeded."));
    }
    if (--lock->times == 0) {
        const auto release = lock->release;
        locks.erase(lock);
        if (release)
            release(table_);
    }
    return reply;
}

Handler Request::write(const QRegularExpressionMatch& m)
{
    checkTable(m.captured(u"table"));
    std::vector<std::pair<size_t, Expression>> assignments;
    ExpressionParser set(m.captured(u"set"), scope_);
    do {
        const QString name = set.word();
        const std::optional<size_t> c = scope_.column(name);
        if (!c)
            throw SqlFailure{207, 16, QStringLiteral("Invalid column name '%1'.").arg(name)};
        set.expect(QStringLiteral("="));
        Expression value = set.expression();
        if (const std::optional<SqlFailure> error = AssignmentError(value.type, table_.columns[*c]))
            throw *error;
        assignments.emplace_back(*c, std::move(value));
    } while (set.acceptPunctuation(QStringLiteral(",")));
    set.expectEnd();
    const Filter condition = where(m.captured(u"where"));

    const QString savepoint = m.captured(u"savepoint");
    return [this, assignments, condition, savepoint] {
        session_.noCount = true;
        if (!savepoint.isEmpty()) {
            if (!session_.inTransaction)
                return std::vector<StatementReply>{failed(628, QStringLiteral("Cannot issue SAVE TRANSACTION when there is no active transaction."))};
            session_.savepoints[savepoint] = session_.pending;
        }
        std::vector<StatementReply> replies;
        // AFTER triggers fire once per statement, whether or not it changed a row.
        if (table_.auditTrigger)
            replies.push_back(rowsReply({{{QStringLiteral("audit"), SqlType::VarChar, 30}}, {{QVariant(QStringLiteral("BAC1 updated"))}}}));
        // UPDATE TOP (1) takes the first row found.
        const std::vector<size_t> rows = matchingRows(condition, table_.storedInKeyOrder ? 1 : SIZE_MAX);
        if (std::optional<StatementReply> refused = lockRefused(rows, true))
            return std::vector<StatementReply>{*refused};
        if (!rows.empty() && table_.rollbackTriggerRows.count(int(rows.front()) + 1)) {
            // The trigger's ROLLBACK takes the update and every uncommitted change
            // before it, leaves @@TRANCOUNT at 0 and aborts the rest of the batch.
            StatementReply reply = failed(3609, QStringLiteral("The transaction ended in the trigger. The batch has been aborted."));
            if (session_.inTransaction)
                reply.transaction = 'R';
            session_.pending.clear();
            session_.inTransaction = false;
            return std::vector<StatementReply>{reply};
        }
        if (!rows.empty()) {
            std::vector<std::pair<size_t, QVariant>> values;
            for (const auto& [c, expression] : assignments) {
                const SqlColumn column = table_.columnType(c);
                const QVariant value = expression.value(rows.front());
                if (column.size > 0 && DataLength(value, expression.type) > MaxLength(column))
                    throw SqlFailure{8152, 16, QStringLiteral("String or binary data would be truncated.")};
                values.emplace_back(c, Converted(value, expression.type, column));
            }
            // An INSTEAD OF trigger is handed the row and stores none of it.
            if (table_.insteadOfUpdate())
                values.clear();
            for (const auto& [c, value] : values) {
                if (session_.inTransaction)
                    session_.pending[{rows.front(), c}] = value;
                else
                    table_.setCell(rows.front(), c, value);
            }
        }
        for (const auto& trigger : table_.updateTriggers) {
            if (!rows.empty() && !trigger.insteadOf && !trigger.disabled && trigger.raisesErrorOnRows.count(int(rows.front()) + 1))
                replies.push_back(failed(50000, QStringLiteral("Pictures of this person may not be changed.")));
        }
        if (!replies.empty() && replies.back().error)
            return replies;
        StatementReply written;
        written.count = rows.empty() ? 0 : 1;
        replies.push_back(written);
        replies.push_back(rowsReply({{{QStringLiteral("rows_written"), SqlType::Int}}, {{QVariant(written.count)}}}));
        return replies;
    };
}

StatementReply Request::object(const QString& name) const
{
    SqlResult result{{{QStringLiteral("type"), SqlType::Char, 2}}, {}};
    for (int part = 4; part >= 1; --part)
        result.columns.push_back({QString(), SqlType::NVarChar, 128});
    result.columns.push_back({QString(), SqlType::NVarChar, 128});
    const ObjectKind kind = resolve(name);
    if (kind != ObjectKind::None) {
        const QString target = kind == ObjectKind::Synonym ? table_.synonymTarget : QString();
        SqlRow row{QVariant(kind == ObjectKind::Table ? QStringLiteral("U ") : kind == ObjectKind::View ? QStringLiteral("V ") : QStringLiteral("SN"))};
        for (int part = 4; part >= 1; --part)
            row.push_back(nameComponent(target, part));
        row.push_back(QVariant(session_.database));
        result.rows.push_back(row);
    }
    return rowsReply(std::move(result));
}

StatementReply Request::columns(const QString& name) const
{
    SqlResult result{{{QStringLiteral("name"), SqlType::NVarChar, 128},
                      {QString(), SqlType::NVarChar, 128},
                      {QStringLiteral("max_length"), SqlType::SmallInt},
                      {QStringLiteral("precision"), SqlType::TinyInt},
                      {QStringLiteral("scale"), SqlType::TinyInt},
                      {QStringLiteral("is_nullable"), SqlType::Bit},
                      {QStringLiteral("collation_name"), SqlType::NVarChar, 128},
                      {QString(), SqlType::Int},
                      {QString(), SqlType::Int}},
                     {}};
    // A synonym has no columns of its own.
    const ObjectKind kind = resolve(name);
    if (kind == ObjectKind::Table || kind == ObjectKind::View) {
        for (const SqlColumn& c : table_.columns)
            result.rows.push_back({QVariant(c.name), QVariant(TypeName(c.type)), QVariant(MaxLength(c)), QVariant(Precision(c)),
                                   QVariant(c.scale), QVariant(c.nullable),
                                   IsCharacter(c.type) ? QVariant(table_.collation) : QVariant(QMetaType::fromType<QString>()),
                                   IsCharacter(c.type) ? QVariant(qlonglong(CodePage(table_.collation))) : QVariant(),
                                   QVariant(qlonglong(CodePage(table_.databaseCollation)))});
    }
    return rowsReply(std::move(result));
}

StatementReply Request::keys(const QString& name) const
{
    SqlResult result{{{QStringLiteral("index_id"), SqlType::Int}, {QStringLiteral("name"), SqlType::NVarChar, 128}}, {}};
    if (resolve(name) == ObjectKind::Table) {
        for (const QString& column : table_.key)
            result.rows.push_back({QVariant(1), QVariant(column)});
    }
    return rowsReply(std::move(result));
}

StatementReply Request::transaction(char change, bool quietly)
{
    StatementReply reply;
    if (change != 'B' && !session_.inTransaction) {
        if (quietly)
            return reply;
        return change == 'C' ? failed(3902, QStringLiteral("The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."))
                             : failed(3903, QStringLiteral("The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."));
    }
    if (change == 'C') {
        for (const auto& [at, value] : session_.pending)
            table_.setCell(at.first, at.second, value);
    }
    session_.pending.clear();
    session_.savepoints.clear();
    session_.inTransaction = change == 'B';
    reply.transaction = change;
    return reply;
}

std::optional<Handler> Request::recognize(const QString& statement)
{
    const auto one = [](auto f) { return std::optional<Handler>([f] { return std::vector<StatementReply>{f()}; }); };
    QRegularExpressionMatch m;
    if ((m = whole(QStringLiteral(R"(set textsize (\d+))"), statement)).hasMatch()) {
        const qint64 size = m.captured(1).toLongLong();
        return one([this, size] {
            session_.textSize = size == 0 ? 4096 : std::min<qint64>(size, 2147483647);
            return StatementReply{};
        });
    }
    if ((m = whole(QStringLiteral(R"(set lock_timeout (-?\d+))"), statement)).hasMatch()) {
        const qint64 timeout = m.captured(1).toLongLong();
        return one([this, timeout] {
            session_.lockTimeout = timeout;
            return StatementReply{};
        });
    }
    if (whole(QStringLiteral(R"(select xact_state\(\))"), statement).hasMatch()) {
        return one([this] { return rowsReply({{{QString(), SqlType::SmallInt}}, {{QVariant(session_.inTransaction ? 1 : 0)}}}); });
    }
    if ((m = whole(QStringLiteral(R"(set nocount (on|off))"), statement)).hasMatch()) {
        const bool on = m.captured(1).compare(QLatin1String("on"), Qt::CaseInsensitive) == 0;
        return one([this, on] {
            session_.noCount = on;
            return StatementReply{};
        });
    }
    if ((m = whole(QStringLiteral("use ") + identifier, statement)).hasMatch()) {
        const QString name = unquoted(m.captured(1));
        return one([this, name] {
            if (!table_.databases.contains(name, Qt::CaseInsensitive))
                return failed(911, QStringLiteral("Database '%1' does not exist. Make sure that the name is entered correctly.").arg(name));
            session_.database = name;
            StatementReply reply;
            reply.database = name;
            return reply;
        });
    }
    if (whole(QStringLiteral(R"(begin tran(saction)?)"), statement).hasMatch())
        return one([this] { return transaction('B', false); });
    if ((m = whole(QStringLiteral(R"((if @@trancount>0 )?(commit|rollback)( tran(saction)?)?)"), statement)).hasMatch()) {
        const char change = m.captured(2).toLower() == QLatin1String("commit") ? 'C' : 'R';
        const bool quietly = !m.captured(1).isEmpty();
        return one([this, change, quietly] { return transaction(change, quietly); });
    }
    if (whole(QStringLiteral(R"(select name from (master\.dbo\.|master\.\.)?sysdatabases)"), statement).hasMatch()) {
        return one([this] {
            SqlResult result{{{QStringLiteral("name"), SqlType::NVarChar, 128}}, {}};
            for (const QString& name : table_.databases)
                result.rows.push_back({QVariant(name)});
            return rowsReply(std::move(result));
        });
    }
    if ((m = whole(QStringLiteral(R"(select 1 from sysobjects where name='([^']*)')"), statement)).hasMatch()) {
        const QString name = QLatin1Char('[') + m.captured(1) + QLatin1Char(']');
        return one([this, name] {
            SqlResult result{{{QString(), SqlType::Int}}, {}};
            if (resolve(name) != ObjectKind::None)
                result.rows.push_back({QVariant(1)});
            return rowsReply(std::move(result));
        });
    }
    if (whole(QStringLiteral(R"(select cast\(serverproperty\('productversion'\) as nvarchar\(128\)\))"), statement).hasMatch()) {
        return one([this] {
            return rowsReply({{{QString(), SqlType::NVarChar, 128}}, {{QVariant(table_.serverVersion)}}});
        });
    }
    if ((m = whole(QStringLiteral(R"(select o\.type,parsename\(s\.base_object_name,4\),parsename\(s\.base_object_name,3\),)"
                                  R"(parsename\(s\.base_object_name,2\),parsename\(s\.base_object_name,1\),db_name\(\) )"
                                  R"(from sys\.objects o left join sys\.synonyms s on s\.object_id=o\.object_id )"
                                  R"(where o\.object_id=object_id\(%1\))")
                       .arg(nameArgument),
                   statement))
            .hasMatch()) {
        const QString name = parameterText(m.captured(1));
        return one([this, name] { return object(name); });
    }
    if ((m = whole(QStringLiteral(R"(select c\.name,type_name\(c\.system_type_id\),c\.max_length,c\.precision,c\.scale,c\.is_nullable,)"
                                  R"(c\.collation_name,cast\(collationproperty\(c\.collation_name,'codepage'\) as int\),)"
                                  R"(cast\(collationproperty\(cast\(databasepropertyex\(db_name\(\),'collation'\) as nvarchar\(128\)\),'codepage'\) as int\) )"
                                  R"(from sys\.columns c where c\.object_id=object_id\(%1\) order by c\.column_id)")
                       .arg(nameArgument),
                   statement))
            .hasMatch()) {
        const QString name = parameterText(m.captured(1));
        return one([this, name] { return columns(name); });
    }
    if ((m = whole(QStringLiteral(R"(select i\.index_id,c\.name from sys\.indexes i join sys\.index_columns ic )"
                                  R"(on ic\.object_id=i\.object_id and ic\.index_id=i\.index_id and ic\.is_included_column=0 )"
                                  R"(join sys\.columns c on c\.object_id=ic\.object_id and c\.column_id=ic\.column_id )"
                                  R"(where i\.object_id=object_id\(%1\) and i\.is_unique=1 and i\.has_filter=0 )"
                                  R"(and i\.is_disabled=0 and i\.is_hypothetical=0 )"
                                  R"(order by i\.is_primary_key desc,i\.index_id,ic\.key_ordinal)")
                       .arg(nameArgument),
                   statement))
            .hasMatch()) {
        const QString name = parameterText(m.captured(1));
        return one([this, name] { return keys(name); });
    }
    if ((m = whole(QStringLiteral(R"(select t\.name,t\.is_instead_of_trigger from sys\.triggers t )"
                                  R"(join sys\.trigger_events e on e\.object_id=t\.object_id )"
                                  R"(where t\.parent_id=object_id\(%1\) and t\.is_disabled=0 and e\.type=2 )"
                                  R"(order by t\.is_instead_of_trigger desc,t\.name)")
                       .arg(nameArgument),
                   statement))
            .hasMatch()) {
        const QString name = parameterText(m.captured(1));
        return one([this, name] {
            SqlResult result{{{QStringLiteral("name"), SqlType::NVarChar, 128}, {QStringLiteral("is_instead_of_trigger"), SqlType::Bit}}, {}};
            std::vector<ScriptedTable::UpdateTrigger> triggers = table_.updateTriggers;
            std::stable_sort(triggers.begin(), triggers.end(), [](const auto& a, const auto& b) {
                return std::pair(!a.insteadOf, a.name) < std::pair(!b.insteadOf, b.name);
            });
            for (const auto& trigger : triggers) {
                if (!trigger.disabled && resolve(name) == ObjectKind::Table)
                    result.rows.push_back({QVariant(trigger.name), QVariant(trigger.insteadOf)});
            }
            return rowsReply(std::move(result));
        });
    }
    if ((m = whole(QStringLiteral(R"(if xact_state\(\)=1 rollback transaction (\w+))"), statement)).hasMatch()) {
        const QString savepoint = m.captured(1);
        return one([this, savepoint] {
            if (!session_.inTransaction)
                return StatementReply{};
            const auto saved = session_.savepoints.find(savepoint);
            if (saved == session_.savepoints.end())
                return failed(6401, QStringLiteral("Cannot roll back %1. No transaction or savepoint of that name was found.").arg(savepoint));
            session_.pending = saved->second;
            return StatementReply{};
        });
    }
    if ((m = whole(QStringLiteral(R"(select [\w,]+ from\(select (?<list>.+?),row_number\(\) over\(order by (?<order>.+?)\) )"
                                  R"(as bmp2jpg_position from (?<table>%1) with\(nolock\)\) as k where bmp2jpg_position in\((?<positions>[\d,]+)\) )"
                                  R"(order by bmp2jpg_position)")
                       .arg(objectName),
                   statement))
            .hasMatch())
        return keysAt(m);
    // Selects from the catalogue other than the ones above are unknown statements.
    if ((m = whole(QStringLiteral(R"(select (?:top\((\d+)\) |top (\d+) )?(?<list>.+?) from (?!sys)(?<table>%1)(?: with(?<hints>\([\w,]*\)))?(?: where ?(?<where>.+?))?(?: order by (?<order>.+))?)")
                       .arg(objectName),
                   statement))
            .hasMatch())
        return select(m);
    return std::nullopt;
}

std::vector<StatementReply> runAll(const std::vector<Handler>& handlers)
{
    std::vector<StatementReply> replies;
    for (const Handler& handler : handlers) {
        try {
            for (StatementReply& reply : handler()) {
                const bool stop = reply.error.has_value();
                replies.push_back(std::move(reply));
                if (stop)
                    return replies;
            }
        } catch (const SqlFailure& error) {
            replies.push_back({});
            replies.back().error = error;
            return replies;
        }
    }
    return replies;
}

} // namespace

std::vector<StatementReply> RunScripted(ScriptedTable& table, const std::vector<ReadFailure>& failures,
                                        ScriptedSession& session, const QString& text,
                                        const std::vector<RpcParameter>& parameters)
{
    Request request(table, failures, session, parameters, text);
    const QString statement = normalized(text);
    std::vector<Handler> handlers;
    // Like SQL Server, the whole request is compiled before any of it runs:
    // an unknown statement or a compile error stops all of it.
    try {
        const QRegularExpressionMatch write = whole(
            QStringLiteral(R"(set nocount on;(?:save transaction (?<savepoint>\w+);)?declare @(?<output>\w+) table\(n int\);)"
                           R"(update top\(1\) (?<table>%1) set (?<set>.+?) )"
                           R"(output 1 into @\k<output> where (?<where>.+?);select count\(\*\)(?: as \w+)? from @\k<output>)")
                .arg(objectName),
            statement);
        if (write.hasMatch()) {
            handlers.push_back(request.write(write));
        } else {
            // Statements split at semicolons outside quotes and brackets.
            static const QRegularExpression part(QStringLiteral(R"(((?:[^;'\[]|'[^']*'|\[[^\]]*\])+))"));
            for (const QRegularExpressionMatch& m : part.globalMatch(statement)) {
                std::optional<Handler> handler = request.recognize(m.captured(1).trimmed());
                if (!handler)
                    return {failed(2812, QStringLiteral("Could not find stored procedure '%1'.").arg(m.captured(1).trimmed()))};
                handlers.push_back(*handler);
            }
        }
    } catch (const SqlFailure& error) {
        StatementReply reply;
        reply.error = error;
        return {reply};
    }
    return runAll(handlers);
}
