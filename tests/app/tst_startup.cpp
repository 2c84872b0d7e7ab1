#include "app/Startup.h"
#include "main/UMain.h"
#include "login/ULogin.h"
#include "tests/support/ModalBoxAnswerer.h"
#include "tests/support/TestMain.h"
#include "tests/support/Screenshot.h"
#include "testdata/ImageTableWriter.h"
#include "ui/Application.h"
#include "ui/Controls.h"

#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

template <typename Window>
Window* FindVisible()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<Window*>(widget); window && window->isVisible())
            return window;
    return nullptr;
}

// Runs the action once the window of that kind is on screen; the watch ends
// with its owner at the latest.
template <typename Window>
void WhenShown(QObject& owner, std::function<void(Window&)> action)
{
    auto* poll = new QTimer(&owner);
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        if (Window* window = FindVisible<Window>()) {
            poll->stop();
            action(*window);
        }
    });
    poll->start(10);
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ImageTableWriter(server.filePath(QStringLiteral("alpha.db")));
        ImageTableWriter(server.filePath(QStringLiteral("beta.db")));
    }

    void cancelEndsTheProgramWithoutTheMainWindow()
    {
        QObject watches;
        bool mainWindowSeen = false;
        WhenShown<TFormLogin>(watches, [](TFormLogin& login) { QTest::mouseClick(login.btnCancel, Qt::LeftButton); });
        WhenShown<TFormMain>(watches, [&](TFormMain& main) {
            mainWindowSeen = true;
            main.close();
        });
        QCOMPARE(RunApplication(*application()), 0);
        QVERIFY(!mainWindowSeen);
    }

    void loginOpensTheMainWindowWithTheDatabaseList()
    {
        ModalBoxAnswerer answerer;
        QObject watches;
        QStringList listed;
        WhenShown<TFormLogin>(watches, [this](TFormLogin& login) {
            login.edt_DataSource->setText(server.path());
            login.edt_UserID->setText(QStringLiteral("sa"));
            QTest::mouseClick(login.btnOk, Qt::LeftButton);
        });
        WhenShown<TFormMain>(watches, [&](TFormMain& main) {
            for (int i = 0; i < main.cbb1->count(); ++i)
                listed << main.cbb1->itemText(i);
            QCOMPARE(main.cbb1->currentText(), QString());
            QCOMPARE(main.size(), QSize(460, 118));
            SaveScreenshot(main, QStringLiteral("main"));
            main.close();
        });
        QCOMPARE(RunApplication(*application()), 0);
        QCOMPARE(listed, (QStringList{QStringLiteral("alpha"), QStringLiteral("beta")}));
        QVERIFY(answerer.Texts().isEmpty());
    }

private:
    static ui::TApplication* application() { return static_cast<ui::TApplication*>(qApp); }

    QTemporaryDir server;
};

BMP2JPG_WINDOW_TEST_MAIN(StartupTest)

#include "tst_startup.moc"
