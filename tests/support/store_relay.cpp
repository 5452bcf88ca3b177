#include "tests/support/store_relay.h"
#include "tests/support/loopback.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testsupport {

StoreRelay::StoreRelay(int targetPort, Options options) : options_(std::move(options)), target_(targetPort) {
    if (!options_.certificate.empty()) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, options_.certificate.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, options_.privateKey.c_str(), SSL_FILETYPE_PEM) != 1) {
            if (ctx) SSL_CTX_free(ctx);
            throw std::runtime_error("relay: certificate or key unusable");
        }
        tls_ = ctx;
    }
    listen_ = listenOnLoopback(16, port_, "relay");
    acceptor_ = std::thread([this] { acceptLoop(); });
}

StoreRelay::~StoreRelay() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    acceptor_.join();
    for (auto& t : threads_) t.join();
    ::close(listen_);
    if (tls_) SSL_CTX_free(static_cast<SSL_CTX*>(tls_));
}

void StoreRelay::acceptLoop() {
    for (;;) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            if (stop_) return;
            continue;
        }
        const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        ++connections_;
        std::lock_guard<std::mutex> lock(mutex_);
        threads_.emplace_back([this, client] { relay(client); });
    }
}

void StoreRelay::relay(int client) {
    SSL* ssl = nullptr;
    if (tls_) {
        ssl = SSL_new(static_cast<SSL_CTX*>(tls_));
        SSL_set_fd(ssl, client);
        if (SSL_accept(ssl) != 1) {
            ++refusedHandshakes_;
            ERR_clear_error();
            SSL_free(ssl);
            ::close(client);
            return;
        }
    }
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(target_));
    auto toClient = [&](const char* data, size_t size) {
        for (size_t done = 0; done < size;) {
            const ssize_t w = ssl ? SSL_write(ssl, data + done, static_cast<int>(size - done))
                                  : ::send(client, data + done, size - done, MSG_NOSIGNAL);
            if (w <= 0) return false;
            done += static_cast<size_t>(w);
        }
        return true;
    };
    if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        char buf[16384];
        while (!stop_) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            const bool pending = ssl && SSL_pending(ssl) > 0;
            if (!pending && ::poll(p, 2, 100) <= 0) continue;
            if (pending || (p[0].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = ssl ? SSL_read(ssl, buf, sizeof buf) : ::read(client, buf, sizeof buf);
                if (n <= 0) break;
                if (::send(server, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
            }
            if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::read(server, buf, sizeof buf);
                if (n <= 0) break;
                std::string piece(buf, static_cast<size_t>(n));
                if (options_.answers) options_.answers(piece);
                if (!toClient(piece.data(), piece.size())) break;
            }
        }
    }
    ::close(server);
    if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    ::close(client);
}

}  // namespace testsupport
