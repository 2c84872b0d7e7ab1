#pragma once

#include "job/ValueLog.h"

#include <QFile>
#include <QString>

// --backup: each value's original bytes in a file of its own under the
// folder, <column>/<row key>.bmp, listed in the folder's manifest. File,
// manifest line and folder entries are on the disk before the write that
// replaces the value is posted, so a run stopped at any moment leaves every
// value it replaced backed up. A folder used before is added to.
class BackupFolder : public ValueLog {
public:
    // Throws, before anything is replaced, when the folder cannot be written.
    explicit BackupFolder(const QString& folder);

    void beforeWrite(const VisitedValue& value, const QByteArray& original, const QByteArray& replacement) override;
    void outcome(const VisitedValue&, ValueKind, qint64) override {}
    void failed(const VisitedValue&) override {}

private:
    QString keepOriginal(const QString& column, const QString& key, const QByteArray& original);

    QString folder_;
    QFile manifest_;
};
