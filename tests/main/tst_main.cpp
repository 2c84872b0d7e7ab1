// The main window and the whole job through its real widgets, with every
// message box answered by the test.
#include "job/ConversionRun.h"
#include "main/UMain.h"
#include "data/UDataModule.h"
#include "tests/job/ExpectedValues.h"
#include "testdata/StoredPictures.h"
#include "tests/support/ModalBoxAnswerer.h"
#include "tests/support/TestMain.h"
#include "tests/support/Screenshot.h"
#include "testdata/ImageTableReader.h"
#include "testdata/ImageTableWriter.h"
#include "ui/Application.h"

#include <QComboBox>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString kDone = QStringLiteral("格式转换成功");
const QStringList kScratchFolders{QStringLiteral("BAC02/bmp"), QStringLiteral("BAC02/jpg"),
                                  QStringLiteral("BAC04/bmp"), QStringLiteral("BAC04/jpg")};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Killed runs of other tests leave their scratch files behind.
        for (const QString& column : {QStringLiteral("BAC02"), QStringLiteral("BAC04")})
            QDir(ScratchRoot() + QLatin1Char('/') + column).removeRecursively();
        {
            ImageTableWriter mixed(DatabaseFile(QStringLiteral("mixed")));
            mixed.AddRow(QStringLiteral("photo"), stored::Bmp24(120, 90, 1), stored::Bmp24(33, 17, 2));
            mixed.AddRow(QStringLiteral("palette"), stored::Bmp8(64, 40, 3), std::nullopt);
            mixed.AddRow(QStringLiteral("rle"), stored::Rle8(50, 30, 4), QByteArray());
            mixed.AddRow(QStringLiteral("twin"), stored::Bmp24(20, 10, 5), stored::Jpeg(40, 30, 1));
            mixed.AddRow(QStringLiteral("twin"), stored::Bmp24(21, 11, 6), stored::Bmp24(7, 1, 7));
            mixed.AddRow(std::nullopt, stored::Bmp24(9, 9, 8), QByteArray("plain text, not a picture"));
            mixed.AddRow(QStringLiteral("..\\..\\x"), stored::Bmp24(5, 3, 9), std::nullopt);
            mixed.AddRow(QStringLiteral("a/b:C*?<>|"), stored::Bmp24(3, 5, 10), std::nullopt);
            mixed.AddRow(QStringLiteral("CON"), stored::Bmp24(4, 4, 11), std::nullopt);
            mixed.AddRow(QStringLiteral("照片一"), stored::Bmp24(16, 16, 12), stored::Bmp24(16, 16, 13));
            mixed.AddRow(QStringLiteral("nothing"), std::nullopt, std::nullopt);
            mixed.AddRow(QStringLiteral("empty"), QByteArray(), std::nullopt);
        }
        {
            ImageTableWriter other(DatabaseFile(QStringLiteral("nobac1")));
            other.Execute(QStringLiteral("drop table BAC1"));
            other.Execute(QStringLiteral("create table other (x int)"));
        }
        {
            ImageTableWriter empty(DatabaseFile(QStringLiteral("empty")));
            empty.AddRow(QStringLiteral("none"), std::nullopt, std::nullopt);
        }
    }

    void init()
    {
        dataModule = std::make_unique<TDataModule1>();
        dataModule->DataSource = server.path();
        dataModule->UserID = QStringLiteral("sa");
        QVERIFY(dataModule->Connect());
        form = std::make_unique<TFormMain>(*dataModule);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup()
    {
        form.reset();
        dataModule.reset();
    }

    void listsEveryDatabaseWithNothingPicked()
    {
        QStringList items;
        for (int i = 0; i < form->cbb1->count(); ++i)
            items << form->cbb1->itemText(i);
        QCOMPARE(items, (QStringList{QStringLiteral("empty"), QStringLiteral("mixed"), QStringLiteral("nobac1")}));
        QCOMPARE(form->cbb1->currentIndex(), -1);
        QVERIFY(!form->cbb1->isEditable());
        QCOMPARE(form->windowTitle(), QStringLiteral("图片格式批量转换"));
        QCOMPARE(form->size(), QSize(460, 118));
        QCOMPARE(form->Button1->geometry(), QRect(367, 72, 75, 25));
        QCOMPARE(form->pb1->geometry(), QRect(8, 35, 434, 17));
        QCOMPARE(form->cbb1->geometry(), QRect(78, 8, 291, 21));
        QCOMPARE(QApplication::focusWidget(), form->Button1);
        SaveScreenshot(*form, QStringLiteral("main-window"));
    }

    void startWithoutAPickAsksForOne()
    {
        ModalBoxAnswerer answerer;
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QCOMPARE(answerer.Texts(), QStringList{QStringLiteral("请选择数据库")});
        QVERIFY(dataModule->InitialCatalog.isEmpty());
    }

    void databaseWithoutTheImageTableIsRefused()
    {
        ModalBoxAnswerer answerer;
        Pick(QStringLiteral("nobac1"));
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QCOMPARE(answerer.Texts(), QStringList{QStringLiteral("数据库选择不正确，BAC1表不存在")});
        QCOMPARE(dataModule->InitialCatalog, QStringLiteral("nobac1"));
    }

    void failedReconnectShowsNothing()
    {
        ModalBoxAnswerer answerer;
        QVERIFY(QFile::rename(DatabaseFile(QStringLiteral("empty")), DatabaseFile(QStringLiteral("moved"))));
        Pick(QStringLiteral("empty"));
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QVERIFY(QFile::rename(DatabaseFile(QStringLiteral("moved")), DatabaseFile(QStringLiteral("empty"))));
        QVERIFY(answerer.Texts().isEmpty());
        QVERIFY(!dataModule->con1.Connected());
        QCOMPARE(form->pb1->value(), 0);
    }

    void mixedTableIsConvertedInPlace()
    {
        const auto original = ReadImageTable(DatabaseFile(QStringLiteral("mixed")));
        const auto finished = FinishedTable(original);
        ModalBoxAnswerer answerer;
        int firstSeen = -1;
        QTimer::singleShot(0, this, [&] { firstSeen = form->pb1->value(); });
        Pick(QStringLiteral("mixed"));
        QTest::mouseClick(form->Button1, Qt::LeftButton);

        QCOMPARE(answerer.Texts(), QStringList{kDone});
        const auto now = ReadImageTable(DatabaseFile(QStringLiteral("mixed")));
        QVERIFY(now == finished);
        // Pictures did change, and what was not a bitmap did not.
        QVERIFY(now[0].bac02->startsWith("\xFF\xD8"));
        QVERIFY(now[2].bac02->startsWith("\xFF\xD8"));
        QCOMPARE(now[2].bac04, std::optional<QByteArray>(QByteArray()));
        QCOMPARE(now[5].bac04, original[5].bac04);
        QCOMPARE(now[3].bac04, original[3].bac04);
        // 11 values in BAC02 and 6 in BAC04; the bar ends full.
        QCOMPARE(form->pb1->minimum(), 0);
        QCOMPARE(form->pb1->maximum(), 17);
        QCOMPARE(form->pb1->value(), 17);
        QVERIFY(firstSeen <= 1);
        for (const QString& folder : kScratchFolders) {
            const QDir dir(ScratchRoot() + QLatin1Char('/') + folder);
            QVERIFY2(dir.exists(), qPrintable(folder));
            QVERIFY2(dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), qPrintable(folder));
        }
        QVERIFY(!QFile::exists(ScratchRoot() + QStringLiteral("/../x.bmp")));
    }

    void secondRunStartsTheBarAgainAndChangesNothing()
    {
        ModalBoxAnswerer answerer;
        Pick(QStringLiteral("mixed"));
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        const auto afterFirst = ReadImageTable(DatabaseFile(QStringLiteral("mixed")));
        int startValue = -1;
        QTimer::singleShot(0, this, [&] { startValue = form->pb1->value(); });
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QCOMPARE(answerer.Texts(), (QStringList{kDone, kDone}));
        QVERIFY(startValue <= 1);
        QCOMPARE(form->pb1->value(), form->pb1->maximum());
        QVERIFY(ReadImageTable(DatabaseFile(QStringLiteral("mixed"))) == afterFirst);
    }

    void tableWithoutPicturesCompletes()
    {
        ModalBoxAnswerer answerer;
        Pick(QStringLiteral("empty"));
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QCOMPARE(answerer.Texts(), QStringList{kDone});
        QCOMPARE(form->pb1->value(), form->pb1->maximum());
    }

    void startPressedDuringARunDoesNothing()
    {
        ModalBoxAnswerer answerer;
        Pick(QStringLiteral("mixed"));
        QTimer::singleShot(0, this, [&] {
            QVERIFY(form->RunInProgress());
            Pick(QStringLiteral("nobac1"));
            QTest::mouseClick(form->Button1, Qt::LeftButton);
        });
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QCOMPARE(answerer.Texts(), QStringList{kDone});
        QCOMPARE(dataModule->InitialCatalog, QStringLiteral("mixed"));
    }

    void closingDuringARunLetsItFinish()
    {
        ModalBoxAnswerer answerer;
        Pick(QStringLiteral("mixed"));
        bool visibleAfterClose = false;
        QTimer::singleShot(0, this, [&] {
            form->close();
            visibleAfterClose = form->isVisible();
        });
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QVERIFY(visibleAfterClose);
        QCOMPARE(answerer.Texts(), QStringList{kDone});
        QVERIFY(!form->isVisible());
    }

private:
    QString DatabaseFile(const QString& name) const { return server.filePath(name + QStringLiteral(".db")); }
    static QString ScratchRoot() { return QString::fromStdU16String(ExeFolder().u16string()); }
    void Pick(const QString& name) { form->cbb1->setCurrentIndex(form->cbb1->findText(name)); }

    QTemporaryDir server;
    std::unique_ptr<TDataModule1> dataModule;
    std::unique_ptr<TFormMain> form;
};

BMP2JPG_WINDOW_TEST_MAIN(MainWindowTest)

#include "tst_main.moc"
