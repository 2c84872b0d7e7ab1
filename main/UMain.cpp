#include "main/UMain.h"

#include "job/ConversionRun.h"
#include "job/ImageTable.h"
#include "job/ScratchRoot.h"
#include "data/UDataModule.h"
#include "ui/Controls.h"
#include "ui/ErrorDisplay.h"
#include "ui/MessageBox.h"
#include "ui/WindowFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <limits>

TFormMain::TFormMain(TDataModule1& dataModule, QWidget* parent)
    : QWidget(parent, ui::kFixedDialogFrame),
      dataModule_(dataModule)
{
    setWindowTitle(QStringLiteral("图片格式批量转换"));
    setFixedSize(460, 118);

    cxLabel1 = new TcxLabel(QStringLiteral("选择数据库"), this);
    cxLabel1->move(8, 10);
    cbb1 = new QComboBox(this);
    cbb1->setEditable(false);
    cbb1->setGeometry(78, 8, 291, 21);
    pb1 = new QProgressBar(this);
    pb1->setGeometry(8, 35, 434, 17);
    pb1->setRange(0, 100);
    pb1->setValue(0);
    pb1->setTextVisible(false);
    Button1 = new TcxButton(QStringLiteral("开始转换"), this);
    Button1->setGeometry(367, 72, 75, 25);

    setTabOrder(Button1, cbb1);
    Button1->setFocus();

    connect(Button1, &QPushButton::clicked, this, ui::Guarded([this] { Button1Click(); }));
    FormCreate();
}

void TFormMain::FormCreate()
{
    cbb1->clear();
}

void TFormMain::FormShow()
{
    dataModule_.OpenQuery(QStringLiteral("select name from sysdatabases"));
    auto& query = dataModule_.qry1;
    query.First();
    while (!query.Eof()) {
        cbb1->addItem(query.FieldByName(QStringLiteral("name")).AsString());
        query.Next();
    }
    cbb1->setCurrentIndex(-1);
}

void TFormMain::Button1Click()
{
    // A press between two pictures of a run must not start a second run.
    if (running_)
        return;
    if (cbb1->currentText().isEmpty()) {
        ui::ShowMessage(QStringLiteral("请选择数据库"));
        return;
    }
    dataModule_.InitialCatalog = cbb1->currentText();
    if (!dataModule_.Connect())
        return;

    if (!HasPictureTable(dataModule_)) {
        ui::ShowMessage(QStringLiteral("数据库选择不正确，BAC1表不存在"));
        return;
    }
    // Every run starts empty; with nothing to convert the bar still ends full.
    const int total = int(std::min<qint64>(CountPictures(dataModule_), std::numeric_limits<int>::max()));
    pb1->setRange(0, std::max(total, 1));
    pb1->setValue(0);
    RunConversion();
}

void TFormMain::RunConversion()
{
    running_ = true;
    struct RunEnd {
        TFormMain& form;
        ~RunEnd()
        {
            form.running_ = false;
            if (form.closeWhenRunEnds_)
                form.close();
        }
    } runEnd{*this};

    // Events are handled often enough to look alive, not for every row: a
    // table of JPEGs passes thousands of rows a second.
    QElapsedTimer sinceEvents;
    TConversionRun run(
        dataModule_, ScratchRoot(),
        [this, &sinceEvents] {
            pb1->setValue(std::min(pb1->value() + 1, pb1->maximum()));
            if (!sinceEvents.isValid() || sinceEvents.elapsed() >= 20) {
                QApplication::processEvents();
                sinceEvents.start();
            }
        },
        // The bar shows what is stored: a group the engine rolled back goes back off it.
        [this](int pictures) { pb1->setValue(std::max(pb1->value() - pictures, pb1->minimum())); });
    run.run();
    pb1->setValue(pb1->maximum());
    ui::ShowMessage(QStringLiteral("格式转换成功"));
}

void TFormMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    ui::CentreOnScreen(*this);
    ui::Guarded([this] { FormShow(); })();
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    // Closing during a run lets the run finish; the program ends after it.
    if (running_) {
        closeWhenRunEnds_ = true;
        event->ignore();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}
