#pragma once
// A relay on a free loopback port in front of a real store: it can change
// the store's answers on their way back (an ETag rewritten) and speak TLS to
// the client with a certificate of the test's own authority, the store
// behind it staying plain HTTP.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class StoreRelay {
public:
    struct Options {
        // Applied to each piece of the answers as it passes (bytes may be
        // changed in place; the length should stay).
        std::function<void(std::string&)> answers;
        // PEM files: with both, the client side speaks TLS.
        std::string certificate, privateKey;
    };
    StoreRelay(int targetPort, Options options);
    ~StoreRelay();
    StoreRelay(const StoreRelay&) = delete;
    StoreRelay& operator=(const StoreRelay&) = delete;

    int port() const { return port_; }
    int connections() const { return connections_; }
    // Handshakes the client gave up (its check of the certificate failed).
    int refusedHandshakes() const { return refusedHandshakes_; }

private:
    void acceptLoop();
    void relay(int client);

    Options options_;
    void* tls_ = nullptr;  // SSL_CTX
    int listen_ = -1, port_ = 0, target_;
    std::atomic<int> connections_{0}, refusedHandshakes_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

}  // namespace testsupport
