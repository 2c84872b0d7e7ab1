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
// held and whether they are now stored: a failed commit, or a failed
// statement after which the engine no longer holds the transaction (a
// deadlock, a trigger's ROLLBACK, a full disk), loses the whole group, and
// nothing is written after it in the transaction that read it.
class CommitGroup {
public:
    using Listener = std::function<void(int rows, bool stored)>;

    // The dialect gives the statements, the interval and the writers' turn.
    CommitGroup(Statements& statements, const Dialect& dialect);

    void setListener(Listener listener) { listener_ = std::move(listener); }

    void begin();  // opens a group unless one is open
    // Runs one row's write in the open group. When the write fails, the group
    // ends as endAfterFailure() ends it, and the failure passes on with its cause.
    void post(const std::function<void()>& write);
    bool due() const;  // the open group has waited its interval
    void commit();     // every posted row, now; throws the cause when it fails
    // After a failed statement in the open group: commits the rows posted
    // before it if the engine still holds them intact, else ends the group as
    // lost. Returns whether they are stored; never throws.
    bool endAfterFailure();
    bool open() const { return age_.isValid(); }

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
