#include "login/ULogin.h"

#include "data/UDataModule.h"
#include "ui/Controls.h"
#include "ui/ErrorDisplay.h"
#include "ui/MessageBox.h"
#include "ui/WindowFrame.h"

#include <QKeyEvent>

namespace {

constexpr int kEditHeight = 21;

}  // namespace

TFormLogin::TFormLogin(TDataModule1& dataModule, QWidget* parent)
    : QDialog(parent, ui::kFixedDialogFrame),
      dataModule_(dataModule)
{
    setWindowTitle(QStringLiteral("登录"));
    setFixedSize(309, 167);
    ui::CentreOnScreen(*this);

    cxLabel1 = new TcxLabel(QStringLiteral("服务器名称："), this);
    cxLabel1->move(8, 24);
    edt_DataSource = new TcxTextEdit(this);
    edt_DataSource->setGeometry(76, 23, 205, kEditHeight);

    cxLabel2 = new TcxLabel(QStringLiteral("登录名："), this);
    cxLabel2->move(32, 50);
    edt_UserID = new TcxTextEdit(this);
    edt_UserID->setGeometry(76, 47, 205, kEditHeight);

    cxLabel3 = new TcxLabel(QStringLiteral("密码："), this);
    cxLabel3->move(44, 73);
    edt_password = new TcxTextEdit(this);
    edt_password->setGeometry(76, 73, 205, kEditHeight);
    edt_password->SetPasswordMode();

    btnOk = new TcxButton(QStringLiteral("确定"), this);
    btnOk->setGeometry(100, 120, 75, 25);
    btnCancel = new TcxButton(QStringLiteral("取消"), this);
    btnCancel->setGeometry(206, 120, 75, 25);

    setTabOrder(edt_DataSource, edt_UserID);
    setTabOrder(edt_UserID, edt_password);
    setTabOrder(edt_password, btnOk);
    setTabOrder(btnOk, btnCancel);
    edt_DataSource->setFocus();

    connect(btnOk, &QPushButton::clicked, this, ui::Guarded([this] { btnOkClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, ui::Guarded([this] { btnCancelClick(); }));
}

void TFormLogin::btnOkClick()
{
    setResult(QDialog::Rejected);
    dataModule_.DataSource = TrimmedSetting(edt_DataSource->text());
    dataModule_.UserID = TrimmedSetting(edt_UserID->text());
    dataModule_.Password = edt_password->text();

    if (dataModule_.DataSource.isEmpty()) {
        ui::ShowMessage(cxLabel1->Caption() + QStringLiteral("不能为空"));
        return;
    }
    if (dataModule_.UserID.isEmpty()) {
        ui::ShowMessage(cxLabel2->Caption() + QStringLiteral("不能为空"));
        return;
    }
    if (dataModule_.Connect()) {
        accept();
        return;
    }
    ui::ShowMessage(QStringLiteral("登录失败，请检查服务器名称、登录名和密码是否正确"));
}

void TFormLogin::btnCancelClick()
{
    reject();
}

void TFormLogin::keyPressEvent(QKeyEvent* event)
{
    // Escape does not cancel and Enter does not confirm: only the buttons do.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
