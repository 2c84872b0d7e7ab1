// Encryption and --verify-certificate through the installed FreeTDS driver
// against the scripted TDS server, without encryption and with a certificate
// signed by a CA made for the test.
#include "batch/BatchMain.h"
#include "tests/job/ChildProcess.h"
#include "tests/job/ExpectedValues.h"
#include "tests/support/UnderWine.h"
#include "tests/tds/ScriptedTdsServer.h"
#include "tests/tds/TestCertificates.h"
#include "testdata/StoredPictures.h"

#include <QDir>

#include <functional>

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList batchArguments(quint16 port)
{
    return {QStringLiteral(BMP2JPG_BATCH),  QStringLiteral("--server"), QStringLiteral("127.0.0.1,%1").arg(port),
            QStringLiteral("--user"),       QStringLiteral("sa"),       QStringLiteral("--database"),
            QStringLiteral("pictures")};
}

std::vector<ImageRow> imageRows(const std::vector<Bac1Row>& rows)
{
    std::vector<ImageRow> image;
    for (const Bac1Row& row : rows)
        image.push_back({row.bce01, row.bac02, row.bac04});
    return image;
}

// A run against a server with a certificate signed by a CA made for it.
struct TlsRun {
    ChildOutcome outcome;
    std::vector<ImageRow> original;
    std::vector<ImageRow> now;
    QStringList answers;  // the server's encryption answers
    QStringList inClear;  // the kinds of request that came in clear
    size_t logins;
    QString context;  // for failure messages
};

// `options` gives the batch command's options beyond the connection's.
TlsRun runWithCertificate(const QString& caFolder, const QString& names, bool force,
                          const std::function<QStringList(const TestCertificates&)>& options)
{
    QTemporaryDir folder;
    if (!QDir(folder.path()).mkpath(caFolder))
        throw std::runtime_error("cannot make the CA folder");
    const TestCertificates certificates = MakeTestCertificates(folder.filePath(caFolder), names.toLatin1().constData());
    // A bitmap larger than a TDS packet in each picture column.
    ScriptedTable table;
    table.addRow({QStringLiteral("a"), stored::Bmp24(60, 40, 1), stored::Jpeg(8, 8, 2)});
    table.addRow({QStringLiteral("b"), QByteArray("text"), stored::Bmp24(8, 8, 3)});
    ScriptedTdsServer server(table);
    server.useCertificate(certificates.server, force);
    TlsRun run{RunChild(batchArguments(server.port()) + options(certificates), QStringLiteral("secret")),
               imageRows(table.rows()), imageRows(server.table().rows()), {}, {}, server.logins().size(), {}};
    for (const LoggedStatement& s : server.log()) {
        if (s.kind == QLatin1String("encryption"))
            run.answers << s.text;
        else if (!s.encrypted && !run.inClear.contains(s.kind))
            run.inClear << s.kind;
    }
    run.context = QStringLiteral("exit code %1\n%2\n%3").arg(run.outcome.exitCode).arg(run.outcome.err, server.statements().join(u'\n'));
    return run;
}

const QString verify = QStringLiteral("--verify-certificate");
const QString caFile = QStringLiteral("--ca-file");
const QString ourNames = QStringLiteral("IP:127.0.0.1,DNS:localhost");

} // namespace

class BatchCertificateTest : public QObject {
    Q_OBJECT

    // Why the TLS tests cannot run here; null when they can.
    static const char* noTls(bool verifying)
    {
        if (!TdsChannel::tlsAvailable())
            return "the scripted server was built without OpenSSL";
        if (verifying && UnderWine())
            return "under Wine the host's FreeTDS reads FREETDSCONF from the Unix environment, not the one the program sets";
        return nullptr;
    }

private slots:
    void verifiedConnectionRefusesAServerWithoutEncryption_data()
    {
        QTest::addColumn<bool>("caFile");
        QTest::newRow("system's CAs") << false;
        QTest::newRow("CA file") << true;
    }
    void verifiedConnectionRefusesAServerWithoutEncryption()
    {
        QFETCH(bool, caFile);
        if (UnderWine())
            QSKIP("under Wine the host's FreeTDS reads FREETDSCONF from the Unix environment, not the one the program sets");
        QTemporaryDir folder;
        const QString ca = folder.filePath(QStringLiteral("ca.pem"));
        QFile file(ca);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), stored::Bmp24(8, 8, 1), std::nullopt});
        ScriptedTdsServer server(table);
        server.withoutEncryption();

        QStringList arguments = batchArguments(server.port()) << QStringLiteral("--verify-certificate");
        if (caFile)
            arguments << QStringLiteral("--ca-file") << ca;
        const ChildOutcome run = RunChild(arguments, QStringLiteral("secret"));
        const QString context = QStringLiteral("exit code %1\n%2\n%3").arg(run.exitCode).arg(run.err, server.statements().join(u'\n'));
        QVERIFY2(run.exitCode == 1, qPrintable(context));
        QVERIFY2(run.err.contains(QLatin1String("could not be checked (--verify-certificate)")) &&
                     run.err.contains(QLatin1String("--ca-file")) && run.err.contains(QLatin1String("leave out --verify-certificate")),
                 qPrintable(context));
        // No login, so no password, went over the unencrypted connection.
        QVERIFY2(server.logins().empty(), qPrintable(context));
        QCOMPARE(server.table().rows()[0].bac02, table.rows()[0].bac02);
    }

    // Checked against the CA that signed the server's certificate, given in
    // a file whose path FreeTDS must read as typed: the run converts, and
    // everything from the login on travels through TLS.
    void verifiedConnectionConvertsOverTls_data()
    {
        QTest::addColumn<QString>("caFolder");
        QTest::newRow("plain path") << QStringLiteral(".");
        QTest::newRow("path with a space and Chinese") << QStringLiteral("证书 CA");
    }
    void verifiedConnectionConvertsOverTls()
    {
        QFETCH(QString, caFolder);
        if (const char* why = noTls(true))
            QSKIP(why);
        const TlsRun run = runWithCertificate(caFolder, ourNames, false, [](const TestCertificates& c) {
            return QStringList{verify, caFile, c.caFile};
        });
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        // Every connection of the run, each session's too, encrypted from its login on.
        QVERIFY2(!run.answers.isEmpty() && run.answers.count(QStringLiteral("all")) == run.answers.size(), qPrintable(run.context));
        QCOMPARE(run.inClear, QStringList());
        QCOMPARE(run.logins, size_t(run.answers.size()));
    }

    // A certificate signed by another CA, or naming another server: the
    // server offers TLS, the driver refuses it during the handshake, so no
    // login (no password) is sent and nothing is written.
    void untrustedCertificateRefused_data()
    {
        QTest::addColumn<bool>("otherCa");
        QTest::addColumn<QString>("names");
        QTest::newRow("signed by another CA") << true << ourNames;
        QTest::newRow("naming another server") << false << QStringLiteral("DNS:elsewhere.example,IP:127.0.0.2");
    }
    void untrustedCertificateRefused()
    {
        QFETCH(bool, otherCa);
        QFETCH(QString, names);
        if (const char* why = noTls(true))
            QSKIP(why);
        const TlsRun run = runWithCertificate(QStringLiteral("."), names, false, [&](const TestCertificates& c) {
            return QStringList{verify, caFile, otherCa ? c.otherCaFile : c.caFile};
        });
        QVERIFY2(run.outcome.exitCode == 1, qPrintable(run.context));
        QVERIFY2(run.outcome.err.contains(QLatin1String("could not be checked (--verify-certificate)")) &&
                     run.outcome.err.contains(QLatin1String("--ca-file")),
                 qPrintable(run.context));
        QVERIFY2(run.answers.value(0) == QLatin1String("all"), qPrintable(run.context));
        QCOMPARE(run.logins, size_t(0));
        QVERIFY(run.now == run.original);
    }

    // The default checks no certificate but requires encryption: everything
    // from the login on travels through TLS, whether or not the server
    // forces it, and the run converts.
    void defaultEncryptsEverything_data()
    {
        QTest::addColumn<bool>("force");
        QTest::newRow("server offers encryption") << false;
        QTest::newRow("server forces encryption") << true;
    }
    void defaultEncryptsEverything()
    {
        QFETCH(bool, force);
        if (const char* why = noTls(false))
            QSKIP(why);
        const TlsRun run = runWithCertificate(QStringLiteral("."), ourNames, force, [](const TestCertificates&) { return QStringList(); });
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        QVERIFY2(!run.answers.isEmpty() && run.answers.count(QStringLiteral("all")) == run.answers.size(), qPrintable(run.context));
        QCOMPARE(run.logins, size_t(run.answers.size()));
        QCOMPARE(run.inClear, QStringList());
    }

    // A server that cannot encrypt is refused before the login: no password
    // and no picture crosses the network in clear.
    void defaultRefusesAServerWithoutEncryption()
    {
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), stored::Bmp24(8, 8, 1), std::nullopt});
        ScriptedTdsServer server(table);
        server.withoutEncryption();
        const ChildOutcome run = RunChild(batchArguments(server.port()), QStringLiteral("secret"));
        QVERIFY2(run.exitCode == 1, qPrintable(run.err));
        QVERIFY2(server.logins().empty(), qPrintable(server.statements().join(u'\n')));
        QCOMPARE(server.table().rows()[0].bac02, table.rows()[0].bac02);
    }

    // A server that is not there is not a certificate problem: no advice
    // about certificates, with or without the option.
    void unreachableServerGetsNoCertificateAdvice_data()
    {
        QTest::addColumn<bool>("verify");
        QTest::newRow("default") << false;
        QTest::newRow("verified") << true;
    }
    void unreachableServerGetsNoCertificateAdvice()
    {
        QFETCH(bool, verify);
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 closedPort = probe.serverPort();
        probe.close();
        QStringList arguments = batchArguments(closedPort);
        if (verify)
            arguments << QStringLiteral("--verify-certificate");
        const ChildOutcome run = RunChild(arguments, QStringLiteral("secret"));
        QVERIFY2(run.exitCode == 1, qPrintable(run.err));
        QVERIFY2(run.err.contains(QLatin1String("cannot open database")), qPrintable(run.err));
        QVERIFY2(!run.err.contains(QLatin1String("--verify-certificate")), qPrintable(run.err));
    }

    // A server with a certificate of its own making, without the option: the
    // default connects and converts.
    void defaultConnectsWithoutChecking()
    {
        if (const char* why = noTls(false))
            QSKIP(why);
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), stored::Bmp24(8, 8, 1), std::nullopt});
        ScriptedTdsServer server(table);
        const ChildOutcome run = RunChild(batchArguments(server.port()), QStringLiteral("secret"));
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(server.table().rows()[0].bac02 != table.rows()[0].bac02);
    }
};

QTEST_GUILESS_MAIN(BatchCertificateTest)
#include "tst_batch_certificate.moc"
