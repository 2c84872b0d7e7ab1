#include "batch/SessionsRun.h"

#include "batch/PipelinedRun.h"
#include "data/UDataModule.h"
#include "job/ImageTable.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <future>
#include <mutex>

namespace {

// One log fed by several sessions: each call is done before the next begins.
class SharedLog : public ValueLog {
public:
    explicit SharedLog(ValueLog& log) : log_(log) {}

    void beforeWrite(const VisitedValue& value, const QByteArray& original, const QByteArray& replacement) override
    {
        const std::lock_guard lock(mutex_);
        log_.beforeWrite(value, original, replacement);
    }
    void outcome(const VisitedValue& value, ValueKind kind, qint64 bytesAfter) override
    {
        const std::lock_guard lock(mutex_);
        log_.outcome(value, kind, bytesAfter);
    }
    void failed(const VisitedValue& value) override
    {
        const std::lock_guard lock(mutex_);
        log_.failed(value);
    }

private:
    ValueLog& log_;
    std::mutex mutex_;
};

// What one session did; its failure is kept for the caller to throw.
struct Outcome {
    std::vector<ColumnTally> tallies;
    int retries = 0;
    bool stopped = false;
    std::exception_ptr failure;
};

Outcome RunOne(TDataModule1& dataModule, const KeyRange& range, int jobs, bool dryRun, const std::atomic<bool>& stop,
               std::function<void()> valueDone, std::function<void(int values)> valuesUndone, ValueLog* log)
{
    Outcome outcome;
    PipelinedRun run(dataModule, jobs, dryRun, stop, std::move(valueDone), std::move(valuesUndone), log, range);
    try {
        run.run();
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    outcome.tallies = run.tallies();
    outcome.retries = run.retries();
    outcome.stopped = run.stopped();
    return outcome;
}

void Add(std::vector<ColumnTally>& tallies, const std::vector<ColumnTally>& more)
{
    for (const ColumnTally& tally : more) {
        auto mine = std::find_if(tallies.begin(), tallies.end(), [&](const ColumnTally& t) { return t.column == tally.column; });
        if (mine == tallies.end()) {
            tallies.push_back(tally);
            continue;
        }
        for (int kind = 0; kind < kValueKinds; ++kind) {
            mine->kinds[kind].values += tally.kinds[kind].values;
            mine->kinds[kind].bytes += tally.kinds[kind].bytes;
            mine->kinds[kind].bytesAfter += tally.kinds[kind].bytesAfter;
        }
    }
}

}  // namespace

SessionsRun::SessionsRun(TDataModule1& dataModule, const OdbcDriverProfile& odbc, std::function<void(TDataModule1&)> connect,
                         Settings settings, const std::atomic<bool>& stop, std::function<void()> valueDone,
                         std::function<void(int values)> valuesUndone, ValueLog* log)
    : dataModule_(dataModule), odbc_(odbc), connect_(std::move(connect)), settings_(settings), stop_(stop),
      valueDone_(std::move(valueDone)), valuesUndone_(std::move(valuesUndone)), log_(log)
{
}

void SessionsRun::run()
{
    // Each session encodes on a core of its own at least.
    const int sessions = std::min(settings_.sessions, settings_.jobs);
    const std::optional<std::vector<KeyRange>> ranges =
        sessions > 1 ? dataModule_.qry1.KeyRanges(PicturePasses().front().statement, sessions) : std::nullopt;
    if (ranges && ranges->size() > 1)
        return runSessions(*ranges);
    const Outcome outcome =
        RunOne(dataModule_, {}, settings_.jobs, settings_.dryRun, stop_, valueDone_, valuesUndone_, log_);
    Add(tallies_, outcome.tallies);
    retries_ = outcome.retries;
    stopped_ = outcome.stopped;
    if (outcome.failure)
        std::rethrow_exception(outcome.failure);
}

// Qt's connections belong to the thread that opened them: each session
// opens, uses and closes its own on a thread of its own.
void SessionsRun::runSessions(const std::vector<KeyRange>& ranges)
{
    const int sessions = int(ranges.size());
    std::mutex mutex;  // guards the progress and the first failure
    std::exception_ptr firstFailure;
    const auto valueDone = [&] {
        const std::lock_guard lock(mutex);
        valueDone_();
    };
    const auto valuesUndone = [&](int values) {
        const std::lock_guard lock(mutex);
        valuesUndone_(values);
    };
    std::optional<SharedLog> log;
    if (log_)
        log.emplace(*log_);
    std::vector<Outcome> outcomes(ranges.size());
    const auto session = [&](size_t i) {
        Outcome& outcome = outcomes[i];
        try {
            TDataModule1 dataModule(odbc_);
            static_cast<ConnectionSettings&>(dataModule) = static_cast<const ConnectionSettings&>(dataModule_);
            connect_(dataModule);
            const int jobs = settings_.jobs / sessions + (int(i) < settings_.jobs % sessions ? 1 : 0);
            outcome = RunOne(dataModule, ranges[i], jobs, settings_.dryRun, stopAll_, valueDone, valuesUndone,
                             log ? &*log : nullptr);
        } catch (...) {
            outcome.failure = std::current_exception();
        }
        if (outcome.failure) {
            const std::lock_guard lock(mutex);
            if (!firstFailure)
                firstFailure = outcome.failure;
            // The others write what they hold and stop.
            stopAll_ = true;
        }
    };
    std::vector<std::future<void>> running;
    for (size_t i = 0; i < ranges.size(); ++i)
        running.push_back(std::async(std::launch::async, session, i));
    // A stop request reaches the sessions within the poll.
    for (std::future<void>& r : running) {
        while (r.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout) {
            if (stop_)
                stopAll_ = true;
        }
    }
    for (const Outcome& outcome : outcomes) {
        Add(tallies_, outcome.tallies);
        retries_ += outcome.retries;
        stopped_ = stopped_ || (stop_ && outcome.stopped);
    }
    if (firstFailure)
        std::rethrow_exception(firstFailure);
}
