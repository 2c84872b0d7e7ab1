#pragma once

#include "data/DataErrors.h"
#include "data/Dialect.h"
#include "data/HeldRow.h"
#include "data/KeyRange.h"
#include "data/SimpleSelect.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class Session;

// The rows of one statement, held on the client so that no statement has rows
// pending on the connection between calls. Large values of an updatable result
// stay in the table: their size and (where the server reads them cheaply)
// first bytes are read with the rows, the value itself only when asked for,
// one row at a time. An updatable result of
// a table with a unique key is read in key order a page at a time, so that
// memory does not grow with the table: only the current page is held, and a
// row passed is written through its HeldRow.
class ResultSet {
public:
    static constexpr int pageRows = 1000;
    // Where the server reads them cheaply, this many first bytes of each
    // large value come with the rows.
    static constexpr int blobHeadSize = 2;

    // `owner` names the query in error texts. A result limited to `range`
    // must be read a page at a time; throws when it cannot be.
    static std::unique_ptr<ResultSet> open(Session& session, const QString& owner, const QString& statement,
                                           const KeyRange& range = {});
    // `parts` ranges of about as many of the table's rows, together all of
    // them, for results of `statement`; nullopt where its rows are not read
    // a page at a time or the engine gains nothing from it.
    static std::optional<std::vector<KeyRange>> split(Session& session, const QString& statement, int parts);

    int rowCount();  // counted by the server while pages remain unread
    bool eof() const { return eof_; }
    void first();
    void next();

    std::optional<int> fieldIndex(const QString& name) const;  // ignores case

    // The current row's fields.
    QVariant value(int field);  // fetches a large value when it is not held
    bool isNull(int field) const;
    qint64 blobSize(int field) const;
    bool blobStartsWith(int field, const QByteArray& prefix);
    bool blobHeadKnown(int field) const;
    void checkLarge(int field) const;  // throws unless a large-object column
    // Throws, naming the column and its type, unless it can hold pictures.
    void checkPictureColumn(int field) const;
    // The whole value, read in the open commit group so that no other client
    // can change it before our write; nullopt when it is no longer what the
    // row showed when the rows were read.
    std::optional<QByteArray> readForUpdate(int field);
    // The value as a held row holds it now, read in the open commit group;
    // nullopt when the row is gone.
    std::optional<QByteArray> readForUpdate(const HeldRow& row, int field);
    // The current row's key as text, e.g. `ID=42` or `code='A-1', n=2`: equal
    // texts are the same row. Throws when the table has no key that names
    // each row on its own.
    QString rowKey() const;
    bool rowKeyLasts() const { return table_ && table_->keyLasts; }
    // A digest of the current row's values in every column but `excluded`,
    // as the table holds them now.
    QString rowDigest(const QStringList& excluded);

    void edit();
    void setBlob(int field, const QByteArray& bytes);
    void post();

    HeldRow hold() const;
    // Posts one large value to a held row; empty bytes set NULL.
    void postTo(const HeldRow& row, int field, const QByteArray& bytes);

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
        int textSlot = -1;  // a Value's stored bytes when it is text, if the dialect reads them
    };

    // Where the next page of a result read in key order starts.
    struct Paging {
        QString where;                // the statement's own condition, or empty
        KeyRange range;               // the rows asked for
        std::vector<QVariant> after;  // key of the last row read; empty before the first page
        bool complete = false;        // every row has been read
    };
    enum class Bound { After, From, Before };

    ResultSet(Session& session, const QString& owner) : session_(session), owner_(owner) {}
    bool layOut(const SimpleSelect& select, const TableSchema& table);
    void fill(const QString& statement);
    bool readPage();  // false when no rows are left
    QString keyCondition(const std::vector<QVariant>& key, Bound bound, QVariantList& parameters) const;
    QStringList conditions(QVariantList& parameters) const;
    int heldEnd() const { return first_ + int(rows_.size()); }
    const QVariant& slot(int index) const;
    std::vector<QVariant> currentKey() const;
    QString rowCondition(const std::vector<QVariant>& key, QVariantList& parameters) const;
    void update(const QStringList& assignments, const std::vector<QVariant>& key, QVariantList parameters);
    std::optional<QByteArray> fetch(const std::vector<QVariant>& key, const Field& field, bool forUpdate);  // nullopt: no such row
    void recordPosted();
    EDatabaseError failure(const QString& text) const;

    Session& session_;
    QString owner_;
    std::optional<TableSchema> table_;  // set when rows can be written back
    std::vector<Field> fields_;
    QStringList selected_;              // the select list that fills the slots
    int keySlot_ = 0;                   // first slot of the row key
    std::optional<Paging> paging_;      // set when read a page at a time
    std::optional<int> counted_;        // the server's count of the rows
    std::deque<std::vector<QVariant>> rows_;  // the rows held
    int first_ = 0;                     // the row number of rows_.front()
    int current_ = 0;
    bool eof_ = true;
    bool editing_ = false;
    std::map<int, QByteArray> changes_;  // field, new value (empty: NULL)
};
