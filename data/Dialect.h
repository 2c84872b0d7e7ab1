#pragma once

#include "data/ConnectionSettings.h"

#include <QString>
#include <QStringList>
#include <QVariantList>

#include <chrono>
#include <optional>
#include <vector>

class Statements;
class EDatabaseError;

// How long a statement waits for another client's lock before it fails, on
// either engine.
inline constexpr std::chrono::milliseconds LockWait{15000};

struct TableColumn {
    QString name;
    bool large;    // a large-object (BLOB) type: fetched one row at a time
    QString type;  // as declared, for messages
};

// One part of what tells a row from the others: a column, the rowid, or the
// size or a digest of a column's bytes.
struct KeyPart {
    enum class Of { Value, Size, Digest };
    QString selected;     // read with the rows
    QString compared;     // compared with the value read
    QString placeholder;  // the value compared with: "?" or the "?" cast to the compared type
    int column;           // the table column it comes from; -1 for the rowid
    Of of;
    // The server compares the column with the value read, bound back through
    // the placeholder, exactly as it orders the column: rows can be read in
    // its order, each page after the last value read.
    bool ordered = false;
};

struct TableSchema {
    QStringList name;  // [schema,] table, unquoted
    std::vector<TableColumn> columns;
    // Empty: rows cannot be told apart. Digest parts are compared only on
    // the rows the other parts have found, since digesting is costly.
    // Rows equal in every part are interchangeable.
    std::vector<KeyPart> key;
    // The key is unique and never NULL, all of its parts Of::Value.
    bool unique;
    // The key is the table's own: it names the same row after a VACUUM, a
    // dump and reload or a copy of the table. SQLite's implicit rowid does not.
    bool keyLasts = true;
};

// Pictures are written back only to tables: through a view they would be
// read whole into memory before the first write failed.
EDatabaseError ViewRefused(const QString& name);

// What differs between SQLite (embedded server, or through ODBC) and SQL Server.
class Dialect {
public:
    virtual ~Dialect() = default;

    // How long posted rows may wait to be committed together.
    virtual std::chrono::milliseconds commitInterval() const = 0;
    // How long the write lock stays free after a commit before the next group
    // takes it, so that another client waiting to write gets its turn.
    virtual std::chrono::milliseconds writersTurn() const = 0;
    // A transaction whose reads already hold the right to write, and its ends.
    virtual void begin(Statements& session) const = 0;
    virtual void commit(Statements& session) const = 0;
    virtual void rollback(Statements& session) const = 0;
    // After a failed statement in a transaction: whether the engine still
    // holds it, every change made in it intact and committable.
    virtual bool holdsTransaction(Statements& session) const = 0;
    // Makes the program's catalogue statements (sysdatabases, sysobjects) work.
    virtual void prepareSession(Statements& session, const ConnectionSettings& settings) const = 0;
    // The schema of the base table the name stands for; nullopt for unknown
    // names and for objects whose rows are only read. Throws EDatabaseError
    // for an object whose rows cannot be written back safely.
    virtual std::optional<TableSchema> describeTable(Statements& session, const QStringList& name) const = 0;

    virtual QString blobSizeExpression(const QString& quotedColumn) const = 0;
    // The stored bytes of a small column's text value, where reading it as
    // text may replace some (NULL for other values); empty where it cannot.
    virtual QString textBytesExpression(const QString&) const { return {}; }
    // The first `bytes` bytes of a value; where reading them would cost as
    // much as reading the whole value, any value longer than `bytes`.
    virtual QString blobHeadExpression(const QString& quotedColumn, int bytes) const = 0;
    // How a read for writing takes its row: waiting for another client's
    // lock on it, or passing rows others hold locked (a read that must scan
    // would otherwise wait on every one of them).
    enum class RowLock { None, Wait, SkipLocked };
    // Selects the stored size and the exact bytes of one column of the one row
    // the condition names; a lock keeps the row ours for our write until the
    // transaction ends.
    virtual QString fetchStatement(const TableSchema& table, const QString& quotedColumn, const QString& condition,
                                   RowLock lock) const = 0;
    // Up to `rows` rows of "select <selectList> from <table> [where <condition>]"
    // in the order of `order`.
    virtual QString pageStatement(const TableSchema& table, const QString& selectList, const QString& condition,
                                  const QString& order, int rows) const = 0;
    // The keys (`keyParts`, each as the pages select it) that split the
    // table's rows in the order of `order` into `parts` ranges of about as
    // many rows, ascending; fewer for a table of fewer rows. nullopt on an
    // engine where several sessions would only wait for each other.
    virtual std::optional<std::vector<std::vector<QVariant>>> keyBounds(Statements&, const TableSchema&,
                                                                        const QStringList& /*keyParts*/,
                                                                        const QString& /*order*/, int /*parts*/) const
    {
        return std::nullopt;
    }
    // What a new large value is written through in an assignment.
    virtual QString blobPlaceholder() const = 0;
    // Runs "update ... set <assignments> where <condition>" on at most one row;
    // returns the number of rows written.
    virtual qint64 updateRow(Statements& session, const TableSchema& table, const QString& assignments,
                             const QString& condition, const QVariantList& parameters) const = 0;
};
