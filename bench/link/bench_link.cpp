// bench_link [--delay-us N] [--rate-mbit R] [--rows N] [--show N]: the job against a
// SQL Server stand-in (bench_link_server) across whatever link this process
// runs on; bench/link/bench-link.sh runs it inside a network namespace whose
// loopback is rate-limited. Prints, from one run, the floors (the minimal
// ODBC client with one and two sessions, and the link's own: the bytes it
// carried for that client at `--rate-mbit`) and against them
// bmp2jpg-batch --jobs 1, --jobs 2 with one session and with its default two,
// and the desktop job, with what the server saw
// of each: requests and statements per value, values read again, bytes,
// time spent answering. With --rows, bmp2jpg-batch --jobs 2 to the end on
// tables of N and 10 N rows: time to the first picture, total time, time
// per row and peak memory, and their ratios. --show prints each server's first N requests.
// Each client is a process of its own, timed
// whole, against a fresh server:
// bench_link --floor <server> <finished JPEGs> <sessions>
// bench_link --desktop <server>, bench_link --batch <batch arguments>.
#include "batch/BatchMain.h"
#include "bench/job/DatabaseFloor.h"
#include "bench/job/DesktopJob.h"
#include "bench/job/PeakMemory.h"
#include "bench/job/PhotoCorpus.h"
#include "bench/link/LinkFloor.h"
#include "codec/MemoryReuse.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <map>
#include <numeric>

namespace {

struct Options {
    qint64 delayUs = 500;
    double rateMbit = 0;  // 0: not limited
    int rows = 0;         // 0: no table of many rows
    int show = 0;         // requests each server prints as it received them
};

// One client's run against a fresh server.
struct Run {
    double seconds = 0;
    double cpuSeconds = 0;  // the client's, user and system
    double peakMiB = 0;
    double linkBytes = 0;       // what the qdisc of lo sent meanwhile; 0 where none counts
    double firstWriteSeconds = 0;  // from the client's start to the server's first UPDATE
    double countedSeconds = 0;     // from the client's start to its first line of progress
    std::map<QString, double> server;  // what bench_link_server printed
    bool ok = false;

    double figure(const char* name) const
    {
        const auto found = server.find(QString::fromLatin1(name));
        return found == server.end() ? 0 : found->second;
    }
};

// CPU time of the children waited for so far.
double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString ServerProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/bench_link_server");
}

// Bytes the loopback's root qdisc has sent, as tc counts them.
double LinkBytes()
{
    QProcess tc;
    tc.start(QStringLiteral("tc"), {QStringLiteral("-s"), QStringLiteral("-j"), QStringLiteral("qdisc"), QStringLiteral("show"),
                                    QStringLiteral("dev"), QStringLiteral("lo")});
    if (!tc.waitForFinished(10000) || tc.exitCode() != 0)
        return 0;
    double bytes = 0;
    for (const QJsonValue qdisc : QJsonDocument::fromJson(tc.readAllStandardOutput()).array())
        bytes += qdisc.toObject().value(QStringLiteral("bytes")).toDouble();
    return bytes;
}

Run RunAgainstServer(const Options& options, const QStringList& table, const QStringList& client)
{
    Run run;
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(ServerProgram(), table + QStringList{QStringLiteral("--delay-us"), QString::number(options.delayUs),
                                                      QStringLiteral("--show"), QString::number(options.show)});
    if (!server.waitForReadyRead(-1)) {
        std::fprintf(stderr, "bench_link_server did not start: %s\n", server.readAllStandardError().constData());
        return run;
    }
    const QString port = QString::fromLatin1(server.readLine()).section(QLatin1Char(' '), 1).trimmed();
    QStringList arguments = client;
    arguments.replaceInStrings(QStringLiteral("@SERVER@"), QStringLiteral("127.0.0.1,") + port);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BMP2JPG_PASSWORD"), QString());
    child.setProcessEnvironment(environment);
    const double linkBefore = LinkBytes();
    const double cpuBefore = ChildrenCpuSeconds();
    const double startMs = double(QDateTime::currentMSecsSinceEpoch());
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(), arguments);
    // The batch command's first progress line comes once it has counted the values.
    child.setReadChannel(QProcess::StandardError);
    if (child.waitForReadyRead(-1))
        run.countedSeconds = (double(QDateTime::currentMSecsSinceEpoch()) - startMs) / 1000;
    child.waitForFinished(-1);
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.cpuSeconds = ChildrenCpuSeconds() - cpuBefore;
    run.linkBytes = std::max(0.0, LinkBytes() - linkBefore);
    const QByteArray out = child.readAllStandardOutput();
    run.ok = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    if (!run.ok)
        std::fprintf(stderr, "%s failed (exit %d): %s\n%s\n", qPrintable(arguments.join(u' ')), child.exitCode(), out.constData(),
                     child.readAllStandardError().right(2000).constData());
    const QRegularExpressionMatch last = QRegularExpression(QStringLiteral("([\\d.]+) ([\\d.]+)\\s*$")).match(QString::fromUtf8(out));
    run.peakMiB = last.captured(2).toDouble();

    server.closeWriteChannel();
    server.waitForFinished(-1);
    for (const QByteArray& line : server.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            run.server[QString::fromLatin1(parts[0])] = parts[1].toDouble();
    }
    if (const double first = run.figure("first_write_ms"); first > 0)
        run.firstWriteSeconds = (first - startMs) / 1000;
    return run;
}

QStringList Photos()
{
    return {QStringLiteral("--photos")};
}

// bmp2jpg-batch with `sessions` sessions; 0 leaves it its default.
QStringList Batch(int jobs, int sessions = 0)
{
    QStringList arguments{QStringLiteral("--batch"), QStringLiteral("--server"), QStringLiteral("@SERVER@"),
                          QStringLiteral("--user"),  QStringLiteral("bench"),    QStringLiteral("--database"),
                          QStringLiteral("pictures"), QStringLiteral("--jobs"),  QString::number(jobs)};
    if (sessions > 0)
        arguments << QStringLiteral("--sessions") << QString::number(sessions);
    return arguments;
}

int BatchInProcess(const QStringList& arguments)
{
    QElapsedTimer timer;
    timer.start();
    const int code = RunBatch(arguments, OdbcDriverProfile::SqlServer());
    std::printf("\n%f %f\n", double(timer.nsecsElapsed()) / 1e9, double(PeakResidentBytes()) / (1 << 20));
    return code;
}

void PrintRun(const char* name, const Run& run, const Run& floor, double linkFloor, double values, const Options& options)
{
    const double requests = run.figure("requests");
    const double delays = requests * double(options.delayUs) / 1e6;
    const double link = options.rateMbit > 0 ? run.linkBytes * 8 / (options.rateMbit * 1e6) : 0;
    std::printf("%-18s %7.2f s  %5.2f x client floor  %5.2f x link floor  peak %4.0f MiB  cpu %.2f s\n", name, run.seconds,
                run.seconds / floor.seconds, linkFloor > 0 ? run.seconds / linkFloor : 0.0, run.peakMiB, run.cpuSeconds);
    std::printf("%-18s requests/value %.2f (value reads %.0f, writes %.0f, read again %.0f, pages %.0f, counts %.0f, "
                "catalog %.0f, unprepare %.0f, attention %.0f, commits %.0f)\n",
                "", requests / values, run.figure("statements.value"), run.figure("statements.write"),
                run.figure("values_read_again"), run.figure("statements.page"), run.figure("statements.count"),
                run.figure("statements.catalog"), run.figure("kind.sp_unprepare"), run.figure("kind.attention"),
                run.figure("statements.commit"));
    std::printf("%-18s bytes to client %.1f MB, from client %.1f MB, on the link %.1f MB; link busy %.2f s, delays %.2f s, "
                "the rest %.2f s; server answering %.2f s, awaiting the client %.2f s, cpu %.2f s\n",
                "", run.figure("bytes_out") / 1e6, run.figure("bytes_in") / 1e6, run.linkBytes / 1e6, link, delays,
                run.seconds - link - delays, run.figure("answering_s"), run.figure("awaiting_s"), run.figure("cpu_s"));
}

}  // namespace

int main(int argc, char** argv)
{
    // As the programs measured do, so that the floor reads with the same allocator.
    KeepFreedMemoryForReuse();
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.size() == 4 && arguments[0] == QLatin1String("--floor"))
        return RunLinkFloor(arguments[1], arguments[2], arguments[3].toInt());
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--desktop"))
        return RunDesktopJob(arguments[1], QStringLiteral("pictures"));
    if (!arguments.isEmpty() && arguments[0] == QLatin1String("--batch"))
        return BatchInProcess(arguments.mid(1));

    Options options;
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--delay-us"))
            options.delayUs = arguments[i + 1].toLongLong();
        else if (arguments[i] == QLatin1String("--rate-mbit"))
            options.rateMbit = arguments[i + 1].toDouble();
        else if (arguments[i] == QLatin1String("--rows"))
            options.rows = arguments[i + 1].toInt();
        else if (arguments[i] == QLatin1String("--show"))
            options.show = arguments[i + 1].toInt();
    }

    std::printf("Generating the corpus...\n");
    std::fflush(stdout);
    const Corpus corpus = MakeCorpus();
    QElapsedTimer encoding;
    encoding.start();
    const std::vector<QByteArray> finished = FinishedJpegs(corpus);
    const double encodingSeconds = double(encoding.nsecsElapsed()) / 1e9;
    QTemporaryDir scratch;
    const QString finishedFile = scratch.filePath(QStringLiteral("finished.bin"));
    WriteFinishedJpegs(finished, finishedFile);
    double bitmapBytes = 0;
    for (const Picture& picture : corpus.pictures)
        bitmapBytes += double(picture.bytes.size());
    const double jpegBytes = std::accumulate(finished.begin(), finished.end(), 0.0,
                                             [](double sum, const QByteArray& jpeg) { return sum + double(jpeg.size()); });
    const double values = double(corpus.pictures.size());

    const auto floorRun = [&](int sessions) {
        return RunAgainstServer(options, Photos(),
                                {QStringLiteral("--floor"), QStringLiteral("@SERVER@"), finishedFile, QString::number(sessions)});
    };
    const Run floor = floorRun(1);
    const Run floorTwo = floorRun(2);
    const Run batchOne = RunAgainstServer(options, Photos(), Batch(1));
    const Run batchOneSession = RunAgainstServer(options, Photos(), Batch(2, 1));
    const Run batchTwo = RunAgainstServer(options, Photos(), Batch(2));
    const Run desktop = RunAgainstServer(options, Photos(), {QStringLiteral("--desktop"), QStringLiteral("@SERVER@")});

    const double rate = options.rateMbit * 1e6 / 8;  // bytes a second
    const double linkFloor = rate > 0 ? floor.linkBytes / rate : 0;
    std::printf("photo table: %.0f bitmaps (%.1f MB) read, their JPEGs (%.1f MB) written, 20 JPEG values left; "
                "delay per answer %lld us, link %s\n",
                values, bitmapBytes / 1e6, jpegBytes / 1e6, options.delayUs,
                rate > 0 ? qPrintable(QStringLiteral("%1 Mbit/s").arg(options.rateMbit)) : "not limited");
    std::printf("encoding alone     %7.2f s  (ConvertBmpBytes on one thread, in this process)\n", encodingSeconds);
    if (rate > 0)
        std::printf("link floor         %7.2f s  (the %.1f MB the client floor moved at the link's rate; the values alone %.2f s)\n",
                    linkFloor, floor.linkBytes / 1e6, (bitmapBytes + jpegBytes) / rate);
    PrintRun("client floor", floor, floor, linkFloor, values, options);
    PrintRun("floor, 2 sessions", floorTwo, floor, linkFloor, values, options);
    PrintRun("batch --jobs 1", batchOne, floor, linkFloor, values, options);
    PrintRun("batch, 1 session", batchOneSession, floor, linkFloor, values, options);
    PrintRun("batch --jobs 2", batchTwo, floor, linkFloor, values, options);
    PrintRun("desktop job", desktop, floor, linkFloor, values, options);
    std::printf("goals: batch --jobs 2 / client floor %.2f (<= 1.10), / link floor %.2f (<= 1.25); desktop / client floor %.2f "
                "(<= 1.50)\n",
                batchTwo.seconds / floor.seconds, linkFloor > 0 ? batchTwo.seconds / linkFloor : 0.0,
                desktop.seconds / floor.seconds);
    std::printf("sessions: over disjoint key ranges, 2 sessions take %.2f of one session's time for the client floor, %.2f for "
                "bmp2jpg-batch --jobs 2 (--sessions 2, its default, against --sessions 1)\n",
                floorTwo.seconds / floor.seconds, batchTwo.seconds / batchOneSession.seconds);

    bool manyOk = true;
    if (options.rows > 0) {
        const auto many = [&](int rows) {
            const Run run = RunAgainstServer(options, {QStringLiteral("--rows"), QString::number(rows)}, Batch(2));
            // 1 row in 100 holds a bitmap; each must have been written once.
            const int bitmaps = rows / 100 + (rows % 100 > 50 ? 1 : 0);
            manyOk = manyOk && run.ok && int(run.figure("made_writes")) == bitmaps;
            std::printf("%7d rows       %7.2f s  %5.1f us/row  peak %5.1f MiB  cpu %.2f s  first picture %.2f s (%.2f s after the "
                        "counts)  written %.0f of %d bitmaps (%.1f MB)  stand-in: cpu %.2f s, peak %.0f MiB\n",
                        rows, run.seconds, run.seconds / rows * 1e6, run.peakMiB, run.cpuSeconds, run.firstWriteSeconds,
                        run.firstWriteSeconds - run.countedSeconds, run.figure("made_writes"), bitmaps,
                        run.figure("made_bytes_written") / 1e6, run.figure("cpu_s"), run.figure("peak_mib"));
            return run;
        };
        const Run small = many(options.rows);
        const Run large = many(10 * options.rows);
        std::printf("many rows: %d / %d rows, batch --jobs 2 to the end: peak memory ratio %.3f (goal: within 10 %%), time per "
                    "row ratio %.2f, first picture ratio %.2f, after the counts ratio %.2f\n",
                    10 * options.rows, options.rows, large.peakMiB / small.peakMiB,
                    (large.seconds / (10.0 * options.rows)) / (small.seconds / options.rows),
                    large.firstWriteSeconds / small.firstWriteSeconds,
                    (large.firstWriteSeconds - large.countedSeconds) / (small.firstWriteSeconds - small.countedSeconds));
    }
    const bool ok = floor.ok && floorTwo.ok && batchOne.ok && batchOneSession.ok && batchTwo.ok && desktop.ok && manyOk;
    return ok ? 0 : 1;
}
