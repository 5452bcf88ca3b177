#pragma once
// "/executa": the incremental export once, without a window, a tray or a
// graphical platform. Reports on stdout (the summary line) and stderr, and
// returns the exit status.

namespace app {

// True when an argument is exactly "/executa".
bool wantsUnattendedRun(int argc, char** argv);
int runUnattended(int argc, char** argv);

}  // namespace app
