// The data layer against a server that answers as SQL Server does, through
// the real FreeTDS driver: large values come whole, read errors are errors.
#include "data/UDataModule.h"
#include "tests/tds/ScriptedTdsServer.h"
#include "tests/tds/TdsTestSupport.h"

#include <QTest>

#include <map>

namespace {

void ConnectTo(TDataModule1& module, quint16 port)
{
    module.DataSource = QStringLiteral("127.0.0.1,%1").arg(port);
    module.UserID = QStringLiteral("sa");
    module.Password = QStringLiteral("x");
    module.InitialCatalog = QStringLiteral("pictures");
    module.ConnectOrThrow();
}

} // namespace

class SqlServerDataTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { seed_ = TestSeed(); }

    void walkGivesEveryValueWhole_data()
    {
        AddPictureColumnTypes();
    }
    void walkGivesEveryValueWhole()
    {
        QFETCH(int, type);
        ScriptedTable table{SqlType(type)};
        std::map<QString, QByteArray> stored;
        quint32 seed = seed_;
        for (const qsizetype size : {qsizetype(1), qsizetype(5000), qsizetype(3 * 1024 * 1024)}) {
            const QString name = QStringLiteral("size %1").arg(size);
            stored[name] = RandomBytes(size, seed++);
            table.addRow({name, stored[name], std::nullopt});
        }
        table.addRow({QStringLiteral("none"), std::nullopt, QByteArray("BM")});
        ScriptedTdsServer server(table);
        TDataModule1 module;
        ConnectTo(module, server.port());

        module.OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null"));
        std::map<QString, QByteArray> read;
        for (; !module.qry1.Eof(); module.qry1.Next()) {
            const QString name = module.qry1.FieldByName(QStringLiteral("BCE01")).AsString();
            read[name] = module.qry1.FieldByName(QStringLiteral("BAC02")).AsBytes();
            QCOMPARE(module.qry1.FieldByName(QStringLiteral("BAC02")).BlobSize(), stored[name].size());
        }
        for (const auto& [name, bytes] : stored)
            QVERIFY2(read[name] == bytes, qPrintable(QStringLiteral("%1: %2 bytes read of %3\n%4")
                                                         .arg(name)
                                                         .arg(read[name].size())
                                                         .arg(bytes.size())
                                                         .arg(server.statements().join(u'\n'))));
        QCOMPARE(read.size(), stored.size());
    }

    void readErrorAfterFirstRowFailsTheWalk()
    {
        ScriptedTable table;
        for (int i = 0; i < 3; ++i)
            table.addRow({QStringLiteral("r%1").arg(i), QByteArray("BM"), std::nullopt});
        ScriptedTdsServer server(table);
        server.failReadsAfterRows(QStringLiteral(R"(from \[?BAC1\]? where BAC02 is not null)"), 1);
        TDataModule1 module;
        ConnectTo(module, server.port());

        int rows = 0;
        try {
            module.OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null"));
            for (; !module.qry1.Eof(); module.qry1.Next()) {
                module.qry1.FieldByName(QStringLiteral("BAC02")).AsBytes();
                ++rows;
            }
        } catch (const EDatabaseError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QLatin1String("logical consistency-based I/O error")), e.what());
            return;
        }
        QFAIL(qPrintable(QStringLiteral("the walk ended after %1 of 3 rows without an error").arg(rows)));
    }

private:
    quint32 seed_ = 0;
};

QTEST_GUILESS_MAIN(SqlServerDataTest)
#include "tst_sql_server_data.moc"
