#include "tests/export/office/office_helpers.h"

#include "export/office/run_record.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace storetest {

using namespace exports;

ClusterKeysInEnvironment::ClusterKeysInEnvironment() : ClusterKeysInEnvironment(clusterKeys()) {}

ClusterKeysInEnvironment::ClusterKeysInEnvironment(const AwsKeys& keys) {
    ::setenv("AWS_ACCESS_KEY_ID", keys.accessKey.c_str(), 1);
    ::setenv("AWS_SECRET_ACCESS_KEY", keys.secretKey.c_str(), 1);
    ::unsetenv("AWS_SHARED_CREDENTIALS_FILE");
}

ClusterKeysInEnvironment::~ClusterKeysInEnvironment() {
    ::unsetenv("AWS_ACCESS_KEY_ID");
    ::unsetenv("AWS_SECRET_ACCESS_KEY");
    ::unsetenv("AWS_SHARED_CREDENTIALS_FILE");
}

std::vector<std::string> listKeys(const std::string& bucket, const std::string& prefix) {
    std::vector<std::string> out;
    std::string token;
    do {
        const auto r = send(s3::listObjects(target(bucket), prefix, "", token));
        if (!r.ok()) throw std::runtime_error("listing " + bucket + ": " + r.describe());
        const s3::ListPage page = s3::parseListPage(r.body);
        for (const auto& o : page.objects) out.push_back(o.key);
        token = page.truncated ? page.nextToken : std::string();
    } while (!token.empty());
    return out;
}

void putPolicy(const std::string& bucket, const std::string& policy) {
    s3::Request r;
    r.method = "PUT";
    r.url = testsupport::CephCluster::shared()->endpoint() + "/" + bucket + "?policy=";
    r.body = policy;
    r.headers.push_back("x-amz-content-sha256: " + s3::sha256Hex(policy));
    r.headers.push_back("Content-Type: application/json");
    const auto answer = send(std::move(r));
    if (!answer.ok()) throw std::runtime_error("policy of " + bucket + ": " + answer.describe() + " " + answer.body);
}

AwsKeys readOnlyUser(std::string* uid) {
    static const AwsKeys keys = [] {
        const std::string conf = testsupport::CephCluster::shared()->folder() + "/ceph.conf";
        AwsKeys k{"OFFICEREADER" + std::to_string(::getpid()), "officereadersecret0123456789abcdefghijklmnop"};
        const std::string command = "radosgw-admin -c '" + conf + "' user create --uid=escritorio" +
                                    " --display-name=escritorio --access-key=" + k.accessKey +
                                    " --secret-key=" + k.secretKey + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("radosgw-admin user create failed");
        return k;
    }();
    if (uid) *uid = "escritorio";
    return keys;
}

void putRecord(const std::string& bucket, const std::string& prefix, const std::string& company, const RunRecord& run,
               long long sent, const std::string& host, const std::string& package, bool plainName) {
    StoreSettings store = settings(bucket, prefix);
    store.company = company;
    RunRecordExtras extras;
    extras.host = host;
    extras.version = "1.0.0";
    extras.sent = sent;
    extras.package = package;
    const std::string key = plainName ? plainRunRecordKey(store, run.ended, host) : runRecordKey(store, run, extras);
    const auto r = send(s3::putObject(target(bucket), key, runRecordText(run, extras), std::nullopt));
    if (!r.ok()) throw std::runtime_error("record: " + r.describe());
}

}  // namespace storetest
