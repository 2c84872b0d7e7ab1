#pragma once

#include <QVariant>

#include <vector>

// A row of a query's result named by its key as it was read, so that it can
// be written after the walk has moved past it, whatever rows the query still
// holds.
class HeldRow {
private:
    friend class ResultSet;
    explicit HeldRow(std::vector<QVariant> key) : key_(std::move(key)) {}

    std::vector<QVariant> key_;
};
