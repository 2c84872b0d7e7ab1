#include "batch/Password.h"

#include "batch/BatchErrors.h"
#include "batch/CommandLine.h"
#include "batch/Console.h"

#include <QtGlobal>

#include <cstdio>

QString ReadPassword()
{
    if (qEnvironmentVariableIsSet(kPasswordVariable))
        return qEnvironmentVariable(kPasswordVariable);
    if (!console::IsTerminal(stdin))
        throw UsageError(QStringLiteral("no password: set %1, or run on a terminal to be asked for it")
                             .arg(QLatin1String(kPasswordVariable)));
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    const std::optional<QString> typed = console::ReadLineWithoutEcho();
    if (!typed)
        throw UsageError(QStringLiteral("no password was typed"));
    return *typed;
}
