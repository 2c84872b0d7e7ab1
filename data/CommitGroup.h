#pragma once

#include <QElapsedTimer>
#include <QSqlDatabase>

#include <chrono>
#include <functional>

// Posted rows share a transaction until it is `interval` old: each write is
// atomic on its own, and a costly commit is paid once per group. An interval
// of zero commits every row alone.
class CommitGroup {
public:
    CommitGroup(QSqlDatabase database, std::chrono::milliseconds interval);

    // Runs one row's write in the open group. When the write fails, the rows
    // before it are committed and the failure passes on.
    void post(const std::function<void()>& write);
    void commit();  // every posted row, now

private:
    void begin();
    void abandon();

    QSqlDatabase database_;
    std::chrono::milliseconds interval_;
    QElapsedTimer age_;  // valid while a transaction is open
    int posted_ = 0;     // rows written in the open transaction
};
