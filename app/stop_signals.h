#pragma once
// SIGINT, SIGTERM and SIGHUP ask the program to stop as "Sair" does. The
// handler only records the signal (and writes a byte to a descriptor the
// window watches): nothing else is safe inside it, least of all the database
// client library.

namespace app {

// Installs the handlers; notifyFd, when not -1, receives one byte per signal.
// Called again after the database client is loaded and attached: the client
// library puts its own handlers in place of ours, and its shutdown thread
// crashes a process that is still using it.
void installStopSignals(int notifyFd = -1);
// Installs the handlers again with the descriptor given before.
void reinstallStopSignals();
// The first signal received, 0 while none.
int stopSignal();
// "SIGTERM" and the like.
const char* signalName(int signal);

}  // namespace app
