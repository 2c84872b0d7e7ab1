#pragma once

#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

// The SQL Server types the scripted server plays. Values are held as
// qlonglong (integers), QString (text, and numeric/decimal as exact decimal
// text), QUuid (uniqueidentifier) and QByteArray (binary).
enum class SqlType {
    TinyInt, SmallInt, Int, BigInt, Bit, Numeric, Decimal, UniqueIdentifier,
    Char, VarChar, NChar, NVarChar, Binary, VarBinary, VarBinaryMax, Image, Text, NText
};

// How a text expression got its collation, which decides the collation of a
// comparison (collation precedence): a COLLATE clause, a column, or the
// database's default (literals, parameters, CAST of other types).
enum class CollationLabel { CoercibleDefault, Implicit, Explicit };

struct SqlColumn {
    QString name;  // empty for an unnamed expression
    SqlType type;
    int size = 0;  // characters or bytes, for the sized types; -1 for (max)
    int precision = 0;  // numeric and decimal
    int scale = 0;
    bool nullable = true;
    QString collation{};  // of a character type; empty: the database's
    CollationLabel label = CollationLabel::CoercibleDefault;
};

// Types whose values SQL Server cuts to the session's TEXTSIZE in results.
inline bool CutToTextSize(const SqlColumn& column)
{
    return column.type == SqlType::VarBinaryMax || column.type == SqlType::Image || column.type == SqlType::Text ||
           column.type == SqlType::NText || column.size < 0;
}

// One row; a null QVariant is SQL NULL.
using SqlRow = std::vector<QVariant>;

struct SqlResult {
    std::vector<SqlColumn> columns;
    std::vector<SqlRow> rows;
};

// An ERROR token's content.
struct SqlFailure {
    int number;
    int severity;
    QString text;
};

// What one statement of a request gave back.
struct StatementReply {
    std::optional<SqlResult> result;
    qint64 count = -1;                   // rows affected or selected; -1 when none is reported
    std::optional<SqlFailure> error;     // sent after the result's rows
    std::optional<QString> database;     // a changed database context
    char transaction = 0;                // 'B'egun, 'C'ommitted or 'R'olled back
};
