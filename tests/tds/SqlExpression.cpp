#include "tests/tds/SqlExpression.h"

#include "tests/tds/SqlValues.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <stdexcept>

namespace {

SqlFailure syntaxError(const QString& near)
{
    return {102, 15, QStringLiteral("Incorrect syntax near '%1'.").arg(near)};
}

Expression constant(SqlColumn type, QVariant value)
{
    return {std::move(type), [value](size_t) { return value; }};
}

std::optional<QCryptographicHash::Algorithm> hashAlgorithm(const QString& name, int serverMajorVersion)
{
    static const std::pair<const char*, QCryptographicHash::Algorithm> known[] = {
        {"MD4", QCryptographicHash::Md4}, {"MD5", QCryptographicHash::Md5}, {"SHA", QCryptographicHash::Sha1},
        {"SHA1", QCryptographicHash::Sha1}, {"SHA2_256", QCryptographicHash::Sha256}, {"SHA2_512", QCryptographicHash::Sha512}};
    for (const auto& [algorithm, hash] : known) {
        // The SHA-2 algorithms came with SQL Server 2012 (11.x).
        if (name.compare(QLatin1String(algorithm), Qt::CaseInsensitive) == 0 &&
            (serverMajorVersion >= 11 || !name.startsWith(QLatin1String("SHA2"), Qt::CaseInsensitive)))
            return hash;
    }
    return std::nullopt;
}

// OR (`decisive` true) or AND (false) of the terms, in three-valued logic:
// the decisive truth wins, else UNKNOWN if any term is unknown.
Condition combined(const std::vector<Condition>& terms, bool decisive)
{
    if (terms.size() == 1)
        return terms.front();
    return [terms, decisive](size_t row) -> std::optional<bool> {
        bool unknown = false;
        for (const Condition& term : terms) {
            const std::optional<bool> truth = term(row);
            if (truth == decisive)
                return decisive;
            unknown = unknown || !truth;
        }
        return unknown ? std::nullopt : std::optional(!decisive);
    };
}

} // namespace

ExpressionParser::ExpressionParser(const QString& text, const ExpressionScope& scope) : scope_(scope)
{
    static const QRegularExpression token(QStringLiteral(R"(\s*(?:(\[(?:[^\]]|\]\])*\])|(N?)'((?:[^']|'')*)'|(\d+)|([?]|@\w+)|)"
                                                         R"(([A-Za-z_#][\w#$]*)|(\S)))"));
    qsizetype at = 0;
    while (at < text.size()) {
        const QRegularExpressionMatch m = token.match(text, at, QRegularExpression::NormalMatch,
                                                      QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch() || m.capturedLength() == 0)
            break;
        at = m.capturedEnd();
        if (m.hasCaptured(1))
            tokens_.push_back({Token::QuotedWord, m.captured(1).mid(1, m.capturedLength(1) - 2).replace(QStringLiteral("]]"), QStringLiteral("]"))});
        else if (m.hasCaptured(3))
            tokens_.push_back({Token::String, m.captured(3).replace(QStringLiteral("''"), QStringLiteral("'")), !m.captured(2).isEmpty()});
        else if (m.hasCaptured(4))
            tokens_.push_back({Token::Number, m.captured(4)});
        else if (m.hasCaptured(5))
            tokens_.push_back({Token::Parameter, m.captured(5)});
        else if (m.hasCaptured(6))
            tokens_.push_back({Token::Word, m.captured(6)});
        else if (m.hasCaptured(7))
            tokens_.push_back({Token::Punctuation, m.captured(7)});
    }
}

const ExpressionParser::Token& ExpressionParser::peek() const
{
    static const Token end{Token::Punctuation, QString()};
    return atEnd() ? end : tokens_[at_];
}

ExpressionParser::Token ExpressionParser::take()
{
    if (atEnd())
        throw syntaxError(tokens_.empty() ? QString() : tokens_.back().text);
    return tokens_[at_++];
}

bool ExpressionParser::acceptPunctuation(const QString& punctuation)
{
    if (peek().kind != Token::Punctuation || peek().text != punctuation || atEnd())
        return false;
    ++at_;
    return true;
}

void ExpressionParser::expect(const QString& punctuation)
{
    if (!acceptPunctuation(punctuation))
        throw syntaxError(peek().text);
}

void ExpressionParser::expectEnd()
{
    if (!atEnd())
        throw syntaxError(peek().text);
}

bool ExpressionParser::accept(const QString& keyword)
{
    if (peek().kind != Token::Word || peek().text.compare(keyword, Qt::CaseInsensitive) != 0)
        return false;
    ++at_;
    return true;
}

QString ExpressionParser::word()
{
    const Token t = take();
    if (t.kind != Token::Word && t.kind != Token::QuotedWord)
        throw syntaxError(t.text);
    return t.text;
}

SqlColumn ExpressionParser::type()
{
    QString text = word();
    if (acceptPunctuation(QStringLiteral("("))) {
        text += QLatin1Char('(') + take().text;
        if (acceptPunctuation(QStringLiteral(",")))
            text += QLatin1Char(',') + take().text;
        expect(QStringLiteral(")"));
        text += QLatin1Char(')');
    }
    return ParseDeclaredType(text);
}

Condition ExpressionParser::condition()
{
    ++depth_;
    std::vector<Condition> terms{conjunction()};
    while (accept(QStringLiteral("or")))
        terms.push_back(conjunction());
    if (--depth_ == 0 && terms.size() > 1)
        bounds_.clear();
    return combined(terms, true);
}

Condition ExpressionParser::conjunction()
{
    std::vector<Condition> terms{predicate()};
    while (accept(QStringLiteral("and")))
        terms.push_back(predicate());
    return combined(terms, false);
}

bool ExpressionParser::conditionInParentheses() const
{
    if (peek().kind != Token::Punctuation || peek().text != QLatin1String("(") || atEnd())
        return false;
    int depth = 0;
    for (size_t at = at_; at < tokens_.size(); ++at) {
        const Token& t = tokens_[at];
        const bool word = t.kind == Token::Word;
        if ((t.kind == Token::Punctuation && t.text == QLatin1String("(")) || (word && t.text.compare(QLatin1String("case"), Qt::CaseInsensitive) == 0))
            ++depth;
        else if ((t.kind == Token::Punctuation && t.text == QLatin1String(")")) || (word && t.text.compare(QLatin1String("end"), Qt::CaseInsensitive) == 0))
            --depth;
        if (depth == 0)
            return false;
        const bool comparison = t.kind == Token::Punctuation && QStringLiteral("=<>!").contains(t.text);
        const bool logical = word && (t.text.compare(QLatin1String("is"), Qt::CaseInsensitive) == 0 ||
                                      t.text.compare(QLatin1String("and"), Qt::CaseInsensitive) == 0 ||
                                      t.text.compare(QLatin1String("or"), Qt::CaseInsensitive) == 0);
        if (depth == 1 && (comparison || logical))
            return true;
    }
    return false;
}

Condition ExpressionParser::predicate()
{
    if (conditionInParentheses()) {
        expect(QStringLiteral("("));
        Condition inner = condition();
        expect(QStringLiteral(")"));
        return inner;
    }
    const size_t leftBegin = at_;
    const size_t columnsBefore = columnsRead_;
    const Expression left = expression();
    const bool leftBare = lastColumn_.begin == leftBegin && lastColumn_.end == at_;
    const size_t leftColumn = lastColumn_.index;
    if (accept(QStringLiteral("is"))) {
        const bool negated = accept(QStringLiteral("not"));
        if (!accept(QStringLiteral("null")))
            throw syntaxError(peek().text);
        return [left, negated](size_t row) { return std::optional(left.value(row).isNull() != negated); };
    }
    // "=", "<>", "!=", "<", "<=", ">", ">=": which orders make it true.
    bool less = false, equal = false, greater = false;
    if (acceptPunctuation(QStringLiteral("="))) {
        equal = true;
    } else if (acceptPunctuation(QStringLiteral("<"))) {
        less = true;
        greater = acceptPunctuation(QStringLiteral(">"));
        equal = !greater && acceptPunctuation(QStringLiteral("="));
    } else if (acceptPunctuation(QStringLiteral(">"))) {
        greater = true;
        equal = acceptPunctuation(QStringLiteral("="));
    } else if (acceptPunctuation(QStringLiteral("!"))) {
        expect(QStringLiteral("="));
        less = greater = true;
    } else {
        throw syntaxError(peek().text);
    }
    const size_t rightBegin = at_;
    const size_t columnsBetween = columnsRead_;
    const Expression right = expression();
    if (const std::optional<SqlFailure> error = ComparisonError(left.type, right.type))
        throw *error;
    ComparisonCollation(left.type, right.type);  // a conflict fails when compiled
    // A bound only where the column stands alone and the other side reads no column.
    if (depth_ == 1 && (less != greater || equal)) {
        if (leftBare && columnsRead_ == columnsBetween)
            bounds_.push_back({leftColumn, less, equal, greater, right});
        else if (lastColumn_.begin == rightBegin && lastColumn_.end == at_ && columnsBetween == columnsBefore)
            bounds_.push_back({lastColumn_.index, greater, equal, less, left});
    }
    return [left, right, less, equal, greater](size_t row) -> std::optional<bool> {
        const std::optional<int> order = Compared(left.value(row), left.type, right.value(row), right.type);
        if (!order)
            return std::nullopt;
        return *order < 0 ? less : *order > 0 ? greater : equal;
    };
}

std::function<int(size_t, size_t)> ExpressionParser::ordering()
{
    const Expression by = expression();
    const bool descending = accept(QStringLiteral("desc"));
    if (!descending)
        accept(QStringLiteral("asc"));
    return [by, descending](size_t left, size_t right) {
        const QVariant a = by.value(left);
        const QVariant b = by.value(right);
        const int order = a.isNull() || b.isNull() ? int(b.isNull()) - int(a.isNull()) : *Compared(a, by.type, b, by.type);
        return descending ? -order : order;
    };
}

Expression ExpressionParser::expression()
{
    Expression e = primary();
    if (!accept(QStringLiteral("collate")))
        return e;
    const QString collation = word();
    if (!IsCharacter(e.type.type))
        throw SqlFailure{447, 16, QStringLiteral("Expression type %1 is invalid for COLLATE clause.").arg(TypeName(e.type.type))};
    if (!IsKnownCollation(collation))
        throw SqlFailure{448, 16, QStringLiteral("Invalid collation '%1'.").arg(collation)};
    SqlColumn to = e.type;
    to.collation = collation;
    to.label = CollationLabel::Explicit;
    return {to, [e, to](size_t row) { return Converted(e.value(row), e.type, to); }};
}

// The type of CAST(... AS to): text keeps the collation of text, other
// values take the database's.
SqlColumn ExpressionParser::castType(SqlColumn to, const SqlColumn& from) const
{
    if (!IsCharacter(to.type))
        return to;
    to.collation = IsCharacter(from.type) ? from.collation : scope_.databaseCollation;
    to.label = IsCharacter(from.type) ? from.label : CollationLabel::CoercibleDefault;
    return to;
}

Expression ExpressionParser::primary()
{
    const Token t = take();
    switch (t.kind) {
    case Token::Parameter: {
        const RpcParameter* p = scope_.parameter(t.text);
        if (!p)
            throw SqlFailure{137, 15, QStringLiteral("Must declare the scalar variable \"%1\".").arg(t.text)};
        SqlColumn type = ParseDeclaredType(p->type);
        type.collation = scope_.databaseCollation;
        return constant(type, p->value);
    }
    case Token::Number:
        return constant({QString(), SqlType::Int}, t.text.toLongLong());
    case Token::String: {
        const SqlColumn type{QString(), t.wide ? SqlType::NVarChar : SqlType::VarChar, int(std::max<qsizetype>(1, t.text.size())),
                             0, 0, true, scope_.databaseCollation};
        return constant(type, Converted(t.text, {QString(), SqlType::NVarChar, -1}, type));
    }
    case Token::Punctuation:
        if (t.text == QLatin1String("(")) {
            const Expression inner = expression();
            expect(QStringLiteral(")"));
            return inner;
        }
        throw syntaxError(t.text);
    case Token::QuotedWord:
        return column(t.text);
    case Token::Word:
        if (t.text.compare(QLatin1String("null"), Qt::CaseInsensitive) == 0)
            return constant({QString(), SqlType::Int}, QVariant());
        if (t.text.compare(QLatin1String("case"), Qt::CaseInsensitive) == 0)
            return function(QStringLiteral("case"));
        if (acceptPunctuation(QStringLiteral("(")))
            return function(t.text.toLower());
        return column(t.text);
    }
    throw syntaxError(t.text);
}

Expression ExpressionParser::column(const QString& name)
{
    const size_t begin = at_ - 1;  // the name's first part is taken
    QString last = name;
    while (acceptPunctuation(QStringLiteral(".")))  // a qualified name: its last part names the column
        last = word();
    const std::optional<size_t> c = scope_.column(last);
    if (!c)
        throw SqlFailure{207, 16, QStringLiteral("Invalid column name '%1'.").arg(last)};
    const size_t index = *c;
    ++columnsRead_;
    lastColumn_ = {begin, at_, index};
    const ExpressionScope& scope = scope_;
    return {scope_.columnType(index), [&scope, index](size_t row) { return scope.cell(row, index); }};
}

Expression ExpressionParser::function(const QString& name)
{
    if (name == QLatin1String("cast")) {
        const Expression operand = expression();
        if (!accept(QStringLiteral("as")))
            throw syntaxError(peek().text);
        const SqlColumn to = castType(type(), operand.type);
        expect(QStringLiteral(")"));
        Converted(QVariant(), operand.type, to);  // a conversion SQL Server never allows fails when compiled
        return {to, [operand, to](size_t row) { return Converted(operand.value(row), operand.type, to); }};
    }
    if (name == QLatin1String("convert")) {
        const SqlColumn declared = type();
        expect(QStringLiteral(","));
        const Expression operand = expression();
        const SqlColumn to = castType(declared, operand.type);
        expect(QStringLiteral(")"));
        Converted(QVariant(), operand.type, to);
        return {to, [operand, to](size_t row) { return Converted(operand.value(row), operand.type, to); }};
    }
    if (name == QLatin1String("datalength")) {
        const Expression operand = expression();
        expect(QStringLiteral(")"));
        // bigint for the (max) types, int for the others.
        const SqlType type = operand.type.type == SqlType::VarBinaryMax || operand.type.size < 0 ? SqlType::BigInt : SqlType::Int;
        return {{QString(), type}, [operand](size_t row) {
                    const QVariant v = operand.value(row);
                    return v.isNull() ? QVariant() : QVariant(DataLength(v, operand.type));
                }};
    }
    if (name == QLatin1String("substring")) {
        const Expression operand = expression();
        expect(QStringLiteral(","));
        const Expression start = expression();
        expect(QStringLiteral(","));
        const Expression length = expression();
        expect(QStringLiteral(")"));
        const SqlType source = operand.type.type;
        if (!IsBinary(source) && !IsCharacter(source))
            throw SqlFailure{8116, 16, QStringLiteral("Argument data type %1 is invalid for argument 1 of substring function.").arg(TypeName(source))};
        const bool large = source == SqlType::VarBinaryMax || source == SqlType::Image;
        const SqlColumn type{QString(),
                             IsBinary(source) ? (large ? SqlType::VarBinaryMax : SqlType::VarBinary)
                             : IsWide(source) ? SqlType::NVarChar
                                              : SqlType::VarChar,
                             large ? -1 : operand.type.size, 0, 0, true, operand.type.collation, operand.type.label};
        return {type, [operand, start, length, type](size_t row) {
                    const QVariant v = operand.value(row);
                    const qlonglong from = start.value(row).toLongLong() - 1;
                    const qlonglong count = length.value(row).toLongLong();
                    if (v.isNull())
                        return v;
                    if (IsBinary(type.type))
                        return QVariant(v.toByteArray().mid(from, count));
                    return QVariant(v.toString().mid(from, count));
                }};
    }
    if (name == QLatin1String("hashbytes")) {
        const Token algorithm = take();
        if (algorithm.kind != Token::String)
            throw syntaxError(algorithm.text);
        expect(QStringLiteral(","));
        const Expression input = expression();
        expect(QStringLiteral(")"));
        if (!IsBinary(input.type.type) && !IsCharacter(input.type.type))
            throw SqlFailure{8116, 16, QStringLiteral("Argument data type %1 is invalid for argument 2 of hashbytes function.").arg(TypeName(input.type.type))};
        const std::optional<QCryptographicHash::Algorithm> hash = hashAlgorithm(algorithm.text, scope_.serverMajorVersion);
        const int major = scope_.serverMajorVersion;
        return {{QString(), SqlType::VarBinary, 8000}, [input, hash, major](size_t row) {
                    const QVariant v = input.value(row);
                    // An unknown algorithm gives NULL.
                    if (v.isNull() || !hash)
                        return QVariant(QMetaType::fromType<QByteArray>());
                    const QByteArray bytes = StoredBytes(v, input.type);
                    // Before SQL Server 2016 (13.x) the input is limited to 8000 bytes.
                    if (major < 13 && bytes.size() > 8000)
                        throw SqlFailure{8152, 16, QStringLiteral("String or binary data would be truncated.")};
                    return QVariant(QCryptographicHash::hash(bytes, *hash));
                }};
    }
    if (name == QLatin1String("case")) {
        std::vector<std::pair<Condition, Expression>> branches;
        while (accept(QStringLiteral("when"))) {
            Condition when = condition();
            if (!accept(QStringLiteral("then")))
                throw syntaxError(peek().text);
            branches.emplace_back(std::move(when), expression());
        }
        std::optional<Expression> otherwise;
        if (accept(QStringLiteral("else")))
            otherwise = expression();
        if (branches.empty() || !accept(QStringLiteral("end")))
            throw syntaxError(peek().text);
        const SqlColumn type = branches.front().second.type;
        return {type, [branches, otherwise](size_t row) {
                    for (const auto& [when, then] : branches) {
                        if (when(row) == true)
                            return then.value(row);
                    }
                    return otherwise ? otherwise->value(row) : QVariant();
                }};
    }
    throw std::runtime_error("the scripted server does not play the function " + name.toStdString());
}
