#pragma once

#include "job/ValueLog.h"

#include <QFile>
#include <QString>

// --report: one CSV line per visited value (column, key, BCE01, outcome,
// bytes before and after), written as the run goes. A written value's line
// follows its commit, so the file holds every value committed so far.
class RunReport : public ValueLog {
public:
    // Creates the file afresh, owner-only, in place of an earlier report;
    // throws when it cannot, or when something else is in its place.
    RunReport(const QString& path, bool dryRun);
    ~RunReport() override;

    void beforeWrite(const VisitedValue&, const QByteArray&, const QByteArray&) override {}
    void outcome(const VisitedValue& value, ValueKind kind, qint64 bytesAfter) override;
    void failed(const VisitedValue& value) override;

    // The outcomes as the report spells them.
    static QString OutcomeName(ValueKind kind, bool dryRun);
    static QString FailedName() { return QStringLiteral("failed"); }
    // A file (not a symbolic link) that starts with the report's header, or
    // a part of it: the report of an earlier run, maybe killed as it began.
    static bool IsEarlierReport(const QString& path);

private:
    void line(const VisitedValue& value, const QString& outcome, qint64 bytesAfter);
    void write(const QString& line);

    QFile file_;
    bool dryRun_;
};
