#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class TDataModule1;

// A file's bytes, or "(unreadable)".
QByteArray FileBytes(const QString& path);

// One picture value through the shared result set, on any back end: the
// module is connected to a database whose BAC1 holds one row, BCE01 `name`
// and BAC02 `stored`. The walk must read the value whole (size, head, file,
// bytes), Edit/LoadFromStream/Post must write exactly `written` (NULL when it
// is empty), and `storedNow`, the test's own read of BAC02 in the database,
// must then give that. Fails the running test (check
// QTest::currentTestFailed() after it).
void CheckBlobRoundTrip(TDataModule1& module, const QString& name, const QByteArray& stored, const QByteArray& written,
                        const QString& scratchFile, const std::function<std::optional<QByteArray>()>& storedNow);
