#pragma once

#include "job/ValueTally.h"

#include <QByteArray>
#include <QString>

// A value the walk visited, named as a record of the run names it.
struct VisitedValue {
    QString column;
    QString key;    // the row's key as TQuery::RowKey gives it
    QString bce01;  // empty for NULL
    qint64 bytes = 0;  // as stored when visited
    QString rowDigest;  // RowDigestBesidesPictures, where the key does not last; else empty
};

// Told of every value the walk visits: what a backup and a report of the run
// are made from.
class ValueLog {
public:
    virtual ~ValueLog() = default;

    // Before the write that replaces `original` is posted. Whatever this
    // keeps must be durable when it returns: the commit may follow at once.
    virtual void beforeWrite(const VisitedValue& value, const QByteArray& original, const QByteArray& replacement) = 0;
    // What became of the value; for a written value, once its commit succeeded.
    virtual void outcome(const VisitedValue& value, ValueKind kind, qint64 bytesAfter) = 0;
    // Its read, write or commit failed; it is as it was.
    virtual void failed(const VisitedValue& value) = 0;
};
