#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// The self-drawn controls the windows are made of. They keep the names of the
// window designer's control kinds so the forms read like their layouts.

class TcxLabel : public QLabel {
    Q_OBJECT
public:
    TcxLabel(const QString& caption, QWidget* parent);
    QString Caption() const { return text(); }
};

class TcxTextEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TcxTextEdit(QWidget* parent);
    // Every typed character is shown as "*".
    void SetPasswordMode();
};

class TcxButton : public QPushButton {
    Q_OBJECT
public:
    TcxButton(const QString& caption, QWidget* parent);
};
