// The SQL Server path through the installed FreeTDS driver: what a login
// carries to the scripted TDS server, and how fast a refused connection fails.
#include "data/SqlServerDriver.h"
#include "data/UDataModule.h"
#include "tests/tds/ScriptedTdsServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <future>
#include <memory>

namespace {

// SQL Server Browser on 127.0.0.1:1434 (Microsoft's SQL Server Resolution
// Protocol): every instance asked for listens on `port`.
class LocalBrowser {
public:
    explicit LocalBrowser(quint16 port)
    {
        std::promise<bool> bound;
        std::future<bool> result = bound.get_future();
        thread_.reset(QThread::create([port, &bound] {
            QUdpSocket socket;
            const bool listening = socket.bind(QHostAddress::LocalHost, kPort);
            bound.set_value(listening);
            while (listening && socket.waitForReadyRead(-1)) {
                const QNetworkDatagram query = socket.receiveDatagram();
                if (query.data() == kStop)
                    return;
                if (!query.data().startsWith('\x04'))  // CLNT_UCAST_INST, then the instance's name
                    continue;
                const QByteArray text = "ServerName;LOCAL;InstanceName;" + query.data().mid(1).replace('\0', "") +
                                        ";IsClustered;No;Version;16.0.1000.6;tcp;" + QByteArray::number(port) + ";;";
                const QByteArray answer = QByteArray("\x05") + char(text.size() & 0xff) + char(text.size() >> 8) + text;
                socket.writeDatagram(answer, query.senderAddress(), query.senderPort());
            }
        }));
        thread_->start();
        listening_ = result.get();
    }
    ~LocalBrowser()
    {
        if (listening_)
            QUdpSocket().writeDatagram(kStop, QHostAddress::LocalHost, kPort);
        thread_->wait();
    }
    bool listening() const { return listening_; }

private:
    static constexpr quint16 kPort = 1434;
    static constexpr char kStop[] = "stop";
    std::unique_ptr<QThread> thread_;
    bool listening_ = false;
};

} // namespace

class SqlServerLoginTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Without FreeTDS every Connect would fail at once and prove nothing.
        const std::optional<SqlServerDriver> driver = PreferredSqlServerDriver(InstalledOdbcDrivers());
        QVERIFY(driver);
        QCOMPARE(driver->name, QStringLiteral("FreeTDS"));
    }

    void closedPortFailsWithinSeconds()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 closedPort = probe.serverPort();
        probe.close();

        TDataModule1 module;
        module.DataSource = QStringLiteral("127.0.0.1,%1").arg(closedPort);
        module.UserID = QStringLiteral("sa");
        module.Password = QStringLiteral("secret");
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!module.Connect());
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
        QVERIFY(!module.con1.Connected());
    }

    // The scripted server refuses a database it does not list (Msg 4060), so
    // such a Connect fails after the login; a listed one, or none (the
    // login's default), is entered.
    void loginCarriesTheValuesAsTyped_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("database");
        QTest::addColumn<bool>("listed");
        QTest::newRow("plain") << QStringLiteral("sa") << QStringLiteral("secret") << QStringLiteral("pics") << false;
        QTest::newRow("plain, listed") << QStringLiteral("sa") << QStringLiteral("secret") << QStringLiteral("pics") << true;
        QTest::newRow("separators") << QStringLiteral("a;b=c") << QStringLiteral("x;UID=evil;") << QStringLiteral("d=1;e") << false;
        QTest::newRow("braces") << QStringLiteral("{sa") << QStringLiteral("{secret") << QStringLiteral("{db") << false;
        QTest::newRow("spaces") << QStringLiteral(" sa ") << QStringLiteral("  ") << QStringLiteral("my pics ") << false;
        QTest::newRow("Chinese") << QStringLiteral("管理员") << QStringLiteral("密码 1") << QStringLiteral("图片") << false;
        QTest::newRow("Chinese, listed") << QStringLiteral("管理员") << QStringLiteral("密码 1") << QStringLiteral("图片") << true;
        QTest::newRow("empty password, default database") << QStringLiteral("sa") << QString() << QString() << true;
    }
    void loginCarriesTheValuesAsTyped()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, database);
        QFETCH(bool, listed);
        ScriptedTable table;
        if (listed && !database.isEmpty())
            table.databases << database;
        if (const char* why = ScriptedTdsServer::unreachableByTheProgram())
            QSKIP(why);
        ScriptedTdsServer server(table);
        TDataModule1 module;
        module.DataSource = QStringLiteral("127.0.0.1,%1").arg(server.port());
        module.UserID = user;
        module.Password = password;
        module.InitialCatalog = database;
        QCOMPARE(module.Connect(), listed);
        QCOMPARE(module.con1.Connected(), listed);
        const std::vector<TdsLogin> logins = server.logins();
        QVERIFY2(!logins.empty(), qPrintable(server.statements().join(u'\n')));
        for (const TdsLogin& login : logins) {
            QCOMPARE(login.user, user);
            QCOMPARE(login.password, password);
            QCOMPARE(login.database, database);
        }
    }

    // Only an absolute folder path is an embedded server: a relative name is
    // a SQL Server even when the working folder holds a folder or database
    // of that name. "." and "(local)" are this machine, with FreeTDS too.
    void relativeNamesAreSqlServers_data()
    {
        QTest::addColumn<QString>("server");  // %1: the scripted server's port
        QTest::addColumn<bool>("reachesIt");
        QTest::newRow("dot") << QStringLiteral(".") << false;
        QTest::newRow("local") << QStringLiteral("(local)") << false;
        QTest::newRow("dot, port") << QStringLiteral(".,%1") << true;
        QTest::newRow("local, port") << QStringLiteral("(LOCAL),%1") << true;
        QTest::newRow("dot instance") << QStringLiteral(".\\SQLEXPRESS") << true;
        QTest::newRow("local instance") << QStringLiteral("(local)\\SQLEXPRESS") << true;
        QTest::newRow("relative folder") << QStringLiteral("demo") << false;
    }
    void relativeNamesAreSqlServers()
    {
        QFETCH(QString, server);
        QFETCH(bool, reachesIt);
        if (const char* why = ScriptedTdsServer::unreachableByTheProgram())
            QSKIP(why);
        ScriptedTdsServer scripted;
        const LocalBrowser browser(scripted.port());
        if (server.contains(u'\\') && !browser.listening())
            QSKIP("UDP port 1434 of 127.0.0.1 is taken: no instance can be looked up there");
        if (server.contains(QLatin1String("%1")))
            server = server.arg(scripted.port());
        QTemporaryDir working;
        QVERIFY(QDir(working.path()).mkpath(QStringLiteral("demo")));
        for (const QString& file : {QStringLiteral("pictures.db"), QStringLiteral("demo/pictures.db")}) {
            QFile database(working.filePath(file));
            QVERIFY(database.open(QIODevice::WriteOnly));
        }
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(working.path()));
        TDataModule1 module;
        module.DataSource = server;
        module.UserID = QStringLiteral("sa");
        module.InitialCatalog = QStringLiteral("pictures");
        const bool connected = module.Connect();
        QDir::setCurrent(previous);
        QCOMPARE(connected, reachesIt);
        QCOMPARE(!scripted.logins().empty(), reachesIt);

        module.DataSource = working.filePath(QStringLiteral("demo"));
        QVERIFY(module.Connect());
    }

    void closingBraceRefusedBeforeAnyContact()
    {
        if (const char* why = ScriptedTdsServer::unreachableByTheProgram())
            QSKIP(why);
        ScriptedTdsServer server;
        TDataModule1 module;
        module.DataSource = QStringLiteral("127.0.0.1,%1").arg(server.port());
        module.UserID = QStringLiteral("sa");
        module.Password = QStringLiteral("a}b");
        QVERIFY(!module.Connect());
        // A login is answered before Connect returns, so one sent would be here.
        QVERIFY2(server.logins().empty(), qPrintable(server.statements().join(u'\n')));
        QVERIFY(server.log().empty());
    }
};

QTEST_GUILESS_MAIN(SqlServerLoginTest)
#include "tst_sql_server_login.moc"
