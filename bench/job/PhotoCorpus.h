#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The photo table of the job benchmarks: 100 rows of two 1024 x 768
// bitmaps, 10 rows of two 2592 x 1944 ones, then 20 rows holding a JPEG
// already, made from a few generated photos.

struct Picture {
    QByteArray bytes;
    double megapixels;
};

struct Corpus {
    std::vector<Picture> pictures;  // in the order the job meets them: BAC02 of every row, then BAC04
    std::vector<QByteArray> jpegs;
};

constexpr int kRowsOfSmall = 100;  // two 1024 x 768 pictures each
constexpr int kRowsOfLarge = 10;   // two 2592 x 1944 pictures each
constexpr int kRowsOfJpeg = 20;

Corpus MakeCorpus();

struct PhotoRow {
    QString bce01;
    QByteArray bac02;
    std::optional<QByteArray> bac04;
};

// The rows of the photo table, in key order.
std::vector<PhotoRow> PhotoRows(const Corpus& corpus);

// The finished JPEGs of every bitmap, in the order the job meets them.
std::vector<QByteArray> FinishedJpegs(const Corpus& corpus);
