#pragma once

#include <QString>

#include <stdexcept>

// Failures of the data-access module (files: FileErrors.h). Texts are UTF-8, ready for the error display.
class EDatabaseError : public std::runtime_error {
public:
    // `lockConflict`: another client's locks stood in the way. This session
    // was chosen as a deadlock's victim (the server rolled its transaction
    // back) or waited for a lock past its timeout (only the statement
    // failed). Doing the work again later may succeed.
    explicit EDatabaseError(const QString& text, bool lockConflict = false)
        : std::runtime_error(text.toStdString()), lockConflict_(lockConflict)
    {
    }

    bool lockConflict() const { return lockConflict_; }
    // The same failure, its text led by where it happened.
    EDatabaseError at(const QString& where) const
    {
        return EDatabaseError(where + QStringLiteral(": ") + QString::fromUtf8(what()), lockConflict_);
    }

private:
    bool lockConflict_;
};
