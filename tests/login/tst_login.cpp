#include "data/UDataModule.h"
#include "login/ULogin.h"
#include "tests/support/ModalBoxAnswerer.h"
#include "tests/support/TestMain.h"
#include "tests/support/Screenshot.h"
#include "ui/Application.h"
#include "ui/Controls.h"

#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kServerEmpty = QStringLiteral("服务器名称：不能为空");
const QString kLoginEmpty = QStringLiteral("登录名：不能为空");
const QString kLoginFailed = QStringLiteral("登录失败，请检查服务器名称、登录名和密码是否正确");
// Nothing listens there: the attempt fails at once.
const QString kClosedServer = QStringLiteral("127.0.0.1,9");

}  // namespace

class LoginDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        dataModule = std::make_unique<TDataModule1>();
        dialog = std::make_unique<TFormLogin>(*dataModule);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }
    void cleanup()
    {
        dialog.reset();
        dataModule.reset();
    }

    void layoutMatchesTheForm()
    {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("登录"));
        QCOMPARE(dialog->size(), QSize(309, 167));
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
        QCOMPARE(dialog->cxLabel1->pos(), QPoint(8, 24));
        QCOMPARE(dialog->cxLabel2->pos(), QPoint(32, 50));
        QCOMPARE(dialog->cxLabel3->pos(), QPoint(44, 73));
        QCOMPARE(dialog->edt_DataSource->geometry().topLeft(), QPoint(76, 23));
        QCOMPARE(dialog->edt_UserID->geometry().topLeft(), QPoint(76, 47));
        QCOMPARE(dialog->edt_password->geometry().topLeft(), QPoint(76, 73));
        for (auto* edit : {dialog->edt_DataSource, dialog->edt_UserID, dialog->edt_password})
            QCOMPARE(edit->width(), 205);
        QCOMPARE(dialog->btnOk->geometry(), QRect(100, 120, 75, 25));
        QCOMPARE(dialog->btnCancel->geometry(), QRect(206, 120, 75, 25));
        QCOMPARE(dialog->btnOk->text(), QStringLiteral("确定"));
        QCOMPARE(dialog->btnCancel->text(), QStringLiteral("取消"));
        QCOMPARE(dialog->edt_password->echoMode(), QLineEdit::Password);
        QVERIFY(!dialog->btnOk->isDefault() && !dialog->btnOk->autoDefault());
        QVERIFY(!dialog->btnCancel->isDefault() && !dialog->btnCancel->autoDefault());
        SaveScreenshot(*dialog, QStringLiteral("login"));
    }

    void passwordShowsAStarForEveryTypedCharacter_data()
    {
        QTest::addColumn<QString>("styleName");
        for (const QString& name : QStyleFactory::keys())
            QTest::newRow(qPrintable(name)) << name;
    }
    void passwordShowsAStarForEveryTypedCharacter()
    {
        QFETCH(QString, styleName);
        const QString before = QApplication::style()->name();
        QVERIFY(QApplication::setStyle(styleName));
        const auto restore = qScopeGuard([&before] { QApplication::setStyle(before); });
        // A dialog made under this style, as the user gets it.
        dialog = std::make_unique<TFormLogin>(*dataModule);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));

        TcxTextEdit* edit = dialog->edt_password;
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("pw!"));
        QCOMPARE(edit->text(), QStringLiteral("pw!"));
        // Focus elsewhere: no cursor nor focus frame in the picture.
        QTest::keyClick(edit, Qt::Key_Tab);
        QVERIFY(!edit->hasFocus());
        QCOMPARE(edit->displayText(), QStringLiteral("***"));

        // What is drawn, against a plain edit showing "***" with everything else alike.
        QLineEdit plain(dialog.get());
        plain.setStyleSheet(edit->styleSheet());
        plain.setFont(edit->font());
        plain.setGeometry(edit->geometry());
        plain.setText(QStringLiteral("***"));
        plain.setCursorPosition(edit->cursorPosition());
        plain.show();
        const QImage shown = edit->grab().toImage();
        const QImage expected = plain.grab().toImage();
        if (shown != expected) {
            shown.save(QDir::temp().filePath(QStringLiteral("password-%1.png").arg(styleName)));
            QFAIL(qPrintable(QStringLiteral("the password edit does not draw \"***\" under %1 (saved in %2)")
                                 .arg(styleName, QDir::tempPath())));
        }
        plain.clear();
        QVERIFY2(plain.grab().toImage() != expected, "the picture does not show the text");
    }

    void focusStartsOnServerAndFollowsTheFormOrder()
    {
        QCOMPARE(QApplication::focusWidget(), dialog->edt_DataSource);
        const QList<QWidget*> order{dialog->edt_UserID, dialog->edt_password, dialog->btnOk,
                                    dialog->btnCancel, dialog->edt_DataSource};
        for (QWidget* expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
    }

    void emptyFieldsAreRefusedWithoutConnecting_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("message");
        QTest::newRow("blank server") << "" << "sa" << kServerEmpty;
        QTest::newRow("spaces and tabs only") << " \t  " << "sa" << kServerEmpty;
        QTest::newRow("both blank: only the server message") << "" << "" << kServerEmpty;
        QTest::newRow("blank login") << folder.path() << "" << kLoginEmpty;
        QTest::newRow("login of spaces") << folder.path() << "   " << kLoginEmpty;
    }
    void emptyFieldsAreRefusedWithoutConnecting()
    {
        QFETCH(QString, server);
        QFETCH(QString, login);
        QFETCH(QString, message);
        ModalBoxAnswerer answerer;
        Type(server, login, QStringLiteral("pw"));
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        QCOMPARE(answerer.Texts(), QStringList{message});
        QCOMPARE(answerer.Boxes().front().title, QStringLiteral("tst_login"));
        QCOMPARE(answerer.Boxes().front().icon, QMessageBox::NoIcon);
        QVERIFY(dialog->isVisible());
        QVERIFY(!dataModule->con1.Connected());
        // The settings hold what was typed even though a check failed.
        QCOMPARE(dataModule->Password, QStringLiteral("pw"));
    }

    void serverAndLoginAreTrimmedPasswordIsKept()
    {
        ModalBoxAnswerer answerer;
        Type(QStringLiteral(" \t") + folder.path() + QStringLiteral("  "), QStringLiteral("  sa \t"),
             QStringLiteral("  p w;}  "));
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        QCOMPARE(dataModule->DataSource, folder.path());
        QCOMPARE(dataModule->UserID, QStringLiteral("sa"));
        QCOMPARE(dataModule->Password, QStringLiteral("  p w;}  "));
        QVERIFY(answerer.Texts().isEmpty());
    }

    void okClosesOnlyAfterASuccessfulConnect()
    {
        ModalBoxAnswerer answerer;
        QSignalSpy accepted(dialog.get(), &QDialog::accepted);
        Type(folder.path(), QStringLiteral("sa"), QString());
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY(!dialog->isVisible());
        QVERIFY(dataModule->con1.Connected());
        QVERIFY(dataModule->InitialCatalog.isEmpty());
        QVERIFY(answerer.Texts().isEmpty());
    }

    void failedLoginKeepsTheDialogOpenForARetry()
    {
        ModalBoxAnswerer answerer;
        QSignalSpy accepted(dialog.get(), &QDialog::accepted);
        Type(kClosedServer, QStringLiteral("sa"), QStringLiteral("secret"));
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        QCOMPARE(answerer.Texts(), QStringList{kLoginFailed});
        QVERIFY(dialog->isVisible());
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(dialog->edt_DataSource->text(), kClosedServer);
        QCOMPARE(dialog->edt_password->text(), QStringLiteral("secret"));

        dialog->edt_DataSource->setText(folder.path());
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(answerer.Texts().size(), 1);
    }

    void cancelAndCloseBoxGiveCancel_data()
    {
        QTest::addColumn<bool>("useCloseBox");
        QTest::newRow("cancel button") << false;
        QTest::newRow("close box") << true;
    }
    void cancelAndCloseBoxGiveCancel()
    {
        QFETCH(bool, useCloseBox);
        Type(folder.path(), QStringLiteral("sa"), QString());
        QSignalSpy rejected(dialog.get(), &QDialog::rejected);
        if (useCloseBox)
            dialog->close();
        else
            QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
        QCOMPARE(rejected.count(), 1);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dataModule->con1.Connected());
    }

    void enterAndEscapeHaveNoMeaning()
    {
        ModalBoxAnswerer answerer;
        Type(folder.path(), QStringLiteral("sa"), QString());
        QTest::keyClick(dialog->edt_password, Qt::Key_Return);
        QTest::keyClick(dialog->edt_password, Qt::Key_Escape);
        QVERIFY(dialog->isVisible());
        QVERIFY(!dataModule->con1.Connected());
        QVERIFY(answerer.Texts().isEmpty());
    }

private:
    void Type(const QString& server, const QString& login, const QString& password)
    {
        dialog->edt_DataSource->setText(server);
        dialog->edt_UserID->setText(login);
        dialog->edt_password->setText(password);
    }

    QTemporaryDir folder;
    std::unique_ptr<TDataModule1> dataModule;
    std::unique_ptr<TFormLogin> dialog;
};

BMP2JPG_WINDOW_TEST_MAIN(LoginDialogTest)

#include "tst_login.moc"
