#pragma once

#include "convert/ValueTally.h"

#include <QString>

#include <vector>

// What the run did (or, dry, would do), for standard output: the values of
// each column by kind, then the totals and the time taken.
QString SummaryText(const std::vector<ColumnTally>& columns, bool dryRun, bool stopped, double seconds);
