#pragma once

#include "testdata/ImageTableReader.h"

#include <QString>

#include <vector>

// A table with a row "locked" whose every update a trigger rejects with
// "row locked is read-only", rows before and after it in BAC02, and BAC04
// values the first pass never reaches.
void WriteLockedRowTable(const QString& databaseFile);

// What a run stopped by that row leaves: BAC02 finished before the row and
// untouched from it on, BAC04 untouched.
bool StoppedAtLockedRow(const std::vector<ImageRow>& original, const std::vector<ImageRow>& now);
