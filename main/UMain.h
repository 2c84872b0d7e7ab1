#pragma once

#include <QWidget>

class TDataModule1;
class TcxLabel;
class QComboBox;
class QProgressBar;
class QPushButton;

// The main window: pick a database, press start, watch the progress.
class TFormMain : public QWidget {
    Q_OBJECT
public:
    explicit TFormMain(TDataModule1& dataModule, QWidget* parent = nullptr);

    TcxLabel* cxLabel1;
    QComboBox* cbb1;
    QProgressBar* pb1;
    QPushButton* Button1;

    void FormCreate();
    void FormShow();
    void Button1Click();
    void RunConversion();

    bool RunInProgress() const { return running_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    TDataModule1& dataModule_;
    bool running_ = false;
    bool closeWhenRunEnds_ = false;
};
