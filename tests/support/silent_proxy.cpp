#include "tests/support/silent_proxy.h"
#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

SilentProxy::SilentProxy(int targetPort, std::size_t bytesBeforeSilence)
    : target_(targetPort), limit_(bytesBeforeSilence) {
    listen_ = listenOnLoopback(8, port_, "proxy");
    silent_ = limit_ == 0;
    acceptor_ = std::thread([this] { acceptLoop(); });
}

SilentProxy::~SilentProxy() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    acceptor_.join();
    for (auto& t : threads_) t.join();
    for (int s : sockets_) ::close(s);
    ::close(listen_);
}

void SilentProxy::acceptLoop() {
    for (;;) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            if (stop_) return;
            continue;
        }
        const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        sockets_.push_back(client);
        threads_.emplace_back([this, client] { relay(client); });
    }
}

void SilentProxy::relay(int client) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(target_));
    if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(server);
        return;
    }
    char buf[16384];
    while (!stop_) {
        pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (::poll(p, 2, 100) <= 0) continue;
        // Silent: nothing is read or passed on any more; both ends stay open.
        if (silent_) continue;
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
            if (n <= 0) {
                ::close(server);
                return;
            }
            std::size_t send = std::size_t(n);
            if (i == 1 && limit_ > 0) {
                const std::size_t before = fromServer_.fetch_add(send);
                if (before + send >= limit_) {
                    send = before >= limit_ ? 0 : limit_ - before;
                    silent_ = true;
                }
            }
            for (std::size_t done = 0; done < send;) {
                const ssize_t w = ::write(p[1 - i].fd, buf + done, send - done);
                if (w <= 0) break;
                done += std::size_t(w);
            }
        }
    }
    ::close(server);
}

}  // namespace testsupport
