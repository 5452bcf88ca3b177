#include "tests/support/prerequisites.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace testsupport {

bool inCi() {
    const char* ci = std::getenv("CI");
    if (!ci) return false;
    const std::string v = ci;
    return !v.empty() && v != "0" && v != "false";
}

bool firebirdServerAnswers() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(3050);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

bool xServerAnswers() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    // A set DISPLAY proves nothing: a dead Xvfb leaves it behind.
    xcb_connection_t* c = xcb_connect(display, nullptr);
    const bool ok = xcb_connection_has_error(c) == 0;
    xcb_disconnect(c);
    return ok;
}

int exitStatus(int runAllTestsResult) {
    const testing::UnitTest& u = *testing::UnitTest::GetInstance();
    if (runAllTestsResult == 0 && u.skipped_test_count() > 0) return kSkippedStatus;
    return runAllTestsResult;
}

}  // namespace testsupport
