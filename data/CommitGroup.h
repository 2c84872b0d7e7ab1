#pragma once

#include <QElapsedTimer>

#include <chrono>
#include <functional>

class Dialect;
class Statements;

// Posted rows share a transaction: each row's write is atomic on its own, and
// a costly commit is paid once per group. A value read for writing opens the
// group first, so the read already holds the right to write (no other client
// can change the row between our read and our write); the caller decides when
// to commit, at a moment when no row is between its read and its write.
//
// After a commit the write lock stays free for the dialect's writers' turn,
// so another client waiting to write gets in between two groups.
//
// Every group that ends is told to the listener with the number of rows it
// held and whether they are now stored: a failed commit, or a failed write
// after which the engine has rolled the group back, loses the whole group.
class CommitGroup {
public:
    using Listener = std::function<void(int rows, bool stored)>;

    // The dialect gives the statements, the interval and the writers' turn.
    CommitGroup(Statements& statements, const Dialect& dialect);

    void setListener(Listener listener) { listener_ = std::move(listener); }

    void begin();  // opens a group unless one is open
    // Runs one row's write in the open group. When the write fails, the rows
    // before it are committed if the engine still holds them, and the failure
    // passes on with its cause.
    void post(const std::function<void()>& write);
    bool due() const;  // the open group has waited its interval
    void commit();     // every posted row, now; throws the cause when it fails

private:
    void end(bool stored);
    void rollback();

    Statements& statements_;
    const Dialect& dialect_;
    Listener listener_;
    QElapsedTimer age_;  // valid while a transaction is open
    QElapsedTimer sinceCommit_;
    int posted_ = 0;     // rows written in the open transaction
};
