#pragma once

#include "tests/tds/TdsRequestReader.h"
#include "tests/tds/TdsTypes.h"

#include <QRegularExpression>
#include <QStringList>

#include <functional>

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

// SQL Server versions as SERVERPROPERTY('ProductVersion') gives them.
inline const QString SqlServer2008R2 = QStringLiteral("10.50.6000.34");
inline const QString SqlServer2014 = QStringLiteral("12.0.6024.0");
inline const QString SqlServer2019 = QStringLiteral("15.0.4153.1");
inline const QString SqlServer2022 = QStringLiteral("16.0.1000.6");

// What tells the rows of BAC1 apart: its primary key, or nothing.
enum class TableKey {
    IntId,            // id int primary key
    NumericIdentity,  // id numeric(18,0) IDENTITY primary key, numbered from 5000000001
    Guid,             // id uniqueidentifier primary key
    BinaryId,         // id binary(4) primary key, the row's number little-endian
    Name,             // BCE01 is the primary key
    NameAndId,        // (BCE01, id int) is the primary key
    None              // no key, no unique index: rows may be equal in every column
};

// What a name in the database stands for.
enum class ObjectKind { None, Table, View, Synonym };

// Table BAC1 ([key,] BCE01, BAC02, BAC04) in one database of a server, the
// objects by which the name BAC1 reaches it, and the server's settings.
struct ScriptedTable {
    explicit ScriptedTable(SqlType pictureType = SqlType::VarBinaryMax, TableKey key = TableKey::IntId,
                           SqlType nameType = SqlType::NVarChar);

    int addRow(const Bac1Row& row);  // returns its number, 1 up (the id of an IntId table)
    std::vector<Bac1Row> rows() const;
    SqlColumn& column(const QString& name);  // throws for a column the table does not have
    // A column as expressions see it: text in the table's collation, implicitly.
    SqlColumn columnType(size_t column) const;

    // The table becomes dbo.BAC1_data, and BAC1 a view over it.
    void reachThroughView();
    // The table becomes `target` (dbo.BAC1_data unless named), and BAC1 a
    // synonym for it (for another database's table when it names one).
    void reachThroughSynonym(const QString& target = QStringLiteral("[dbo].[BAC1_data]"));

    // What `name` (one to three parts, quoted or not) stands for in the
    // session's database.
    ObjectKind resolve(const QString& name, const QString& sessionDatabase) const;
    int majorVersion() const { return serverVersion.section(QLatin1Char('.'), 0, 0).toInt(); }

    // Row `row` (0 up) as it stands, written values included, and a write to it.
    size_t rowCount() const { return data.size() + madeRows; }
    QVariant cell(size_t row, size_t column) const;
    void setCell(size_t row, size_t column, const QVariant& value);

    std::vector<SqlColumn> columns;
    QStringList key;  // the primary key's columns; empty for none
    std::vector<SqlRow> data;
    // Rows made on demand after those of `data`, so that millions of them
    // take no memory: the i-th of them (0 up) is madeRow(i); only values
    // written to them are kept.
    std::function<SqlRow(size_t)> madeRow;
    size_t madeRows = 0;
    std::map<std::pair<size_t, size_t>, QVariant> madeWritten;  // (row, column): value
    // Values written to made rows are only counted, their bytes summed, so
    // that a long run's memory stays flat; such a row reads as made again.
    bool countMadeWrites = false;
    size_t madeWrites = 0;
    qint64 madeBytesWritten = 0;
    // The rows stand in the order of the key's one column: a TOP read in
    // that order, or in none, stops at its last row instead of reading all.
    bool storedInKeyOrder = false;
    QString name = QStringLiteral("BAC1");  // the table's own name, in schema dbo
    ObjectKind bac1 = ObjectKind::Table;    // what the name BAC1 stands for
    QString synonymTarget;                  // the base object of synonym BAC1
    // The character columns' collation and the database's default one, which
    // literals, parameters and text made by CAST take (IsKnownCollation):
    // "_CS" tells case apart, "Chinese_PRC" orders Chinese by pinyin and
    // holds narrow text in code page 936, the others in 1252.
    QString collation = QStringLiteral("SQL_Latin1_General_CP1_CI_AS");
    QString databaseCollation = QStringLiteral("SQL_Latin1_General_CP1_CI_AS");
    QStringList databases{QStringLiteral("master"), QStringLiteral("pictures")};
    QString database = QStringLiteral("pictures");  // the one holding the table
    // Rows (by number) whose UPDATE fires a trigger that runs ROLLBACK: the
    // transaction is undone and ended, and the batch fails with Msg 3609.
    std::set<int> rollbackTriggerRows;
    // An AFTER UPDATE trigger that returns a result set: one column "audit"
    // holding one row, sent before the statement's own results.
    bool auditTrigger = false;
    // Further UPDATE triggers, as sys.triggers lists them. An enabled
    // INSTEAD OF one keeps the values while OUTPUT still sees the row.
    struct UpdateTrigger {
        QString name;
        bool insteadOf = true;
        bool disabled = false;
        // An AFTER trigger raising an error on these rows' UPDATE without
        // rolling back: the row stays written, the batch goes on.
        std::set<int> raisesErrorOnRows = {};
    };
    std::vector<UpdateTrigger> updateTriggers;
    std::optional<QString> insteadOfUpdate() const;  // the enabled INSTEAD OF UPDATE trigger's name
    // Another session's lock on a row (by number): the next `times` reads
    // WITH (UPDLOCK) that meet it (those of the row, or any read of a table
    // without a key, which is scanned) fail as SQL Server fails them, and
    // reads WITH (READPAST) pass the row. A deadlock victim
    // (1205) has its transaction rolled back; a lock wait past LOCK_TIMEOUT
    // (1222) fails the statement alone, the transaction going on. A session
    // that never set LOCK_TIMEOUT would wait for ever: answered with a
    // failure that names it. Then the other session commits `release`.
    struct OtherSessionLock {
        int row;
        int times;
        bool deadlock;
        std::function<void(ScriptedTable&)> release = {};
        bool atWrite = false;  // meets the row's UPDATE (the other holds a shared lock) instead
        int after = 0;         // statements that meet the row before the lock is taken
        bool exclusive = false;  // the other is writing the row: plain reads that return it wait too
    };
    std::vector<OtherSessionLock> otherSessionLocks;
    QString serverVersion = SqlServer2022;
    // Plays Microsoft's ODBC drivers: parameters FreeTDS declares as
    // varbinary(max) arrive declared image, as Microsoft's drivers declare
    // Qt's byte arrays (SQL_LONGVARBINARY).
    bool microsoftParameterTypes = false;
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
    std::optional<qint64> lockTimeout;  // milliseconds, as SET LOCK_TIMEOUT gave it
    std::map<QString, std::map<std::pair<size_t, size_t>, QVariant>> savepoints;  // name: pending as it was
    std::map<std::pair<size_t, size_t>, QVariant> pending;  // (row, column) written in the open transaction
};

// Answers the statements of one request (a batch, or the text of a
// parameterised call) from the table; the replies end at the first error.
// Statements it does not know fail with Msg 2812 naming them.
std::vector<StatementReply> RunScripted(ScriptedTable& table, const std::vector<ReadFailure>& failures,
                                        ScriptedSession& session, const QString& text,
                                        const std::vector<RpcParameter>& parameters);
