#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// One row of table BAC1 as stored; nullopt is NULL.
struct ImageRow {
    std::optional<QString> bce01;
    std::optional<QByteArray> bac02;
    std::optional<QByteArray> bac04;

    friend bool operator==(const ImageRow&, const ImageRow&) = default;
};

// Every row of BAC1 in an embedded-server database file, in storage order.
std::vector<ImageRow> ReadImageTable(const QString& databaseFile);
