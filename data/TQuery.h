#pragma once

#include "data/HeldRow.h"
#include "data/KeyRange.h"
#include "data/ResultSource.h"
#include "data/TConnection.h"
#include "data/TField.h"

#include <QString>

#include <memory>
#include <optional>

class ResultSet;

// A statement and its result set on a connection. The result is held on the
// client (small columns fetched at open, large values fetched per row when
// needed), so nothing is left pending on the connection between calls.
// Statements of the form "select <columns> from <table> [where ...]" on a base
// table are updatable: Edit, LoadFromStream, Post.
class TQuery : private ResultSource, private ConnectionUser {
public:
    TQuery(QString name, TConnection& connection);
    ~TQuery();
    TQuery(const TQuery&) = delete;
    TQuery& operator=(const TQuery&) = delete;

    bool Active() const;

    // Runs the statement and moves to its first row; throws EDatabaseError.
    // With a range, only the rows whose key lies in it (see KeyRanges).
    void Open(const QString& statement, const KeyRange& range = {});
    // Splits the rows of `statement` in `parts` ranges of its table's key
    // for Open; nullopt where they cannot be, or this engine gains nothing
    // from sessions that each take a range.
    std::optional<std::vector<KeyRange>> KeyRanges(const QString& statement, int parts);
    void Close();  // commits posted rows, discards an unposted edit

    void First();
    bool Eof() const;
    void Next();
    int RecordCount() const;
    TField FieldByName(const QString& name);  // ignores case
    // The current row's key as text (`ID=42`); equal texts name the same row.
    // Throws when the table has no unique key.
    QString RowKey() const;
    // Whether that key names the same row after a VACUUM, a dump and reload or
    // a copy of the table (SQLite's implicit rowid does not).
    bool RowKeyLasts() const;
    // A digest of the current row's values in every column but `excluded`.
    QString RowDigest(const QStringList& excluded) const;

    void Edit();
    void Post();  // writes the changed columns of the current row

    // The current row, to write to after the walk has moved on: a job reads
    // a value, converts it while later rows are read, then writes it back.
    HeldRow HoldRow() const;
    // The value of `field` in that row as it is now, held against other
    // writers until the posted rows are committed; nullopt when the row is gone.
    std::optional<QByteArray> ReadForUpdate(const HeldRow& row, const TField& field);
    // Posts `bytes` as the value of `field` in that row (empty: NULL).
    void PostToRow(const HeldRow& row, const TField& field, const QByteArray& bytes);

private:
    ResultSet& open() const override;
    void checkOwnField(const TField& field) const;
    void discard() override;  // drops the result and any unposted edit

    QString name_;
    TConnection& connection_;
    std::unique_ptr<ResultSet> result_;
};
