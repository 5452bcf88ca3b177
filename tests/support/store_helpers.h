#pragma once
// What the store's tests do to the bucket beside the destination: make
// buckets, read objects and their versions back.

#include "export/destinations/object_store/object_store.h"
#include "export/destinations/object_store/s3_client.h"
#include "tests/support/ceph_cluster.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace storetest {

struct Version {
    std::string key, versionId;
    bool deleteMarker = false;
};

// The company the helpers' settings name; every key goes under prefix + it.
inline const std::string kCompany = "11222333000181";

exports::AwsKeys clusterKeys();
// A fresh bucket with a unique name starting with `stem`.
std::string newBucket(const std::string& stem, bool objectLock);
exports::s3::Target target(const std::string& bucket);
exports::s3::Response send(exports::s3::Request r);
std::vector<Version> versions(const std::string& bucket, const std::string& prefix = "");
// Settings for the cluster's gateway: http://127.0.0.1:port/bucket/prefix,
// NuvemEmpresa kCompany.
exports::StoreSettings settings(const std::string& bucket, const std::string& prefix = "");
exports::s3::RetryPolicy quickRetries();
exports::OutgoingDocument document(const std::string& folder, const std::string& fileName, const std::string& text);

// The environment pinned for one case and put back after it.
class Env {
public:
    Env(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~Env() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace storetest
