#pragma once
// A listening socket on a free loopback port, for the test relays and proxies.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace testsupport {

// The socket, listening; `port` receives its number. Throws naming `who`.
inline int listenOnLoopback(int backlog, int& port, const std::string& who) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error(who + ": no loopback port");
    }
    port = ntohs(a.sin_port);
    return fd;
}

}  // namespace testsupport
