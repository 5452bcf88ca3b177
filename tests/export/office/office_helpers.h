#pragma once
// What the office's tests do beside the program: keys in the environment,
// listings, bucket policies, a read-only user, records written by hand.

#include "export/history/history.h"
#include "tests/support/store_helpers.h"

#include <string>
#include <vector>

namespace storetest {

// The cluster's keys in the environment the program inherits (or other keys).
class ClusterKeysInEnvironment {
public:
    ClusterKeysInEnvironment();
    explicit ClusterKeysInEnvironment(const exports::AwsKeys& keys);
    ~ClusterKeysInEnvironment();
};

// Every key under `prefix`, in the store's order.
std::vector<std::string> listKeys(const std::string& bucket, const std::string& prefix);
// Puts a bucket policy as the bucket's owner; throws when refused.
void putPolicy(const std::string& bucket, const std::string& policy);
// A second user of the cluster with keys of its own and no bucket: it reads
// what a policy lets it. Created once per program.
exports::AwsKeys readOnlyUser(std::string* uid = nullptr);
// A run record as a company's run leaves it (exports::runRecordText) at its
// key; `plainName` puts it where earlier versions did (a name without the run).
void putRecord(const std::string& bucket, const std::string& prefix, const std::string& company,
               const exports::RunRecord& run, long long sent, const std::string& host = "maquina-1",
               const std::string& package = "", bool plainName = false);

}  // namespace storetest
