#include "tests/support/ceph_cluster.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

namespace testsupport {

namespace {

namespace fs = std::filesystem;

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

std::string randomText(size_t n, const std::string& alphabet) {
    std::random_device rd;
    std::string out;
    for (size_t i = 0; i < n; ++i) out += alphabet[rd() % alphabet.size()];
    return out;
}

pid_t readPid(const fs::path& p) {
    std::ifstream in(p);
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
}

bool alive(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

void killAndWait(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    // Not our child (the daemons detach): poll until it is gone.
    for (int i = 0; i < 200 && alive(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
}

std::string& why() {
    static std::string w;
    return w;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

CephCluster* CephCluster::shared() {
    static std::unique_ptr<CephCluster> cluster;
    static bool tried = false;
    if (!tried) {
        tried = true;
        std::unique_ptr<CephCluster> c(new CephCluster);
        if (c->start(why())) cluster = std::move(c);
    }
    return cluster.get();
}

const std::string& CephCluster::whyNot() { return why(); }

bool CephCluster::start(std::string& whyNot) {
    for (const char* tool :
         {"ceph-mon", "ceph-osd", "radosgw", "radosgw-admin", "monmaptool", "ceph-authtool", "ceph"}) {
        const std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) {
            whyNot = std::string(tool) + " is not installed";
            return false;
        }
    }
    std::string tmpl = (fs::temp_directory_path() / "ceph-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        whyNot = "no temporary folder";
        return false;
    }
    dir_ = tmpl;
    const int monPort = freePort();
    rgwPort_ = freePort();
    while (rgwPort_ == monPort) rgwPort_ = freePort();
    accessKey_ = "T" + randomText(19, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    secretKey_ = randomText(40, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    const std::string cmd = std::string("bash '") + CEPH_CLUSTER_SCRIPT + "' start '" + dir_ + "' " +
                            std::to_string(monPort) + " " + std::to_string(rgwPort_) + " " + accessKey_ + " " +
                            secretKey_ + " " + std::to_string(::getpid()) + " >'" + dir_ + "/start.log' 2>&1";
    const int rc = std::system(cmd.c_str());
    if (rc != 0) {
        whyNot = "tests/support/ceph-cluster.sh failed: " + slurp(fs::path(dir_) / "start.log");
        return false;
    }
    return true;
}

CephCluster::~CephCluster() {
    if (dir_.empty()) return;
    const fs::path run = fs::path(dir_) / "run";
    std::error_code ec;
    // radosgw first, then the OSD, the monitor last.
    for (const char* name : {"client.rgw.test.pid", "osd.0.pid", "mon.a.pid"}) killAndWait(readPid(run / name));
    fs::remove_all(dir_, ec);
}

std::string CephCluster::endpoint() const { return "http://127.0.0.1:" + std::to_string(rgwPort_); }

pid_t CephCluster::gatewayPid() const { return readPid(fs::path(dir_) / "run" / "client.rgw.test.pid"); }

void CephCluster::stopGateway() { killAndWait(gatewayPid()); }

bool CephCluster::startGateway() {
    const std::string cmd = std::string("bash '") + CEPH_CLUSTER_SCRIPT + "' rgw '" + dir_ + "' >>'" + dir_ +
                            "/start.log' 2>&1";
    return std::system(cmd.c_str()) == 0;
}

}  // namespace testsupport
