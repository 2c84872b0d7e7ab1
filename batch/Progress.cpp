#include "batch/Progress.h"

#include "batch/Console.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kRedrawMs = 100;      // a bar, often enough to look alive
constexpr qint64 kLogLineMs = 5000;    // a log, rarely enough to stay short
constexpr int kBarWidth = 30;

QString Duration(double seconds)
{
    const qint64 whole = qint64(std::llround(seconds));
    if (whole >= 3600)
        return QStringLiteral("%1:%2:%3").arg(whole / 3600).arg(whole / 60 % 60, 2, 10, QChar(u'0')).arg(whole % 60, 2, 10, QChar(u'0'));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QChar(u'0'));
}

}  // namespace

Progress::Progress(std::FILE* stream, qint64 total, bool terminal) : Stream(stream), Total(total), Terminal(terminal)
{
    Clock.start();
    Show();
}

void Progress::ValueDone()
{
    ++Done;
    if (Clock.elapsed() - ShownAt >= (Terminal ? kRedrawMs : kLogLineMs))
        Show();
}

void Progress::ValuesUndone(qint64 values)
{
    Done -= values;
}

void Progress::Finish()
{
    Show();
    if (Terminal)
        console::Write(Stream, QStringLiteral("\n"));
}

void Progress::Show()
{
    ShownAt = Clock.elapsed();
    const QString line = Line(Done, Total, double(ShownAt) / 1000, Terminal);
    if (!Terminal) {
        console::Write(Stream, line + QLatin1Char('\n'));
        return;
    }
    // "\r" and spaces over a longer line before redraw the bar in place,
    // also on consoles that know no escape sequences.
    Width = std::max(Width, line.size());
    console::Write(Stream, QLatin1Char('\r') + line.leftJustified(Width));
}

QString Progress::Line(qint64 done, qint64 total, double seconds, bool bar)
{
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    const QString left = rate > 0 ? Duration(double(std::max<qint64>(total - done, 0)) / rate) : QStringLiteral("-:--");
    const QString figures = QStringLiteral("%1/%2 values  %3 values/s  %4 left").arg(done).arg(total).arg(rate, 0, 'f', 1).arg(left);
    if (!bar)
        return QStringLiteral("bmp2jpg-batch: ") + figures;
    const int filled = total > 0 ? int(std::min<qint64>(done, total) * kBarWidth / total) : kBarWidth;
    return QStringLiteral("[%1%2] ").arg(QString(filled, u'#'), QString(kBarWidth - filled, u'.')) + figures;
}
