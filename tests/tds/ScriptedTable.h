#pragma once

#include "tests/tds/TdsRequestReader.h"
#include "tests/tds/TdsTypes.h"

#include <QRegularExpression>
#include <QStringList>

#include <map>
#include <optional>
#include <set>

// One row of BAC1 as tests give and read it; nullopt is NULL.
struct Bac1Row {
    std::optional<QString> bce01;
    std::optional<QByteArray> bac02;
    std::optional<QByteArray> bac04;

    friend bool operator==(const Bac1Row&, const Bac1Row&) = default;
};

// Table BAC1 (id int primary key, BCE01 nvarchar(50), BAC02, BAC04) in one
// database of the server, and the server's list of databases.
struct ScriptedTable {
    explicit ScriptedTable(SqlType pictureType = SqlType::VarBinaryMax);

    int addRow(const Bac1Row& row);  // returns its id, 1 up
    std::vector<Bac1Row> rows() const;

    std::vector<SqlColumn> columns;
    std::vector<SqlRow> data;
    QStringList databases{QStringLiteral("master"), QStringLiteral("pictures")};
    QString database = QStringLiteral("pictures");  // the one holding BAC1
    // Ids of rows whose UPDATE fires a trigger that runs ROLLBACK: the
    // transaction is undone and ended, and the batch fails with Msg 3609.
    std::set<qlonglong> rollbackTriggerRows;
};

// A read that fails part way: statements matching `statement` send `afterRows`
// rows, then the error.
struct ReadFailure {
    QRegularExpression statement;
    int afterRows;
    SqlFailure error;
};

// What one client connection has set.
struct ScriptedSession {
    QString database = QStringLiteral("master");
    qint64 textSize = 4096;  // SQL Server's default until the client sets it
    bool noCount = false;
    bool inTransaction = false;
    std::map<std::pair<size_t, size_t>, QVariant> pending;  // (row, column) written in the open transaction
};

// Answers the statements of one request (a batch, or the text of a
// parameterised call) from the table; the replies end at the first error.
// Statements it does not know fail with Msg 2812 naming them.
std::vector<StatementReply> RunScripted(ScriptedTable& table, const std::vector<ReadFailure>& failures,
                                        ScriptedSession& session, const QString& text,
                                        const std::vector<RpcParameter>& parameters);
