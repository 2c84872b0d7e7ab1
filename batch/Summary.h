#pragma once

#include "job/RestoreRun.h"
#include "job/ValueTally.h"

#include <QString>

#include <vector>

enum class RunEnd { Finished, StoppedByUser, Failed };

// What the run did (or, dry, would do), for standard output: the values of
// each column by kind, then the totals and the time taken. The counts are
// what is stored: after a failure, the values not counted are unchanged.
// `retries`: values read again after another client's lock stood in the way.
QString SummaryText(const std::vector<ColumnTally>& columns, bool dryRun, RunEnd end, double seconds, int retries);

// The same for a restore.
QString RestoreSummaryText(const RestoreTally& tally, bool dryRun, RunEnd end, double seconds);
