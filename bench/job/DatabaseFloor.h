#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// What the database itself costs for the job: every value of BAC02 then
// BAC04 read whole in row order and each bitmap's finished JPEG written over
// it, committed as often as the job commits, through the same driver and
// settings. Run in a child process of its own, as the jobs are, so that it
// starts with as little memory in hand as they do.

// Keeps the finished JPEGs, in the order the floor writes them.
void WriteFinishedJpegs(const std::vector<QByteArray>& jpegs, const QString& file);
std::vector<QByteArray> ReadFinishedJpegs(const QString& file);

// The child's side, timed whole by its parent: returns the exit code.
int RunDatabaseFloor(const QString& database, const QString& finishedJpegs);
