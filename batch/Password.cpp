#include "batch/Password.h"

#include "batch/BatchErrors.h"
#include "batch/CommandLine.h"
#include "batch/Console.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <cstdio>

namespace {

struct Password {
    Q_DECLARE_TR_FUNCTIONS(Password)
};

}  // namespace

QString ReadPassword()
{
    if (qEnvironmentVariableIsSet(kPasswordVariable))
        return qEnvironmentVariable(kPasswordVariable);
    if (!console::IsTerminal(stdin))
        throw UsageError(Password::tr("no password: set %1, or run on a terminal to be asked for it")
                             .arg(QLatin1String(kPasswordVariable)));
    console::Write(stderr, Password::tr("Password: "));
    const std::optional<QString> typed = console::ReadLineWithoutEcho();
    if (!typed)
        throw UsageError(Password::tr("no password was typed"));
    return *typed;
}
