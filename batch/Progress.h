#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

#include <cstdio>

// How far the run is, on a stream: a one-line bar redrawn in place on a
// terminal, or a plain line every few seconds for a log.
class Progress {
public:
    Progress(std::FILE* stream, qint64 total, bool terminal);

    void ValueDone();
    void ValuesUndone(qint64 values);  // rolled back by the engine: not done after all
    void Finish();  // the last state, and the line ended

    // The parts of a line: "123/456", "12.3 values/s", "0:05 left".
    static QString Line(qint64 done, qint64 total, double seconds, bool bar);

private:
    void Show();

    std::FILE* Stream;
    qint64 Total;
    bool Terminal;
    qint64 Done = 0;
    QElapsedTimer Clock;
    qint64 ShownAt = -1;  // ms
    qsizetype Width = 0;  // of the longest bar drawn
};
