#pragma once

#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

// The SQL Server column types the scripted server can return.
enum class SqlType { Int, BigInt, Bit, NVarChar, VarChar, VarBinary, VarBinaryMax, Image };

struct SqlColumn {
    QString name;  // empty for an unnamed expression
    SqlType type;
    int size = 0;  // characters or bytes, for the sized types
};

// Types whose values SQL Server cuts to the session's TEXTSIZE in results.
inline bool CutToTextSize(SqlType type)
{
    return type == SqlType::VarBinaryMax || type == SqlType::Image;
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
