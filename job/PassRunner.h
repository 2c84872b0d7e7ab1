#pragma once

#include "data/KeyRange.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <optional>

class TDataModule1;
class TField;
struct PicturePass;

// The walk of one pass for every job that writes values back (conversion and
// restore), with the rules they share written once: rows in the order the
// query gives them; a commit only between rows, never between a value's read
// and its write; a stop request honoured between rows; after a failure, the
// values written before it committed if the engine still holds them, and
// nothing written after the engine has dropped the transaction that read it.
// A lock conflict (this session chosen as a deadlock's victim, or a lock
// waited for past the timeout) is an ordinary event on a busy server: the
// group is ended, and after a pause that grows the step runs again from its
// reads, a few times before the pass stops. The commit listener is released
// on every path.
class PassRunner {
public:
    struct Steps {
        std::function<void()> opened;       // the pass's rows are in qry1, before the first
        std::function<void()> visit;        // the current row
        std::function<void()> writeInHand;  // every value read and not yet written
        std::function<void()> abandon;      // after a failure, once the group has ended
        // After a lock conflict, once the group has ended (committed if the
        // engine still held it, else lost): every value read in it and not
        // stored is to be read again. Empty: a conflict stops the pass.
        std::function<void()> lost;
    };
    static constexpr int lockConflictTries = 5;

    // `groupEnded` is told of every group of written rows that ends: how many
    // it held and whether they are stored.
    PassRunner(TDataModule1& dataModule, const std::atomic<bool>* stop,
               std::function<void(int rows, bool stored)> groupEnded);

    // Runs the pass over the rows whose key lies in `range`; false when a
    // stop request ended it before its last row. Throws the first failure.
    bool run(const PicturePass& pass, const Steps& steps, const KeyRange& range = {});

    // The current row's value of `field`, read with the right to write it
    // (nullopt: changed since the rows were read). A group that has waited its
    // interval is committed first, once the values in hand are written.
    std::optional<QByteArray> readForWriting(const TField& field);

    int retries() const { return retries_; }  // steps run again after a lock conflict
    int currentRow() const { return row_; }   // the current row's number in the pass, from 0

private:
    void retrying(const std::function<void()>& step);
    void commit();

    TDataModule1& dataModule_;
    const std::atomic<bool>* stop_;
    std::function<void(int rows, bool stored)> groupEnded_;
    const PicturePass* pass_ = nullptr;    // while a pass runs
    const Steps* steps_ = nullptr;
    int retries_ = 0;
    int row_ = 0;
};
