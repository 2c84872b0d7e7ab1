#include "ui/FatalError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#endif

namespace ui {
namespace {

QString ClassName(const std::exception& error)
{
    const char* raw = typeid(error).name();
#if __has_include(<cxxabi.h>)
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(raw, nullptr, nullptr, &status), &std::free);
    if (status == 0 && demangled)
        return QString::fromLatin1(demangled.get());
#endif
    // MSVC's names carry their kind: "class std::runtime_error".
    QString name = QString::fromLatin1(raw);
    for (const QLatin1String kind : {QLatin1String("class "), QLatin1String("struct ")}) {
        if (name.startsWith(kind))
            return name.mid(kind.size());
    }
    return name;
}

}  // namespace

void ShowStartupFailure(const std::exception& error)
{
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const auto address = reinterpret_cast<std::uintptr_t>(&error);
    const QString text =
        QStringLiteral("Exception %1 in module %2 at %3.\n%4")
            .arg(ClassName(error), module,
                 QStringLiteral("%1").arg(address, int(sizeof(void*) * 2), 16, QLatin1Char('0')).toUpper(),
                 QString::fromUtf8(error.what()));
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace ui
