#pragma once
// A real S3 store for the tests: a one-node Ceph cluster (monitor, one OSD in
// memory, radosgw on a free loopback port) started by
// tests/support/ceph-cluster.sh in a temporary folder, once per test program,
// and stopped by its daemons' PIDs when the program ends.

#include "tests/support/prerequisites.h"

#include <string>
#include <sys/types.h>

namespace testsupport {

class CephCluster {
public:
    // The program's cluster, started on first use; nullptr when it could not
    // start (whyNot() says why).
    static CephCluster* shared();
    static const std::string& whyNot();

    ~CephCluster();
    std::string endpoint() const;  // "http://127.0.0.1:port"
    const std::string& accessKey() const { return accessKey_; }
    const std::string& secretKey() const { return secretKey_; }
    const std::string& folder() const { return dir_; }
    pid_t gatewayPid() const;
    // radosgw killed by its PID (SIGKILL: no goodbye to the clients), and waited for.
    void stopGateway();
    // radosgw again on the same port; true once it answers.
    bool startGateway();

private:
    CephCluster() = default;
    bool start(std::string& why);
    std::string dir_;
    int rgwPort_ = 0;
    std::string accessKey_, secretKey_;
};

}  // namespace testsupport

#define REQUIRE_CEPH_CLUSTER()                                                        \
    REQUIRE_PREREQUISITE(::testsupport::CephCluster::shared() != nullptr,             \
                         "no Ceph cluster: " + ::testsupport::CephCluster::whyNot() + \
                             " (scripts/install-deps.sh installs ceph-mon, ceph-osd, radosgw)")
