#pragma once

#include <QString>

#include <stdexcept>

// Failures of the data-access module (files: FileErrors.h). Texts are UTF-8, ready for the error display.
class EDatabaseError : public std::runtime_error {
public:
    // Another client's locks stood in the way: this session was chosen as a
    // deadlock's victim (the server rolled its transaction back) or waited
    // for a lock past its timeout (only the statement failed). Doing the work
    // again later may succeed.
    enum class Cause { Other, Deadlock, LockTimeout };

    explicit EDatabaseError(const QString& text, Cause cause = Cause::Other)
        : std::runtime_error(text.toStdString()), cause_(cause)
    {
    }

    Cause cause() const { return cause_; }
    bool lockConflict() const { return cause_ != Cause::Other; }
    // The same failure, its text led by where it happened.
    EDatabaseError at(const QString& where) const
    {
        return EDatabaseError(where + QStringLiteral(": ") + QString::fromUtf8(what()), cause_);
    }

private:
    Cause cause_;
};
