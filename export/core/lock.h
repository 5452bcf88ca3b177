#pragma once
// One export at a time per configuration: a kernel lock (flock) on a file
// beside the settings file, held from an export's start to its end. The
// kernel drops it when its process dies, so a crashed run never blocks the
// next one. Inside one process a flag stops an export from starting inside
// a running one (the window pumps messages during a run).

#include <chrono>
#include <functional>
#include <string>

namespace exports {

// Exit status of an unattended run that found another export running.
inline constexpr int kExitExportBusy = 75;

// The lock file that belongs to a settings file: its name plus ".lock".
std::string lockFileFor(const std::string& configFile);

class ExportLock {
public:
    enum class State { Held, Busy, Failed };

    // Tries at once, then every 100 ms until `wait` has passed or
    // `stopRequested` says to give up.
    static ExportLock acquire(const std::string& lockFile, std::chrono::milliseconds wait,
                              const std::function<bool()>& stopRequested = {});

    ExportLock(ExportLock&& other) noexcept;
    ExportLock& operator=(ExportLock&&) = delete;
    ExportLock(const ExportLock&) = delete;
    ~ExportLock();

    State state() const { return state_; }
    // Why the lock could not be had (Busy or Failed), ready to show.
    const std::string& message() const { return message_; }

private:
    ExportLock() = default;
    int fd_ = -1;
    State state_ = State::Failed;
    std::string message_;
};

// True while an export runs in this process.
bool exportRunning();

// Marks an export as running for its lifetime.
class ExportRunningFlag {
public:
    ExportRunningFlag();
    ~ExportRunningFlag();
    ExportRunningFlag(const ExportRunningFlag&) = delete;
    ExportRunningFlag& operator=(const ExportRunningFlag&) = delete;
};

}  // namespace exports
