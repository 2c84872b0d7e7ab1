#include "batch/Console.h"

#include <QCoreApplication>

#include <cerrno>
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

struct Console {
    Q_DECLARE_TR_FUNCTIONS(Console)
};

std::atomic<bool> stopRequested{false};

// Made before the first stop request: the handler may not allocate.
std::string stopping;
#ifdef _WIN32
std::wstring stoppingOnConsole;
HANDLE stopConsole = nullptr;
#endif

// Runs inside a signal handler: nothing but a flag and a raw write.
void OnStopRequest()
{
    if (stopRequested.exchange(true)) {
        // Only whole rows are ever committed, so quitting here loses no value.
        std::_Exit(130);
    }
#ifdef _WIN32
    // Windows calls console handlers on a thread of their own, not as a signal.
    DWORD written = 0;
    if (stopConsole)
        WriteConsoleW(stopConsole, stoppingOnConsole.data(), DWORD(stoppingOnConsole.size()), &written, nullptr);
    else
        _write(2, stopping.data(), unsigned(stopping.size()));
#else
    [[maybe_unused]] const auto written = write(STDERR_FILENO, stopping.data(), stopping.size());
#endif
}

#ifdef _WIN32
BOOL WINAPI ConsoleHandler(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        OnStopRequest();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends the process as soon as this returns, or some seconds
        // later: waiting here gives the run those seconds to write the rows
        // in hand and exit by itself.
        OnStopRequest();
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

// The console's input mode while a password is typed without echo: the
// console outlives the program, so an interrupted prompt gives it back.
HANDLE promptInput = INVALID_HANDLE_VALUE;
DWORD modeBeforePrompt = 0;

BOOL WINAPI RestoreConsoleAndQuit(DWORD)
{
    SetConsoleMode(promptInput, modeBeforePrompt);
    return FALSE;  // on to the default handler, which ends the process
}

// The console behind a C stream, or nullptr for a file, a pipe or NUL.
HANDLE ConsoleOf(std::FILE* stream)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// A console line in UTF-16, whatever the console's code page; false at the
// end of input (Ctrl-Z).
bool ReadConsoleLine(HANDLE input, std::wstring& line)
{
    wchar_t buffer[256];
    DWORD count = 0;
    while (ReadConsoleW(input, buffer, DWORD(std::size(buffer)), &count, nullptr) && count > 0) {
        line.append(buffer, count);
        if (line.back() == L'\n')
            break;
    }
    if (line.empty() || line.front() == L'\x1a')
        return false;
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r'))
        line.pop_back();
    return true;
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
    // Not _isatty: it says yes for NUL and every other character device.
    return ConsoleOf(stream) != nullptr;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

bool Write(std::FILE* stream, const QString& text)
{
#ifdef _WIN32
    // A console shows UTF-16 right whatever its code page; files and pipes get UTF-8.
    if (const HANDLE console = ConsoleOf(stream)) {
        if (std::fflush(stream) != 0)
            return false;
        DWORD written = 0;
        const auto units = reinterpret_cast<const wchar_t*>(text.utf16());
        if (WriteConsoleW(console, units, DWORD(text.size()), &written, nullptr) && written == DWORD(text.size()))
            return true;
        errno = EIO;
        return false;
    }
#endif
    const bool written = std::fputs(text.toUtf8().constData(), stream) >= 0;
    return std::fflush(stream) == 0 && written;
}

std::optional<QString> ReadLineWithoutEcho()
{
#ifdef _WIN32
    promptInput = GetStdHandle(STD_INPUT_HANDLE);
    GetConsoleMode(promptInput, &modeBeforePrompt);
    SetConsoleCtrlHandler(RestoreConsoleAndQuit, TRUE);
    // Line input with Ctrl-C processed, only the echo off.
    SetConsoleMode(promptInput, (modeBeforePrompt | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~DWORD(ENABLE_ECHO_INPUT));
    std::wstring line;
    const bool read = ReadConsoleLine(promptInput, line);
    SetConsoleMode(promptInput, modeBeforePrompt);
    SetConsoleCtrlHandler(RestoreConsoleAndQuit, FALSE);
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
    const QString text =
        QStringLiteral("\nbmp2jpg-batch: %1\n")
            .arg(Console::tr("stopping once the rows in hand are written; press Ctrl-C again to quit at once"));
    stopping = text.toStdString();
#ifdef _WIN32
    stoppingOnConsole = text.toStdWString();
    stopConsole = ConsoleOf(stderr);
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
