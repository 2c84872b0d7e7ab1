// The batch command end to end against a server that answers as SQL Server
// does, through the real FreeTDS driver.
#include "batch/BatchMain.h"
#include "tests/main/ExpectedValues.h"
#include "tests/tds/ScriptedTdsServer.h"
#include "tools/demo/StoredPictures.h"

#include <QTest>

#include <cstdio>

namespace {

std::vector<ImageRow> imageRows(const std::vector<Bac1Row>& rows)
{
    std::vector<ImageRow> image;
    for (const Bac1Row& row : rows)
        image.push_back({row.bce01, row.bac02, row.bac04});
    return image;
}

} // namespace

class SqlServerBatchTest : public QObject {
    Q_OBJECT

private slots:
    void everyBitmapConvertedAndNothingElseWritten_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("varbinary(max)") << int(SqlType::VarBinaryMax);
        QTest::newRow("image") << int(SqlType::Image);
    }
    void everyBitmapConvertedAndNothingElseWritten()
    {
        QFETCH(int, type);
        const QByteArray bmp24 = stored::Bmp24(200, 150, 1);
        QVERIFY(bmp24.size() > 4096);  // more than SQL Server's default TEXTSIZE
        const QByteArray bmp8 = stored::Bmp8(40, 30, 3);
        const QByteArray jpeg = stored::Jpeg(20, 20, 5);
        const QByteArray text("text");
        ScriptedTable table{SqlType(type)};
        table.addRow({QStringLiteral("24-bit"), bmp24, bmp8});
        table.addRow({QStringLiteral("8-bit"), bmp8, jpeg});
        table.addRow({QStringLiteral("jpeg"), jpeg, text});
        table.addRow({QStringLiteral("text"), text, bmp24});
        table.addRow({QStringLiteral("nulls"), std::nullopt, std::nullopt});
        ScriptedTdsServer server(table);
        const std::vector<ImageRow> original = imageRows(table.rows());

        qputenv("BMP2JPG_PASSWORD", "x");
        const int exitCode = RunBatch({QStringLiteral("--server"), QStringLiteral("127.0.0.1,%1").arg(server.port()),
                                       QStringLiteral("--user"), QStringLiteral("sa"), QStringLiteral("--database"),
                                       QStringLiteral("pictures"), QStringLiteral("--jobs"), QStringLiteral("2")},
                                      OdbcDriverProfile::SqlServer());
        const QString log = server.statements().join(u'\n');
        QVERIFY2(exitCode == 0, qPrintable(QStringLiteral("exit code %1\n%2").arg(exitCode).arg(log)));
        QVERIFY2(imageRows(server.table().rows()) == FinishedTable(original), qPrintable(log));
        // Only the four bitmaps are written back.
        QCOMPARE(log.count(QLatin1String("UPDATE TOP (1)")), 4);
        for (const LoggedStatement& s : server.log())
            std::printf("%d %s%s: %s\n", s.connection, qPrintable(s.kind), s.error ? qPrintable(QStringLiteral(" (Msg %1)").arg(s.error)) : "", qPrintable(s.text.left(150)));
    }
};

QTEST_GUILESS_MAIN(SqlServerBatchTest)
#include "tst_sql_server_batch.moc"
