#pragma once

#include <QString>

#include <atomic>
#include <cstdio>
#include <optional>

// The few things the batch command needs from the terminal and the system,
// the same on every platform.
namespace console {

bool IsTerminal(std::FILE* stream);

// Writes and flushes the text: UTF-16 to a Windows console, so Chinese shows
// whatever its code page, UTF-8 anywhere else. False when it did not all
// arrive; errno says why.
bool Write(std::FILE* stream, const QString& text);

// A line typed on standard input without echo, or nullopt at end of input.
std::optional<QString> ReadLineWithoutEcho();

// From now on, a write to a pipe nobody reads fails with an error instead of
// ending the process (SIGPIPE); a no-op where there is no such signal.
void IgnoreBrokenPipes();

// From now on, Ctrl-C or a termination request sets the returned flag and
// says so on standard error; a second Ctrl-C ends the process at once with
// exit code 130.
const std::atomic<bool>& CatchStopRequests();

}  // namespace console
