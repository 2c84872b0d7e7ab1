#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

// Answers every message box that opens while it lives: records what the box
// showed, then presses OK. An optional hook runs while a box is open, before
// it is answered, so a test can act in the middle of a run.
class ModalBoxAnswerer : public QObject {
    Q_OBJECT
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon;
    };

    ModalBoxAnswerer();

    const std::vector<Box>& Boxes() const { return boxes; }
    QStringList Texts() const;
    void Clear() { boxes.clear(); }

private:
    void AnswerOpenBoxes();

    QTimer timer;
    std::vector<Box> boxes;
};
