#pragma once

#include "job/PictureWalk.h"

#include <atomic>
#include <deque>
#include <functional>
#include <future>
#include <vector>

class TDataModule1;

// The batch command's way to convert: in memory, up to `jobs` pictures at
// once on worker threads, while the one connection reads and writes.
class ParallelEncoder : public PictureConverter {
public:
    explicit ParallelEncoder(int jobs) : jobs_(jobs) {}
    ~ParallelEncoder() override;

    int capacity() const override { return jobs_; }
    void beginPass(const QString&) override {}
    void start(const QString& rowName, QByteArray bmp) override;
    std::optional<QByteArray> finish() override;
    void abandon() override;

private:
    int jobs_;
    std::deque<std::future<std::optional<QByteArray>>> encoding_;  // oldest first
};

// The conversion of table BAC1 from the batch command. Rows are read and
// written in order; each value ends exactly as the desktop run leaves it.
// A dry run reads and encodes but writes nothing.
class PipelinedRun {
public:
    PipelinedRun(TDataModule1& dataModule, int jobs, bool dryRun, const std::atomic<bool>& stop,
                 std::function<void()> valueDone, std::function<void(int values)> valuesUndone = {},
                 ValueLog* log = nullptr, KeyRange range = {});

    // Throws the first failure, naming its row and column; values committed
    // before it stay converted.
    void run() { walk_.run(); }

    bool stopped() const { return walk_.stopped(); }
    const std::vector<ColumnTally>& tallies() const { return walk_.tallies(); }
    int retries() const { return walk_.retries(); }

private:
    ParallelEncoder encoder_;
    PictureWalk walk_;
};
