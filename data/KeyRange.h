#pragma once

#include <QVariant>

#include <vector>

// Rows of a table whose key lies in [from, until), in the server's order of
// the key: each bound is a key's values as a result reads them; empty, no
// bound. Ranges that share their bounds hold each row exactly once.
struct KeyRange {
    std::vector<QVariant> from;
    std::vector<QVariant> until;
};
