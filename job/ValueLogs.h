#pragma once

#include "job/ValueLog.h"

#include <vector>

// Tells each of several logs, in order: the backup before the report.
class ValueLogs : public ValueLog {
public:
    void add(ValueLog& log) { logs_.push_back(&log); }
    bool empty() const { return logs_.empty(); }

    void beforeWrite(const VisitedValue& value, const QByteArray& original, const QByteArray& replacement) override
    {
        for (ValueLog* log : logs_)
            log->beforeWrite(value, original, replacement);
    }
    void outcome(const VisitedValue& value, ValueKind kind, qint64 bytesAfter) override
    {
        for (ValueLog* log : logs_)
            log->outcome(value, kind, bytesAfter);
    }
    void failed(const VisitedValue& value) override
    {
        for (ValueLog* log : logs_)
            log->failed(value);
    }

private:
    std::vector<ValueLog*> logs_;
};
