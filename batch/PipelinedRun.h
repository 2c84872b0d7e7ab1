#pragma once

#include "batch/ValueTally.h"

#include <atomic>
#include <functional>
#include <vector>

class TDataModule1;
class TField;
struct PicturePass;

// The conversion of table BAC1 on the data module's one connection, with the
// encoding of up to `jobs` pictures at once on worker threads. Rows are read
// and written in order; each value ends exactly as the desktop run leaves it.
// A dry run reads and encodes but writes nothing.
class PipelinedRun {
public:
    PipelinedRun(TDataModule1& dataModule, int jobs, bool dryRun, const std::atomic<bool>& stop,
                 std::function<void()> valueDone);
    ~PipelinedRun();

    // Throws the first failure, naming its row and column; rows written
    // before it are committed.
    void Run();

    // True when a stop request left values unvisited.
    bool Stopped() const { return StoppedEarly; }
    const std::vector<ColumnTally>& Tallies() const { return Columns; }

private:
    struct Pass;
    struct InFlight;
    struct Encoded;

    void RunPass(const PicturePass& pass, ColumnTally& tally);
    void Visit(Pass& pass);
    Encoded TakeOldest(const Pass& pass);
    void Store(Pass& pass, const Encoded& encoded);
    void StoreAll(Pass& pass);

    TDataModule1& DataModule;
    int Jobs;
    bool DryRun;
    const std::atomic<bool>& Stop;
    std::function<void()> ValueDone;
    std::vector<InFlight> Pending;  // oldest first
    std::vector<ColumnTally> Columns;
    bool StoppedEarly = false;
};
