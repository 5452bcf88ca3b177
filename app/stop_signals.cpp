#include "app/stop_signals.h"

#include <atomic>
#include <csignal>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace app {

namespace {

std::atomic<int> received{0};
// Started under nohup: a hang-up must not stop the run (the very reason for nohup).
std::atomic<bool> hangupIgnored{false};
std::atomic<int> notify{-1};
std::once_flag started;

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, s);
    return set;
}

void record(int signal) {
    if (signal == SIGHUP && hangupIgnored) return;
    int none = 0;
    received.compare_exchange_strong(none, signal);
    const int fd = notify.load();
    if (fd >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = ::write(fd, &c, 1);
    }
}

void onSignal(int signal) { record(signal); }

// A handler stays installed even though the signals are blocked: a signal
// whose disposition is "ignore" (a job started in the background by a shell)
// would be dropped instead of waiting for sigwait.
void installHandlers() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &sa, nullptr);
}

}  // namespace

void installStopSignals(int notifyFd) {
    if (notifyFd >= 0) {
        notify = notifyFd;
        // A signal that came before anyone watched still gets its byte.
        if (received.load() != 0) {
            const char c = 1;
            [[maybe_unused]] ssize_t n = ::write(notifyFd, &c, 1);
        }
    }
    std::call_once(started, [] {
        struct sigaction inherited {};
        hangupIgnored = ::sigaction(SIGHUP, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN;
        installHandlers();
        const sigset_t set = stopSet();
        ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
        std::thread([set] {
            for (;;) {
                int signal = 0;
                if (::sigwait(&set, &signal) == 0) record(signal);
            }
        }).detach();
    });
}

void reinstallStopSignals() { installHandlers(); }

int stopSignal() { return received.load(); }

const char* signalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    }
    return "sinal";
}

}  // namespace app
