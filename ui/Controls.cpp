#include "ui/Controls.h"

namespace {

// One quiet look for every control: flat, light, with a blue focus frame.
// A password shows "*" for each character, never the platform's bullet nor,
// briefly, the typed character itself.
constexpr const char* kEditStyle =
    "QLineEdit { border: 1px solid #9aa7b5; border-radius: 2px; background: #ffffff;"
    " padding: 1px 3px; lineedit-password-character: 42; lineedit-password-mask-delay: 0; }"
    "QLineEdit:focus { border-color: #2f6fb5; }";
constexpr const char* kButtonStyle =
    "QPushButton { border: 1px solid #7f8fa3; border-radius: 3px; color: #1d2733;"
    " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fbfcfe, stop:1 #dde4ec); }"
    "QPushButton:hover { border-color: #2f6fb5; }"
    "QPushButton:pressed { background: #c9d5e2; }"
    "QPushButton:focus { border: 1px solid #2f6fb5; }";
constexpr const char* kLabelStyle = "QLabel { color: #1d2733; background: transparent; }";

}  // namespace

TcxLabel::TcxLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent)
{
    setStyleSheet(QString::fromLatin1(kLabelStyle));
    adjustSize();
}

TcxTextEdit::TcxTextEdit(QWidget* parent) : QLineEdit(parent)
{
    // The password character is taken from the first style sheet: QLineEdit
    // reads it on a style change, and replacing the sheet of an edit not yet
    // polished sends none, so a later sheet's "*" would never be used.
    setStyleSheet(QString::fromLatin1(kEditStyle));
}

void TcxTextEdit::SetPasswordMode()
{
    setEchoMode(QLineEdit::Password);
}

TcxButton::TcxButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent)
{
    // Neither default nor auto-default: Enter has no special meaning in a form.
    setAutoDefault(false);
    setDefault(false);
    setStyleSheet(QString::fromLatin1(kButtonStyle));
}
