#pragma once

#include "tests/tds/ScriptedTable.h"

// The photo table of bench/job (PhotoCorpus), keyed by an int id.
ScriptedTable PhotoTable();

// `rows` rows, 1 in 100 a 160 x 120 bitmap in BAC02, the rest small JPEG
// values, as bench/scale's table of many rows; made as they are read.
ScriptedTable ManyRowsTable(int rows);
