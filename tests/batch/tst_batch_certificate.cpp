// --verify-certificate through the installed FreeTDS driver against the
// scripted TDS server, which offers no encryption: the login must be refused
// before anything is sent in clear text, with a message that says what to do.
#include "batch/BatchMain.h"
#include "tests/job/ChildProcess.h"
#include "tests/support/UnderWine.h"
#include "tests/tds/ScriptedTdsServer.h"
#include "testdata/StoredPictures.h"

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

} // namespace

class BatchCertificateTest : public QObject {
    Q_OBJECT

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

    // The same server without the option: the default connects and converts.
    void defaultConnectsWithoutChecking()
    {
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
