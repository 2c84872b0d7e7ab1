#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

#include <cstdio>

// How far the run is, on a stream: a one-line bar redrawn in place on a
// terminal, or a plain line every few seconds for a log.
class Progress {
    Q_DECLARE_TR_FUNCTIONS(Progress)

public:
    Progress(std::FILE* stream, qint64 total, bool terminal);

    void valueDone();
    void valuesUndone(qint64 values);  // rolled back by the engine: not done after all
    void finish();  // the last state, and the line ended

    // The parts of a line: "123/456", "12.3 values/s", "0:05 left".
    static QString line(qint64 done, qint64 total, double seconds, bool bar);

private:
    void show();

    std::FILE* stream_;
    qint64 total_;
    bool terminal_;
    qint64 done_ = 0;
    QElapsedTimer clock_;
    qint64 shownAt_ = -1;  // ms
    qsizetype width_ = 0;  // of the longest bar drawn
};
