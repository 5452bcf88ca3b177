#pragma once
// SIGINT, SIGTERM and SIGHUP ask the program to stop as "Sair" does. No
// handler does the work: the three signals are blocked in every thread and
// one thread of ours waits for them, records the first and writes a byte to a
// descriptor the window watches. So the database client library, which puts
// its own handlers in place when it first attaches (and whose shutdown crashes
// a process that is still using it), never sees them, not even while an
// attach is under way.

namespace app {

// Starts the waiting thread (once; call it first thing in main, before any
// other thread exists, so that every later thread inherits the blocked
// signals). notifyFd, when not -1, receives one byte per signal from then on.
void installStopSignals(int notifyFd = -1);
// Puts our recording handler back in place of the client library's: only a
// thread that does not block the signals could ever run it.
void reinstallStopSignals();
// The first signal received, 0 while none.
int stopSignal();
// "SIGTERM" and the like.
const char* signalName(int signal);

}  // namespace app
