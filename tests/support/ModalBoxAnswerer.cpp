#include "tests/support/ModalBoxAnswerer.h"

#include <QAbstractButton>
#include <QApplication>

ModalBoxAnswerer::ModalBoxAnswerer()
{
    connect(&timer, &QTimer::timeout, this, &ModalBoxAnswerer::AnswerOpenBoxes);
    timer.start(5);
}

QStringList ModalBoxAnswerer::Texts() const
{
    QStringList texts;
    for (const Box& box : boxes)
        texts << box.text;
    return texts;
}

void ModalBoxAnswerer::AnswerOpenBoxes()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible())
            continue;
        boxes.push_back({box->windowTitle(), box->text(), box->icon()});
        box->button(QMessageBox::Ok)->click();
    }
}
