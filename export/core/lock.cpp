#include "export/core/lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace exports {

namespace {
bool running = false;
}

std::string lockFileFor(const std::string& configFile) { return configFile + ".lock"; }

ExportLock ExportLock::acquire(const std::string& lockFile, std::chrono::milliseconds wait,
                               const std::function<bool()>& stopRequested) {
    ExportLock lock;
    lock.fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock.fd_ < 0) {
        lock.message_ = "Não foi possível abrir o arquivo de trava \"" + lockFile + "\": " + std::strerror(errno);
        return lock;
    }
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(lock.fd_, LOCK_EX | LOCK_NB) == 0) {
            lock.state_ = State::Held;
            return lock;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            lock.message_ = "Não foi possível travar \"" + lockFile + "\": " + std::strerror(errno);
            break;
        }
        if (std::chrono::steady_clock::now() >= until || (stopRequested && stopRequested())) {
            lock.state_ = State::Busy;
            lock.message_ = "Outra exportação está em andamento (" + lockFile + ")";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::close(lock.fd_);
    lock.fd_ = -1;
    return lock;
}

ExportLock::ExportLock(ExportLock&& other) noexcept
    : fd_(other.fd_), state_(other.state_), message_(std::move(other.message_)) {
    other.fd_ = -1;
}

ExportLock::~ExportLock() {
    // Closing the last descriptor releases the lock; the file stays for the next run.
    if (fd_ >= 0) ::close(fd_);
}

bool exportRunning() { return running; }

ExportRunningFlag::ExportRunningFlag() { running = true; }
ExportRunningFlag::~ExportRunningFlag() { running = false; }

}  // namespace exports
