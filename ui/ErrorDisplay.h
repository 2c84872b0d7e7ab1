#pragma once

#include <QString>

#include <utility>

namespace ui {

// The text the error display shows: the failure's message with a full stop
// appended when its last character sorts after "." (letters and digits do).
QString ErrorDisplayText(const QString& message);

// The application-wide error display: a modal box with the error icon,
// captioned with the application title. The application carries on after it.
void ShowError(const QString& message);

// Shows the error display for the exception in flight; call from a catch block.
void ShowCurrentException();

// Wraps an event handler so that any failure leaving it reaches the error
// display instead of unwinding through the toolkit's event dispatch.
template <typename Handler>
auto Guarded(Handler handler)
{
    return [handler = std::move(handler)]() {
        try {
            handler();
        } catch (...) {
            ShowCurrentException();
        }
    };
}

}  // namespace ui
