#include "tests/tds/ScriptedTable.h"

#include <functional>

namespace {

const QString identifier = QStringLiteral(R"((\[[^\]]+\]|[A-Za-z_]\w*))");
const QString placeholder = QStringLiteral(R"((\?|@\w+))");

enum Column : size_t { Id, Bce01, Bac02, Bac04 };

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

QString typeName(SqlType type)
{
    switch (type) {
    case SqlType::Int: return QStringLiteral("int");
    case SqlType::BigInt: return QStringLiteral("bigint");
    case SqlType::Bit: return QStringLiteral("bit");
    case SqlType::NVarChar: return QStringLiteral("nvarchar");
    case SqlType::VarChar: return QStringLiteral("varchar");
    case SqlType::VarBinary:
    case SqlType::VarBinaryMax: return QStringLiteral("varbinary");
    case SqlType::Image: return QStringLiteral("image");
    }
    return {};
}

bool isBinary(SqlType type)
{
    return type == SqlType::VarBinary || type == SqlType::VarBinaryMax || type == SqlType::Image;
}

qint64 dataLength(const QVariant& value, SqlType type)
{
    return type == SqlType::NVarChar ? 2 * value.toString().size()
           : type == SqlType::VarChar ? value.toString().toLatin1().size()
           : isBinary(type)           ? value.toByteArray().size()
                                      : (type == SqlType::BigInt ? 8 : type == SqlType::Int ? 4 : 1);
}

bool equal(const QVariant& cell, const QVariant& value, SqlType type)
{
    if (cell.isNull() || value.isNull())
        return false;
    if (type == SqlType::NVarChar || type == SqlType::VarChar)
        return cell.toString().compare(value.toString(), Qt::CaseInsensitive) == 0;  // a _CI_ collation
    return isBinary(type) ? cell.toByteArray() == value.toByteArray() : cell.toLongLong() == value.toLongLong();
}

using Handler = std::function<std::vector<StatementReply>()>;

class Request {
public:
    Request(ScriptedTable& table, const std::vector<ReadFailure>& failures, ScriptedSession& session,
            const std::vector<RpcParameter>& parameters, const QString& text)
        : table_(table), failures_(failures), session_(session), parameters_(parameters), text_(text)
    {
    }

    std::optional<Handler> recognize(const QString& statement);
    std::vector<StatementReply> update(const QRegularExpressionMatch& m);

private:
    struct Term {
        size_t column;
        enum { IsNull, NotNull, Equals } test;
        QVariant value;
    };
    struct Item {
        SqlColumn column;
        std::function<QVariant(size_t)> value;  // of a table row
    };

    QVariant cell(size_t row, size_t column) const
    {
        const auto written = session_.pending.find({row, column});
        return written != session_.pending.end() ? written->second : table_.data[row][column];
    }
    std::optional<size_t> column(const QString& name) const
    {
        for (size_t c = 0; c < table_.columns.size(); ++c) {
            if (table_.columns[c].name.compare(unquoted(name), Qt::CaseInsensitive) == 0)
                return c;
        }
        return std::nullopt;
    }
    bool tableHere(const QString& name) const
    {
        static const QRegularExpression schema(QStringLiteral(R"(^(\[dbo\]|dbo)\.)"), QRegularExpression::CaseInsensitiveOption);
        return session_.database.compare(table_.database, Qt::CaseInsensitive) == 0 &&
               unquoted(QString(name).remove(schema)).compare(QStringLiteral("BAC1"), Qt::CaseInsensitive) == 0;
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
    std::vector<size_t> matchingRows(const std::vector<Term>& terms) const
    {
        std::vector<size_t> rows;
        for (size_t r = 0; r < table_.data.size(); ++r) {
            const bool all = std::all_of(terms.begin(), terms.end(), [&](const Term& t) {
                const QVariant value = cell(r, t.column);
                return t.test == Term::IsNull    ? value.isNull()
                       : t.test == Term::NotNull ? !value.isNull()
                                                 : equal(value, t.value, table_.columns[t.column].type);
            });
            if (all)
                rows.push_back(r);
        }
        return rows;
    }

    std::optional<StatementReply> where(const QString& condition, std::vector<Term>& terms);
    std::optional<StatementReply> item(const QString& text, std::vector<Item>& items, bool& count);
    StatementReply select(const QRegularExpressionMatch& m);
    StatementReply catalogue(const QString& objectName, bool keys);
    StatementReply transaction(char change, bool quietly);

    ScriptedTable& table_;
    const std::vector<ReadFailure>& failures_;
    ScriptedSession& session_;
    const std::vector<RpcParameter>& parameters_;
    const QString& text_;
    size_t next_ = 0;  // the next positional parameter
};

std::optional<StatementReply> Request::where(const QString& condition, std::vector<Term>& terms)
{
    if (condition.isEmpty())
        return std::nullopt;
    for (const QString& part : condition.split(QRegularExpression(QStringLiteral(" and "), QRegularExpression::CaseInsensitiveOption))) {
        QRegularExpressionMatch m = whole(identifier + QStringLiteral(" is (not )?null"), part);
        const QString name = m.hasMatch() ? m.captured(1) : whole(identifier + QStringLiteral("=(.+)"), part).captured(1);
        const std::optional<size_t> c = column(name);
        if (!c)
            return failed(207, QStringLiteral("Invalid column name '%1'.").arg(unquoted(name)));
        if (m.hasMatch()) {
            terms.push_back({*c, m.captured(2).isEmpty() ? Term::IsNull : Term::NotNull, {}});
            continue;
        }
        const QString operand = whole(identifier + QStringLiteral("=(.+)"), part).captured(2);
        QVariant value;
        if (const RpcParameter* p = whole(placeholder, operand).hasMatch() ? parameter(operand) : nullptr)
            value = p->value;
        else if (whole(QStringLiteral(R"(-?\d+)"), operand).hasMatch())
            value = operand.toLongLong();
        else if (whole(QStringLiteral(R"(N?'([^']*)')"), operand).hasMatch())
            value = whole(QStringLiteral(R"(N?'([^']*)')"), operand).captured(1);
        else
            return failed(137, QStringLiteral("Must declare the scalar variable \"%1\".").arg(operand));
        terms.push_back({*c, Term::Equals, value});
    }
    return std::nullopt;
}

std::optional<StatementReply> Request::item(const QString& text, std::vector<Item>& items, bool& count)
{
    QRegularExpressionMatch m = whole(QStringLiteral(R"((.+?)(?: as (\w+))?)"), text);
    const QString expression = m.captured(1);
    const QString alias = m.captured(2);
    if ((m = whole(QStringLiteral(R"(count\((?:1|\*)\))"), expression)).hasMatch()) {
        count = true;
        items.push_back({{alias, SqlType::Int}, {}});
        return std::nullopt;
    }
    if (expression == QLatin1String("1")) {
        items.push_back({{alias, SqlType::Int}, [](size_t) { return QVariant(1); }});
        return std::nullopt;
    }
    m = whole(QStringLiteral(R"(datalength\(%1\))").arg(identifier), expression);
    QRegularExpressionMatch head = whole(QStringLiteral(R"(cast\(substring\(%1,1,(\d+)\) as varbinary\((\d+)\)\))").arg(identifier), expression);
    const QString name = m.hasMatch() ? m.captured(1) : head.hasMatch() ? head.captured(1) : expression;
    const std::optional<size_t> c = column(name);
    if (!c)
        return failed(207, QStringLiteral("Invalid column name '%1'.").arg(unquoted(name)));
    const SqlColumn source = table_.columns[*c];
    if (m.hasMatch()) {
        // bigint for the max types, int for the others, as SQL Server types it.
        const SqlType type = source.type == SqlType::VarBinaryMax ? SqlType::BigInt : SqlType::Int;
        items.push_back({{alias, type}, [this, c, source](size_t r) {
                             const QVariant v = cell(r, *c);
                             return v.isNull() ? QVariant() : QVariant(dataLength(v, source.type));
                         }});
    } else if (head.hasMatch()) {
        const int bytes = head.captured(2).toInt();
        items.push_back({{alias, SqlType::VarBinary, head.captured(3).toInt()}, [this, c, bytes](size_t r) {
                             const QVariant v = cell(r, *c);
                             return v.isNull() ? QVariant() : QVariant(v.toByteArray().left(bytes));
                         }});
    } else {
        items.push_back({{alias.isEmpty() ? source.name : alias, source.type, source.size},
                         [this, c](size_t r) { return cell(r, *c); }});
    }
    return std::nullopt;
}

StatementReply Request::select(const QRegularExpressionMatch& m)
{
    const QString top = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
    if (!tableHere(m.captured(u"table")))
        return failed(208, QStringLiteral("Invalid object name '%1'.").arg(unquoted(m.captured(u"table"))));
    std::vector<Item> items;
    bool count = false;
    // Commas inside parentheses belong to one item.
    static const QRegularExpression listItem(QStringLiteral(R"(((?:[^,(]|\((?:[^()]|\([^()]*\))*\))+))"));
    for (const QRegularExpressionMatch& one : listItem.globalMatch(m.captured(u"list"))) {
        if (std::optional<StatementReply> error = item(one.captured(1).trimmed(), items, count))
            return *error;
    }
    std::vector<Term> terms;
    if (std::optional<StatementReply> error = where(m.captured(u"where"), terms))
        return *error;
    std::vector<size_t> rows = matchingRows(terms);
    if (!top.isEmpty() && rows.size() > top.toULongLong())
        rows.resize(top.toULongLong());

    SqlResult result;
    for (const Item& i : items)
        result.columns.push_back(i.column);
    if (count) {
        result.rows.push_back({QVariant(qlonglong(rows.size()))});
    } else {
        for (size_t r : rows) {
            SqlRow row;
            for (const Item& i : items)
                row.push_back(i.value(r));
            result.rows.push_back(row);
        }
    }
    StatementReply reply;
    for (const ReadFailure& failure : failures_) {
        if (failure.statement.match(text_).hasMatch() && int(result.rows.size()) > failure.afterRows) {
            result.rows.resize(failure.afterRows);
            reply.error = failure.error;
        }
    }
    reply.count = qint64(result.rows.size());
    reply.result = std::move(result);
    return reply;
}

std::vector<StatementReply> Request::update(const QRegularExpressionMatch& m)
{
    if (!tableHere(m.captured(u"table")))
        return {failed(208, QStringLiteral("Invalid object name '%1'.").arg(unquoted(m.captured(u"table"))))};
    std::vector<std::pair<size_t, QVariant>> assignments;
    for (const QString& assignment : m.captured(u"set").split(QLatin1Char(','))) {
        const QRegularExpressionMatch a = whole(identifier + QLatin1Char('=') + placeholder, assignment);
        const std::optional<size_t> c = column(a.captured(1));
        const RpcParameter* p = a.hasMatch() ? parameter(a.captured(2)) : nullptr;
        if (!c || !p)
            return {failed(207, QStringLiteral("Invalid column name '%1'.").arg(assignment))};
        const SqlType type = table_.columns[*c].type;
        const bool text = !p->type.contains(QLatin1String("binary")) && p->type != QLatin1String("image");
        if (isBinary(type) && text && !p->value.isNull())
            return {type == SqlType::Image
                        ? failed(206, QStringLiteral("Operand type clash: %1 is incompatible with image").arg(p->type))
                        : failed(257, QStringLiteral("Implicit conversion from data type %1 to varbinary(max) is not allowed. "
                                                     "Use the CONVERT function to run this query.")
                                          .arg(p->type.section(QLatin1Char('('), 0, 0)))};
        assignments.emplace_back(*c, p->value);
    }
    std::vector<Term> terms;
    if (std::optional<StatementReply> error = where(m.captured(u"where"), terms))
        return {*error};
    const std::vector<size_t> rows = matchingRows(terms);
    session_.noCount = true;
    if (!rows.empty() && table_.rollbackTriggerRows.count(table_.data[rows.front()][Id].toLongLong())) {
        // The trigger's ROLLBACK takes the update and every uncommitted change
        // before it, leaves @@TRANCOUNT at 0 and aborts the rest of the batch.
        StatementReply reply = failed(3609, QStringLiteral("The transaction ended in the trigger. The batch has been aborted."));
        if (session_.inTransaction)
            reply.transaction = 'R';
        session_.pending.clear();
        session_.inTransaction = false;
        return {reply};
    }
    if (!rows.empty()) {
        for (const auto& [c, value] : assignments) {
            const QVariant stored = value.isNull() ? QVariant() : isBinary(table_.columns[c].type) ? QVariant(value.toByteArray()) : value;
            if (session_.inTransaction)
                session_.pending[{rows.front(), c}] = stored;
            else
                table_.data[rows.front()][c] = stored;
        }
    }
    StatementReply written;
    written.count = rows.empty() ? 0 : 1;
    StatementReply counted;
    counted.result = SqlResult{{{QString(), SqlType::Int}}, {{QVariant(written.count)}}};
    counted.count = 1;
    return {written, counted};
}

StatementReply Request::catalogue(const QString& token, bool keys)
{
    const RpcParameter* p = parameter(token);
    SqlResult result;
    if (keys)
        result.columns = {{QStringLiteral("index_id"), SqlType::Int}, {QStringLiteral("name"), SqlType::NVarChar, 128}};
    else
        result.columns = {{QStringLiteral("name"), SqlType::NVarChar, 128},
                          {QString(), SqlType::NVarChar, 128},
                          {QStringLiteral("is_nullable"), SqlType::Bit}};
    if (p && tableHere(p->value.toString())) {
        if (keys) {
            result.rows.push_back({QVariant(1), QVariant(table_.columns[Id].name)});
        } else {
            for (const SqlColumn& c : table_.columns)
                result.rows.push_back({QVariant(c.name), QVariant(typeName(c.type)), QVariant(c.name != table_.columns[Id].name)});
        }
    }
    StatementReply reply;
    reply.count = qint64(result.rows.size());
    reply.result = std::move(result);
    return reply;
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
            table_.data[at.first][at.second] = value;
    }
    session_.pending.clear();
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
            StatementReply reply;
            reply.count = qint64(result.rows.size());
            reply.result = std::move(result);
            return reply;
        });
    }
    if ((m = whole(QStringLiteral(R"(select 1 from sysobjects where name='([^']*)')"), statement)).hasMatch()) {
        const QString name = m.captured(1);
        return one([this, name] {
            StatementReply reply;
            reply.result = SqlResult{{{QString(), SqlType::Int}}, {}};
            if (tableHere(name))
                reply.result->rows.push_back({QVariant(1)});
            reply.count = qint64(reply.result->rows.size());
            return reply;
        });
    }
    if ((m = whole(QStringLiteral(R"(select c\.name,type_name\(c\.system_type_id\),c\.is_nullable from sys\.columns c )"
                                  R"(where c\.object_id=object_id\(%1\) and objectproperty\(c\.object_id,'IsUserTable'\)=1 )"
                                  R"(order by c\.column_id)")
                       .arg(placeholder),
                   statement))
            .hasMatch()) {
        const QString token = m.captured(1);
        return one([this, token] { return catalogue(token, false); });
    }
    if ((m = whole(QStringLiteral(R"(select i\.index_id,c\.name from sys\.indexes i join sys\.index_columns ic )"
                                  R"(on ic\.object_id=i\.object_id and ic\.index_id=i\.index_id and ic\.is_included_column=0 )"
                                  R"(join sys\.columns c on c\.object_id=ic\.object_id and c\.column_id=ic\.column_id )"
                                  R"(where i\.object_id=object_id\(%1\) and i\.is_unique=1 and i\.has_filter=0 )"
                                  R"(and i\.is_disabled=0 and i\.is_hypothetical=0 )"
                                  R"(order by i\.is_primary_key desc,i\.index_id,ic\.key_ordinal)")
                       .arg(placeholder),
                   statement))
            .hasMatch()) {
        const QString token = m.captured(1);
        return one([this, token] { return catalogue(token, true); });
    }
    if ((m = whole(QStringLiteral(R"(select (?:top\((\d+)\) |top (\d+) )?(?<list>.+?) from (?<table>%1(?:\.%1)?)(?: with\([\w,]*\))?(?: where (?<where>.+))?)")
                       .arg(identifier),
                   statement))
            .hasMatch()) {
        return one([this, m] {
            QRegularExpressionMatch copy = m;
            return select(copy);
        });
    }
    return std::nullopt;
}

} // namespace

ScriptedTable::ScriptedTable(SqlType pictureType)
    : columns{{QStringLiteral("id"), SqlType::Int},
              {QStringLiteral("BCE01"), SqlType::NVarChar, 50},
              {QStringLiteral("BAC02"), pictureType},
              {QStringLiteral("BAC04"), pictureType}}
{
}

int ScriptedTable::addRow(const Bac1Row& row)
{
    const int id = int(data.size()) + 1;
    const auto value = [](const auto& v) { return v ? QVariant(*v) : QVariant(); };
    data.push_back({QVariant(id), value(row.bce01), value(row.bac02), value(row.bac04)});
    return id;
}

std::vector<Bac1Row> ScriptedTable::rows() const
{
    std::vector<Bac1Row> rows;
    for (const SqlRow& r : data) {
        const auto bytes = [](const QVariant& v) { return v.isNull() ? std::nullopt : std::optional(v.toByteArray()); };
        rows.push_back({r[Bce01].isNull() ? std::nullopt : std::optional(r[Bce01].toString()), bytes(r[Bac02]), bytes(r[Bac04])});
    }
    return rows;
}

std::vector<StatementReply> RunScripted(ScriptedTable& table, const std::vector<ReadFailure>& failures,
                                        ScriptedSession& session, const QString& text,
                                        const std::vector<RpcParameter>& parameters)
{
    Request request(table, failures, session, parameters, text);
    const QString statement = normalized(text);
    std::vector<Handler> handlers;
    const QRegularExpressionMatch write = whole(
        QStringLiteral(R"(set nocount on;declare @(\w+) table\(n int\);update top\(1\) (?<table>%1(?:\.%1)?) set (?<set>.+?) )"
                       R"(output 1 into @\1 where (?<where>.+?);select count\(\*\) from @\1)")
            .arg(identifier),
        statement);
    if (write.hasMatch()) {
        handlers.push_back([&request, write] { return request.update(write); });
    } else {
        // Statements split at semicolons outside quotes and brackets.
        static const QRegularExpression part(QStringLiteral(R"(((?:[^;'\[]|'[^']*'|\[[^\]]*\])+))"));
        for (const QRegularExpressionMatch& m : part.globalMatch(statement)) {
            std::optional<Handler> handler = request.recognize(m.captured(1).trimmed());
            // Like a syntax error, an unknown statement stops the whole request before any of it runs.
            if (!handler)
                return {failed(2812, QStringLiteral("Could not find stored procedure '%1'.").arg(m.captured(1).trimmed()))};
            handlers.push_back(*handler);
        }
    }
    std::vector<StatementReply> replies;
    for (const Handler& handler : handlers) {
        for (StatementReply& reply : handler()) {
            const bool stop = reply.error.has_value();
            replies.push_back(std::move(reply));
            if (stop)
                return replies;
        }
    }
    return replies;
}
