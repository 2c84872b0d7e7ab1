#pragma once

#include "testdata/ImageTableReader.h"

#include <vector>

// The table as a finished run leaves it: every readable bitmap replaced by
// its JPEG encoding, everything else exactly as it was.
std::vector<ImageRow> FinishedTable(const std::vector<ImageRow>& original);

// Every value of `now` is either the one in `original` or the one in `finished`.
bool EachValueOriginalOrFinished(const std::vector<ImageRow>& original, const std::vector<ImageRow>& finished,
                                 const std::vector<ImageRow>& now);
