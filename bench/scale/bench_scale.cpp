// bench_scale [work folder] [rows]: builds embedded-server databases of
// `rows` and four times `rows` rows (250,000 and 1,000,000 unless told;
// 1 row in 100 a bitmap, the rest small JPEG values) and prints, from one
// run, the batch command's peak memory and time to the first picture on
// both, the desktop job against the batch command on the larger one, and
// the peak memory of a table of 100 MB bitmaps with one and two jobs.
// Each run is a child process of its own so its peak memory is its own:
// bench_scale --batch <batch arguments> | --desktop <server folder> <database>.
#include "batch/BatchMain.h"
#include "bench/job/DesktopJob.h"
#include "bench/job/FreshCopy.h"
#include "bench/job/PeakMemory.h"
#include "codec/MemoryReuse.h"
#include "testdata/ImageTableWriter.h"
#include "testdata/StoredPictures.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>

namespace {

struct RunFigures {
    double seconds = 0;
    double peakMiB = 0;
    double firstPictureSeconds = 0;  // from the start of the process to the first value written
    double countedSeconds = 0;       // from the start to the first progress line, once the values are counted
};

double MiB(std::uint64_t bytes)
{
    return double(bytes) / (1 << 20);
}

// The moment of the first write is kept by the database itself, so the run
// needs no hook of its own.
void LogFirstWrite(ImageTableWriter& table)
{
    table.Execute(QStringLiteral("create table first_write (at real)"));
    table.Execute(QStringLiteral("create trigger log_first_write after update of BAC02 on BAC1 "
                                 "when not exists (select 1 from first_write) "
                                 "begin insert into first_write values (julianday('now')); end"));
}

// Rows of small JPEG values with a bitmap every 100th row, in BAC02.
void WriteManyRows(const QString& file, int rows)
{
    const QByteArray jpeg = stored::Jpeg(16, 16, 1);
    const QByteArray bmp = stored::Bmp24(160, 120, 2);
    ImageTableWriter table(file);
    for (int row = 0; row < rows; ++row)
        table.AddRow(QStringLiteral("r%1").arg(row), row % 100 == 50 ? bmp : jpeg, std::nullopt);
    LogFirstWrite(table);
}

void WriteHugePictures(const QString& file)
{
    // 5800 x 5800 at 24 bits: 100.9 MB.
    const QByteArray bmp = stored::Bmp24(5800, 5800, 3);
    ImageTableWriter table(file);
    for (int row = 0; row < 3; ++row)
        table.AddRow(QStringLiteral("h%1").arg(row), bmp, std::nullopt);
    LogFirstWrite(table);
}

// Milliseconds since the epoch of the first write in the database, 0 if none.
double FirstWriteMs(const QString& file)
{
    double ms = 0;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
        database.setDatabaseName(file);
        if (database.open()) {
            QSqlQuery query(database);
            if (query.exec(QStringLiteral("select (at - 2440587.5) * 86400000.0 from first_write")) && query.next())
                ms = query.value(0).toDouble();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    return ms;
}

// A child on a fresh copy of the pristine database <work>/<name>.db, as
// run.db; it prints "<seconds> <peak MiB>" last.
RunFigures RunChild(const QDir& work, const QString& name, const QStringList& arguments)
{
    const QString copy = work.filePath(QStringLiteral("run.db"));
    FreshCopy(work.filePath(name + QStringLiteral(".db")), copy);
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BMP2JPG_PASSWORD"), QString());
    child.setProcessEnvironment(environment);
    const double startMs = double(QDateTime::currentMSecsSinceEpoch());
    child.start(QCoreApplication::applicationFilePath(), arguments);
    // The batch command's first progress line comes once it has counted the values.
    child.setReadChannel(QProcess::StandardError);
    const bool progress = child.waitForReadyRead(-1);
    const double countedMs = double(QDateTime::currentMSecsSinceEpoch());
    child.waitForFinished(-1);
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    if (child.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s%s\n", qPrintable(arguments.join(u' ')), qPrintable(out),
                     child.readAllStandardError().constData());
    RunFigures figures;
    if (progress)
        figures.countedSeconds = (countedMs - startMs) / 1000;
    const QRegularExpressionMatch last = QRegularExpression(QStringLiteral("([\\d.]+) ([\\d.]+)\\s*$")).match(out);
    figures.seconds = last.captured(1).toDouble();
    figures.peakMiB = last.captured(2).toDouble();
    if (const double firstMs = FirstWriteMs(copy); firstMs > 0)
        figures.firstPictureSeconds = (firstMs - startMs) / 1000;
    return figures;
}

RunFigures RunBatchChild(const QDir& work, const QString& name, int jobs)
{
    return RunChild(work, name,
                    {QStringLiteral("--batch"), QStringLiteral("--server"), work.path(), QStringLiteral("--user"),
                     QStringLiteral("bench"), QStringLiteral("--database"), QStringLiteral("run"), QStringLiteral("--jobs"),
                     QString::number(jobs)});
}

RunFigures RunDesktopChild(const QDir& work, const QString& name)
{
    return RunChild(work, name, {QStringLiteral("--desktop"), work.path(), QStringLiteral("run")});
}

int BatchInProcess(const QStringList& arguments)
{
    QElapsedTimer timer;
    timer.start();
    const int code = RunBatch(arguments, OdbcDriverProfile::SqlServer());
    std::printf("\n%f %f\n", double(timer.nsecsElapsed()) / 1e9, MiB(PeakResidentBytes()));
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    // As the programs measured do.
    KeepFreedMemoryForReuse();
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (!arguments.isEmpty() && arguments.front() == QLatin1String("--batch"))
        return BatchInProcess(arguments.mid(1));
    if (arguments.size() == 3 && arguments.front() == QLatin1String("--desktop"))
        return RunDesktopJob(arguments[1], arguments[2]);

    QTemporaryDir scratch;
    const QDir work(arguments.size() > 0 ? arguments[0] : scratch.path());
    QDir().mkpath(work.path());
    const int rows = arguments.size() > 1 ? arguments[1].toInt() : 250000;

    std::printf("Writing tables of %d and %d rows and one of 100 MB bitmaps...\n", rows, 4 * rows);
    std::fflush(stdout);
    WriteManyRows(work.filePath(QStringLiteral("rows.db")), rows);
    WriteManyRows(work.filePath(QStringLiteral("rows4.db")), 4 * rows);
    WriteHugePictures(work.filePath(QStringLiteral("huge.db")));

    const RunFigures small = RunBatchChild(work, QStringLiteral("rows"), 2);
    const RunFigures large = RunBatchChild(work, QStringLiteral("rows4"), 2);
    const RunFigures desktop = RunDesktopChild(work, QStringLiteral("rows4"));
    const RunFigures hugeOne = RunBatchChild(work, QStringLiteral("huge"), 1);
    const RunFigures hugeTwo = RunBatchChild(work, QStringLiteral("huge"), 2);
    QFile::remove(work.filePath(QStringLiteral("run.db")));

    std::printf("rows %d / %d, 1 in 100 a 160 x 120 bitmap, the rest JPEG values (bmp2jpg-batch --jobs 2)\n", rows,
                4 * rows);
    std::printf("peak memory       : %.0f MiB / %.0f MiB, ratio %.2f  (goal <= 1.10)\n", small.peakMiB, large.peakMiB,
                large.peakMiB / small.peakMiB);
    std::printf("first picture     : %.2f s / %.2f s after the start, ratio %.2f  (goal: independent of the rows)\n",
                small.firstPictureSeconds, large.firstPictureSeconds,
                large.firstPictureSeconds / small.firstPictureSeconds);
    std::printf("   of which counting the values for the progress: %.2f s / %.2f s; after the count %.2f s / %.2f s, "
                "ratio %.2f\n",
                small.countedSeconds, large.countedSeconds, small.firstPictureSeconds - small.countedSeconds,
                large.firstPictureSeconds - large.countedSeconds,
                (large.firstPictureSeconds - large.countedSeconds) / (small.firstPictureSeconds - small.countedSeconds));
    std::printf("whole run         : %.2f s / %.2f s\n", small.seconds, large.seconds);
    std::printf("desktop job       : %.2f s on %d rows, %.2f times bmp2jpg-batch --jobs 2  (goal <= 2.00), peak %.0f MiB\n",
                desktop.seconds, 4 * rows, desktop.seconds / large.seconds, desktop.peakMiB);
    const double hugeMiB = MiB(std::uint64_t(5800) * 5800 * 3 + 54);
    std::printf("100 MB bitmaps    : peak %.0f MiB with --jobs 1 (%.1f times the picture), %.0f MiB with --jobs 2 "
                "(%.1f)  (goal <= 3 per job in flight)\n",
                hugeOne.peakMiB, hugeOne.peakMiB / hugeMiB, hugeTwo.peakMiB, hugeTwo.peakMiB / hugeMiB);
    return 0;
}
