#include "tests/job/ChildProcess.h"

void StartChild(QProcess& process, const QStringList& command, const std::optional<QString>& password)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (password)
        environment.insert(QStringLiteral("BMP2JPG_PASSWORD"), *password);
    else
        environment.remove(QStringLiteral("BMP2JPG_PASSWORD"));
    process.setProcessEnvironment(environment);
    process.start(command.front(), command.mid(1));
    process.closeWriteChannel();
}

ChildOutcome FinishChild(QProcess& process)
{
    // waitForFinished says false for a process that has ended already.
    const bool ended = (process.state() == QProcess::NotRunning || process.waitForFinished(300000)) &&
                       process.exitStatus() == QProcess::NormalExit;
    QString err = QString::fromUtf8(process.readAllStandardError());
    if (!ended)
        err += QStringLiteral("\n(the process crashed or did not end in time)");
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()), err};
}

ChildOutcome RunChild(const QStringList& command, const std::optional<QString>& password)
{
    QProcess process;
    StartChild(process, command, password);
    return FinishChild(process);
}
