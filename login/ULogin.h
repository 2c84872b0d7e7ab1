#pragma once

#include <QDialog>

class TDataModule1;
class TcxLabel;
class TcxTextEdit;
class TcxButton;

// The modal login dialog in front of the main window. It closes with OK only
// once the connection is open, and with cancel when the user gives up.
class TFormLogin : public QDialog {
    Q_OBJECT
public:
    TFormLogin(TDataModule1& dataModule, QWidget* parent = nullptr);

    TcxLabel* cxLabel1;
    TcxTextEdit* edt_DataSource;
    TcxLabel* cxLabel2;
    TcxTextEdit* edt_UserID;
    TcxLabel* cxLabel3;
    TcxTextEdit* edt_password;
    TcxButton* btnOk;
    TcxButton* btnCancel;

    void btnOkClick();
    void btnCancelClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    TDataModule1& dataModule_;
};
