#pragma once

#include <QString>

// Replaces `copy` with a copy of the pristine table and waits until the disk
// has settled. A copy that fails ends the benchmark: a timed run on anything
// but the pristine table would time nothing.
void FreshCopy(const QString& pristine, const QString& copy);
