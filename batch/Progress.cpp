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

Progress::Progress(std::FILE* stream, qint64 total, bool terminal) : stream_(stream), total_(total), terminal_(terminal)
{
    clock_.start();
    show();
}

void Progress::valueDone()
{
    ++done_;
    if (clock_.elapsed() - shownAt_ >= (terminal_ ? kRedrawMs : kLogLineMs))
        show();
}

void Progress::valuesUndone(qint64 values)
{
    done_ -= values;
}

void Progress::finish()
{
    show();
    if (terminal_)
        console::Write(stream_, QStringLiteral("\n"));
}

void Progress::show()
{
    shownAt_ = clock_.elapsed();
    const QString text = line(done_, total_, double(shownAt_) / 1000, terminal_);
    if (!terminal_) {
        console::Write(stream_, text + QLatin1Char('\n'));
        return;
    }
    // "\r" and spaces over a longer line before redraw the bar in place,
    // also on consoles that know no escape sequences.
    width_ = std::max(width_, text.size());
    console::Write(stream_, QLatin1Char('\r') + text.leftJustified(width_));
}

QString Progress::line(qint64 done, qint64 total, double seconds, bool bar)
{
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    const QString left = rate > 0 ? Duration(double(std::max<qint64>(total - done, 0)) / rate) : QStringLiteral("-:--");
    const QString figures = tr("%1/%2 values  %3 values/s  %4 left").arg(done).arg(total).arg(rate, 0, 'f', 1).arg(left);
    if (!bar)
        return QStringLiteral("bmp2jpg-batch: ") + figures;
    const int filled = total > 0 ? int(std::min<qint64>(done, total) * kBarWidth / total) : kBarWidth;
    return QStringLiteral("[%1%2] ").arg(QString(filled, u'#'), QString(kBarWidth - filled, u'.')) + figures;
}
