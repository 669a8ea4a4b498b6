#ifndef SERVICELOG_H
#define SERVICELOG_H

#include <QByteArray>

// The service's standard error: one line per request and its diagnostics. The lines are
// written by a thread of their own, so that a standard error that nobody reads (a pipe
// whose reader is stuck or gone to sleep, a logger that holds back) holds up that thread
// only, never the event loop that serves every connection. Lines beyond those waiting
// are left out, and how many is written once the log moves again.
namespace ServiceLog {

// Starts the writing thread and sends Qt's messages (the diagnostics) through it.
void start();
// Queues one line (without its line break); never waits. Before start(), or after
// stop(), written at once.
void line(const QByteArray &baLine);
// Writes what is waiting, for at most nWaitMs; a thread still held up by a standard
// error that is not read is then left behind (the process is about to end).
void stop(int nWaitMs);

} // namespace ServiceLog

#endif // SERVICELOG_H
