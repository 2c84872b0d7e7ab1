#pragma once

#include "data/DataErrors.h"
#include "data/Dialect.h"
#include "data/SimpleSelect.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <map>
#include <memory>
#include <optional>
#include <vector>

class Session;

// The rows of one statement, held on the client so that no statement has rows
// pending on the connection between calls. Large values of an updatable result
// stay in the table: their size and first bytes are read with the rows, the
// value itself only when asked for, one row at a time.
class ResultSet {
public:
    // `owner` names the query in error texts.
    static std::unique_ptr<ResultSet> open(Session& session, const QString& owner, const QString& statement);

    int rowCount() const { return int(rows_.size()); }
    bool eof() const { return eof_; }
    void first();
    void next();
    int current() const { return current_; }
    void moveTo(int row);  // 0-based; posts an edit in progress first

    std::optional<int> fieldIndex(const QString& name) const;  // ignores case

    // The current row's fields.
    QVariant value(int field);  // fetches a large value when it is not held
    bool isNull(int field) const;
    qint64 blobSize(int field) const;
    bool blobStartsWith(int field, const QByteArray& prefix);
    void checkLarge(int field) const;  // throws unless a large-object column
    // Throws, naming the column and its type, unless it can hold pictures.
    void checkPictureColumn(int field) const;
    // The whole value, read in the open commit group so that no other client
    // can change it before our write; nullopt when it is no longer what the
    // row showed when the rows were read.
    std::optional<QByteArray> readForUpdate(int field);
    // The current row's key as text, e.g. `ID=42` or `code='A-1', n=2`: equal
    // texts are the same row. Throws when the table has no key that names
    // each row on its own.
    QString rowKey() const;

    void edit();
    void setBlob(int field, const QByteArray& bytes);
    void post();

private:
    enum class Kind {
        Value,        // held in its slot
        Blob,         // large, held in its slot (results that cannot be updated)
        BlobOnDemand  // large, in the table; slot holds its size, headSlot its first bytes
    };
    struct Field {
        QString name;
        Kind kind;
        int slot;
        int headSlot;
        int column;  // table column; -1 in results that cannot be updated
    };

    ResultSet(Session& session, const QString& owner) : session_(session), owner_(owner) {}
    bool layOut(const SimpleSelect& select, const TableSchema& table);
    void fill(const QString& statement);
    const QVariant& slot(int index) const;
    QString rowCondition(QVariantList& parameters) const;
    std::optional<QByteArray> fetch(const Field& field, bool forUpdate);  // nullopt: no such row
    void recordPosted();
    EDatabaseError failure(const QString& text) const;

    Session& session_;
    QString owner_;
    std::optional<TableSchema> table_;  // set when rows can be written back
    std::vector<Field> fields_;
    QStringList selected_;              // the select list that fills the slots
    int keySlot_ = 0;                   // first slot of the row key
    std::vector<std::vector<QVariant>> rows_;
    int current_ = 0;
    bool eof_ = true;
    bool editing_ = false;
    std::map<int, QByteArray> changes_;  // field, new value (empty: NULL)
};
