#pragma once

#include "data/KeyRange.h"
#include "job/ValueLog.h"
#include "job/ValueTally.h"

#include <atomic>
#include <functional>
#include <vector>

class TDataModule1;
struct OdbcDriverProfile;

// The batch command's conversion in several sessions at once, each over its
// own range of the table's key with its own transactions and locks: where
// each answer of the server takes a round trip, one session's wait is
// another's transfer. Ranges share their bounds, so every row is visited
// by exactly one session. Where the rows cannot be split (no key that pages
// them, the embedded server) it is one session, as PipelinedRun.
class SessionsRun {
public:
    struct Settings {
        int sessions = 1;
        int jobs = 1;  // pictures encoded at once, all sessions together
        bool dryRun = false;
    };
    // `dataModule` is connected; it splits the rows. Each session opens a
    // connection of its own with its settings through `connect`, which
    // throws what stops the run.
    SessionsRun(TDataModule1& dataModule, const OdbcDriverProfile& odbc, std::function<void(TDataModule1&)> connect,
                Settings settings, const std::atomic<bool>& stop, std::function<void()> valueDone,
                std::function<void(int values)> valuesUndone, ValueLog* log);

    // Throws the first failure of any session, once the others have written
    // their rows in hand and stopped.
    void run();

    bool stopped() const { return stopped_; }
    const std::vector<ColumnTally>& tallies() const { return tallies_; }
    int retries() const { return retries_; }

private:
    void runSessions(const std::vector<KeyRange>& ranges);

    TDataModule1& dataModule_;
    const OdbcDriverProfile& odbc_;
    std::function<void(TDataModule1&)> connect_;
    Settings settings_;
    const std::atomic<bool>& stop_;
    std::function<void()> valueDone_;
    std::function<void(int values)> valuesUndone_;
    ValueLog* log_;
    std::atomic<bool> stopAll_{false};  // a stop request, or one session's failure
    bool stopped_ = false;
    std::vector<ColumnTally> tallies_;
    int retries_ = 0;
};
