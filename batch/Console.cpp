#include "batch/Console.h"

#include <cstdlib>
#include <iostream>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

std::atomic<bool> stopRequested{false};

constexpr char kStopping[] =
    "\nbmp2jpg-batch: stopping once the rows in hand are written; press Ctrl-C again to quit at once\n";

// Runs inside a signal handler: nothing but a flag and a raw write.
void OnStopRequest()
{
    if (stopRequested.exchange(true)) {
        // Only whole rows are ever committed, so quitting here loses no value.
        std::_Exit(130);
    }
#ifdef _WIN32
    _write(2, kStopping, sizeof kStopping - 1);
#else
    [[maybe_unused]] const auto written = write(STDERR_FILENO, kStopping, sizeof kStopping - 1);
#endif
}

#ifdef _WIN32
BOOL WINAPI ConsoleHandler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    OnStopRequest();
    return TRUE;
}
#else
void SignalHandler(int)
{
    OnStopRequest();
}

// The terminal's mode while a password is typed without echo, so that an
// interrupted prompt gives the terminal back as it was.
termios modeBeforePrompt{};

void RestoreTerminalAndQuit(int signal)
{
    tcsetattr(STDIN_FILENO, TCSANOW, &modeBeforePrompt);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
#endif

}  // namespace

namespace console {

bool IsTerminal(std::FILE* stream)
{
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

std::optional<QString> ReadLineWithoutEcho()
{
#ifdef _WIN32
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    GetConsoleMode(input, &mode);
    SetConsoleMode(input, mode & ~DWORD(ENABLE_ECHO_INPUT));
    std::wstring line;
    const bool read = bool(std::getline(std::wcin, line));
    SetConsoleMode(input, mode);
    const QString text = QString::fromStdWString(line);
#else
    const bool terminal = tcgetattr(STDIN_FILENO, &modeBeforePrompt) == 0;
    struct sigaction restore {};
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
    if (terminal) {
        restore.sa_handler = RestoreTerminalAndQuit;
        sigemptyset(&restore.sa_mask);
        sigaction(SIGINT, &restore, &previousInterrupt);
        sigaction(SIGTERM, &restore, &previousTerminate);
        termios silent = modeBeforePrompt;
        silent.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    std::string line;
    const bool read = bool(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &modeBeforePrompt);
        sigaction(SIGINT, &previousInterrupt, nullptr);
        sigaction(SIGTERM, &previousTerminate, nullptr);
    }
    const QString text = QString::fromLocal8Bit(line);
#endif
    // The typed Enter was not echoed either.
    std::cerr << std::endl;
    if (!read)
        return std::nullopt;
    return text;
}

void IgnoreBrokenPipes()
{
#ifndef _WIN32
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
#endif
}

const std::atomic<bool>& CatchStopRequests()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = SignalHandler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
    return stopRequested;
}

}  // namespace console
