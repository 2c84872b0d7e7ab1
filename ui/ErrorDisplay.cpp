#include "ui/ErrorDisplay.h"

#include "ui/ModalBox.h"

#include <stdexcept>

namespace ui {

QString ErrorDisplayText(const QString& message)
{
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}

void ShowError(const QString& message)
{
    RunModalBox(QMessageBox::Critical, ErrorDisplayText(message));
}

void ShowCurrentException()
{
    try {
        throw;
    } catch (const std::exception& error) {
        ShowError(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowError(QStringLiteral("Unknown error"));
    }
}

}  // namespace ui
