#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class ResultSource;
class TQuery;

// One column of the current row of a query, as returned by FieldByName.
// Every operation acts on whatever row is current when it runs and fails
// once the query is closed.
class TField {
public:
    QString AsString() const;  // numbers as decimal text; NULL gives ""
    int AsInteger() const;     // NULL gives 0
    bool IsNull() const;

    // Large-object (BLOB) columns only.
    QByteArray AsBytes() const;                      // whole value, fetched now; NULL gives empty
    // The whole value, held against other writers until the posted rows are
    // committed; nullopt when another client changed it since the rows were read.
    std::optional<QByteArray> ReadForUpdate() const;
    void SaveToFile(const QString& path) const;      // whole value; creates or truncates the file
    void LoadFromStream(const QByteArray& bytes);    // while editing; empty bytes set NULL
    qint64 BlobSize() const;                          // bytes stored; 0 for NULL
    // Known without fetching the value for prefixes of the first bytes that
    // came with the row, when BlobHeadKnown(); fetched otherwise.
    bool BlobStartsWith(const QByteArray& prefix) const;
    // The first bytes came with the row: not always for large values, whose
    // first bytes some servers read only by reading the whole value.
    bool BlobHeadKnown() const;
    // Throws, naming the column and its type, unless it can hold pictures.
    void CheckPictureColumn() const;

private:
    friend class TQuery;
    TField(const ResultSource& source, int column) : source_(&source), column_(column) {}

    const ResultSource* source_;
    int column_;
};
