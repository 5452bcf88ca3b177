#include "app/stop_signals.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace app {

namespace {

volatile std::sig_atomic_t received = 0;
std::atomic<int> notify{-1};

void onSignal(int signal) {
    if (received == 0) received = signal;
    const int fd = notify.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = ::write(fd, &c, 1);
    }
}

}  // namespace

void installStopSignals(int notifyFd) {
    if (notifyFd >= 0) notify = notifyFd;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &sa, nullptr);
}

void reinstallStopSignals() { installStopSignals(-1); }

int stopSignal() { return received; }

const char* signalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    }
    return "sinal";
}

}  // namespace app
