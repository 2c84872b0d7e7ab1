// bench_link_server --photos | --rows N [--delay-us N] [--show N]: the
// scripted TDS server of tests/tds on its own, as the SQL Server of the link
// benchmark. It serves BAC1 of database "pictures" from memory, with TLS as
// SQL Server offers it, answers every request `--delay-us` later (the round
// trip of the network it stands for), keeps what is written (of the made
// rows of --rows, only counts it), prints "port <port>" once it listens,
// "first_write" when the first UPDATE comes, and serves until its standard
// input closes. Then it prints what the clients asked of it and what that
// cost it, one "<name> <value>" a line (see PrintFigures), its own peak
// memory among them; with --show, the first N requests as received.
#include "bench/link/LinkTables.h"
#include "tests/tds/ScriptedTdsServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRegularExpression>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cstdio>
#include <map>
#include <set>

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What a statement does for the job.
QString Purpose(const LoggedStatement& statement)
{
    static const std::vector<std::pair<QString, QRegularExpression>> purposes = [] {
        std::vector<std::pair<QString, QRegularExpression>> p;
        const auto add = [&](const char* name, const char* pattern) {
            p.emplace_back(QString::fromLatin1(name), QRegularExpression(QString::fromLatin1(pattern), QRegularExpression::CaseInsensitiveOption));
        };
        add("write", R"(\bupdate top)");
        add("value", R"(^select top \(1\) datalength)");
        add("page", R"(^select top \(\d+\) .* order by)");
        add("count", R"(^select count\()");
        add("catalog", R"(\bsys\w*\.|sysobjects|sysdatabases|serverproperty|xact_state)");
        add("session", R"(^set )");
        return p;
    }();
    if (statement.kind == QLatin1String("transaction manager"))
        return statement.text.section(QLatin1Char(' '), 0, 0);  // begin, commit, if (rollback)
    if (statement.text.isEmpty())
        return statement.kind;
    for (const auto& [name, pattern] : purposes) {
        if (pattern.match(statement.text).hasMatch())
            return name;
    }
    return QStringLiteral("other");
}

// A value read whole: its column and the key it was read by.
QString ValueRead(const LoggedStatement& statement)
{
    static const QRegularExpression column(QStringLiteral(R"(datalength\((\[?\w+\]?)\))"), QRegularExpression::CaseInsensitiveOption);
    QString read = column.match(statement.text).captured(1);
    for (const RpcParameter& p : statement.parameters)
        read += QLatin1Char(' ') + p.value.toString();
    return read;
}

// What the clients asked, counted as each request comes so that nothing
// is kept per request. Touched under the server's lock only.
struct Figures {
    std::map<QString, int> purposes;
    std::map<QString, int> kinds;
    std::map<QString, int> reads;  // times each value was read
    int show = 0;                  // requests still to print
    int shown = 0;

    void count(const LoggedStatement& statement)
    {
        const QString purpose = Purpose(statement);
        ++purposes[purpose];
        ++kinds[statement.kind];
        if (purpose == QLatin1String("value"))
            ++reads[ValueRead(statement)];
        if (shown++ < show)
            std::fprintf(stderr, "%d %s: %s\n", statement.connection, qPrintable(statement.kind), qPrintable(statement.text.left(400)));
    }
};

void PrintFigures(const ScriptedTdsServer& server, const Figures& figures, double cpuSeconds, qint64 firstWriteMs)
{
    ConnectionTraffic total{0};
    for (const ConnectionTraffic& t : server.traffic()) {
        ++total.connection;
        total.requests += t.requests;
        total.bytesIn += t.bytesIn;
        total.bytesOut += t.bytesOut;
        total.answering += t.answering;
        total.awaiting += t.awaiting;
    }
    int readAgain = 0;
    for (const auto& [value, times] : figures.reads)
        readAgain += times - 1;
    const ScriptedTable table = server.table();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("connections %d\nrequests %lld\nbytes_in %lld\nbytes_out %lld\nanswering_s %.6f\nawaiting_s %.6f\n",
                total.connection, total.requests, total.bytesIn, total.bytesOut, double(total.answering.count()) / 1e9,
                double(total.awaiting.count()) / 1e9);
    std::printf("cpu_s %.6f\nfirst_write_ms %lld\nvalues_read %zu\nvalues_read_again %d\n", cpuSeconds, firstWriteMs,
                figures.reads.size(), readAgain);
    std::printf("made_writes %zu\nmade_bytes_written %lld\npeak_mib %.1f\n", table.madeWrites, table.madeBytesWritten,
                double(usage.ru_maxrss) / 1024);
    for (const auto& [purpose, count] : figures.purposes)
        std::printf("statements.%s %d\n", qPrintable(QString(purpose).replace(QLatin1Char(' '), QLatin1Char('_'))), count);
    for (const auto& [kind, count] : figures.kinds)
        std::printf("kind.%s %d\n", qPrintable(QString(kind).replace(QLatin1Char(' '), QLatin1Char('_'))), count);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    std::optional<ScriptedTable> table;
    std::chrono::microseconds delay{0};
    int show = 0;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--photos"))
            table = PhotoTable();
        else if (a == QLatin1String("--rows") && i + 1 < arguments.size())
            table = ManyRowsTable(arguments[++i].toInt());
        else if (a == QLatin1String("--delay-us") && i + 1 < arguments.size())
            delay = std::chrono::microseconds(arguments[++i].toLongLong());
        else if (a == QLatin1String("--show") && i + 1 < arguments.size())
            show = arguments[++i].toInt();
    }
    if (!table) {
        std::fprintf(stderr, "usage: bench_link_server --photos | --rows N [--delay-us N] [--show N]\n");
        return 2;
    }
    // The delay is slept: without this the kernel may add 50 µs to each.
    prctl(PR_SET_TIMERSLACK, 1UL);
    if (const char* why = ScriptedTdsServer::unreachableByTheProgram()) {
        std::fprintf(stderr, "bench_link_server: %s\n", why);
        return 1;
    }
    ScriptedTdsServer server(std::move(*table));
    server.delayEveryAnswer(delay);
    Figures figures;
    figures.show = show;
    server.countLogInstead([&figures](const LoggedStatement& statement) { figures.count(statement); });
    std::atomic<qint64> firstWriteMs{0};
    server.onRequest([&firstWriteMs](const LoggedStatement& statement) {
        qint64 none = 0;
        if (statement.text.contains(QLatin1String("UPDATE TOP"), Qt::CaseInsensitive) &&
            firstWriteMs.compare_exchange_strong(none, QDateTime::currentMSecsSinceEpoch())) {
            std::printf("first_write\n");
            std::fflush(stdout);
        }
    });
    const double setupCpu = CpuSeconds();
    std::printf("port %d\n", server.port());
    std::fflush(stdout);
    char discarded[256];
    while (std::fread(discarded, 1, sizeof discarded, stdin) > 0) {
    }
    PrintFigures(server, figures, CpuSeconds() - setupCpu, firstWriteMs);
    return 0;
}
