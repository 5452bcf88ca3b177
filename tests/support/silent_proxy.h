#pragma once
// A TCP relay on a free loopback port that can stop relaying while keeping
// both connections open: a server, or a network, that stops answering.

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace testsupport {

class SilentProxy {
public:
    // Relays to 127.0.0.1:`targetPort`; after `bytesBeforeSilence` bytes
    // from the server it goes silent (0: from the first byte on).
    SilentProxy(int targetPort, std::size_t bytesBeforeSilence);
    ~SilentProxy();
    SilentProxy(const SilentProxy&) = delete;
    SilentProxy& operator=(const SilentProxy&) = delete;

    int port() const { return port_; }
    bool silent() const { return silent_; }

private:
    void acceptLoop();
    void relay(int client);

    int listen_ = -1, port_ = 0, target_;
    std::size_t limit_;
    std::atomic<std::size_t> fromServer_{0};
    std::atomic<bool> silent_{false}, stop_{false};
    std::vector<int> sockets_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

}  // namespace testsupport
