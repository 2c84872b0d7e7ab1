#include "batch/BatchMain.h"

#include "batch/BatchErrors.h"
#include "batch/CommandLine.h"
#include "batch/Console.h"
#include "batch/Password.h"
#include "batch/PipelinedRun.h"
#include "batch/Progress.h"
#include "batch/Summary.h"
#include "convert/ImageTable.h"
#include "data/UDataModule.h"

#include <QElapsedTimer>

#include <cstdio>
#include <stdexcept>

namespace {

constexpr int kFailed = 1;
constexpr int kBadUsage = 2;
constexpr int kStoppedByUser = 130;

void Print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

void Connect(TDataModule1& dataModule)
{
    try {
        dataModule.ConnectOrThrow();
    } catch (const std::exception& error) {
        throw std::runtime_error(QStringLiteral("cannot open database \"%1\" on \"%2\": %3")
                                     .arg(dataModule.InitialCatalog, dataModule.DataSource, QString::fromUtf8(error.what()))
                                     .toStdString());
    }
    if (!HasPictureTable(dataModule))
        throw std::runtime_error(
            QStringLiteral("database \"%1\" has no table BAC1").arg(dataModule.InitialCatalog).toStdString());
}

// The run with its progress and summary; the summary is printed even when a
// failure stops the run, before the failure passes on.
int Convert(TDataModule1& dataModule, const BatchOptions& options)
{
    Connect(dataModule);
    const qint64 total = CountPictures(dataModule);
    QElapsedTimer clock;
    clock.start();
    Progress progress(stderr, total, console::IsTerminal(stderr));
    PipelinedRun run(dataModule, options.jobs, options.dryRun, console::CatchStopRequests(),
                     [&progress] { progress.ValueDone(); });
    struct Summary {
        Progress& progress;
        const PipelinedRun& run;
        const BatchOptions& options;
        QElapsedTimer& clock;
        ~Summary()
        {
            progress.Finish();
            Print(stdout, SummaryText(run.Tallies(), options.dryRun, run.Stopped(), double(clock.elapsed()) / 1000));
        }
    } summary{progress, run, options, clock};
    run.Run();
    return run.Stopped() ? kStoppedByUser : 0;
}

}  // namespace

int RunBatch(const QStringList& arguments, const OdbcDriverProfile& odbc)
{
    BatchOptions options;
    TDataModule1 dataModule(odbc);
    try {
        options = ParseCommandLine(arguments);
        if (options.help) {
            Print(stdout, HelpText());
            return 0;
        }
        static_cast<ConnectionSettings&>(dataModule) = options.connection;
        dataModule.Password = ReadPassword();
    } catch (const UsageError& error) {
        Print(stderr, QStringLiteral("bmp2jpg-batch: %1\nTry \"bmp2jpg-batch --help\".\n").arg(QString::fromUtf8(error.what())));
        return kBadUsage;
    }
    try {
        return Convert(dataModule, options);
    } catch (const std::exception& error) {
        Print(stderr, QStringLiteral("bmp2jpg-batch: %1\n").arg(QString::fromUtf8(error.what())));
        return kFailed;
    }
}
