#pragma once

#include "tests/tds/TdsRequestReader.h"
#include "tests/tds/TdsTypes.h"

#include <functional>

// An expression of a statement over the rows of one table, typed when it is
// parsed as SQL Server types it when it compiles the statement. Evaluating
// it may throw SqlFailure, as running the statement would fail.
struct Expression {
    SqlColumn type;  // named after the column for a bare column
    std::function<QVariant(size_t row)> value;
};
// SQL's three-valued truth: nullopt is UNKNOWN.
using Condition = std::function<std::optional<bool>(size_t row)>;

// A term of a condition's outermost AND comparing a bare column with a value
// the same for every row: what lets a table stored in key order be sought.
struct ColumnBound {
    size_t column;
    bool less, equal, greater;  // which orders of the column's value against `value` make the term true
    Expression value;
};

// What expressions are evaluated against.
struct ExpressionScope {
    std::function<std::optional<size_t>(const QString& name)> column;  // by name, unquoted
    std::function<SqlColumn(size_t column)> columnType;
    std::function<QVariant(size_t row, size_t column)> cell;
    std::function<const RpcParameter*(const QString& token)> parameter;  // "?" takes the next one
    QString databaseCollation;  // of literals, parameters and text made by CAST
    int serverMajorVersion = 16;
};

// Parses the expressions the program's statements use: columns, parameters,
// literals, NULL, CAST, CONVERT, COLLATE, DATALENGTH, SUBSTRING, HASHBYTES, CASE WHEN,
// the comparisons, IS [NOT] NULL, AND, OR and parentheses. Throws SqlFailure for what SQL Server refuses to
// compile (Msg 207, 402...), std::runtime_error for what it does not play.
class ExpressionParser {
public:
    ExpressionParser(const QString& text, const ExpressionScope& scope);

    Expression expression();
    Condition condition();
    // After condition(): its bounds; none when its outermost operator is OR.
    const std::vector<ColumnBound>& bounds() const { return bounds_; }
    // One term of ORDER BY: the rows' order by it, NULL first, or last when descending.
    std::function<int(size_t left, size_t right)> ordering();
    // The next word, if it is this keyword (case-insensitive); consumed.
    bool accept(const QString& keyword);
    bool acceptPunctuation(const QString& punctuation);
    void expect(const QString& punctuation);  // throws Msg 102 when it is not next
    QString word();  // the next identifier or keyword, unquoted; consumed
    bool atEnd() const { return at_ >= tokens_.size(); }
    void expectEnd();  // throws Msg 102 when anything is left

private:
    struct Token {
        enum Kind { Word, QuotedWord, Number, String, Parameter, Punctuation } kind;
        QString text;
        bool wide = false;  // N'...'
    };

    const Token& peek() const;
    Token take();
    SqlColumn type();
    SqlColumn castType(SqlColumn to, const SqlColumn& from) const;
    Condition conjunction();
    Condition predicate();
    bool conditionInParentheses() const;  // "(" opens a condition, not an expression
    Expression primary();
    Expression column(const QString& name);
    Expression function(const QString& name);

    std::vector<Token> tokens_;
    size_t at_ = 0;
    const ExpressionScope& scope_;
    int depth_ = 0;  // of the condition being parsed, 1 the outermost
    std::vector<ColumnBound> bounds_;
    // The last bare column parsed: its tokens [begin, end) and its index.
    struct {
        size_t begin = 0, end = 0, index = 0;
    } lastColumn_;
    size_t columnsRead_ = 0;  // column references parsed so far
};
