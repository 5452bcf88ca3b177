#include "tests/support/store_helpers.h"

#include <atomic>

namespace storetest {

using namespace exports;

AwsKeys clusterKeys() {
    auto* c = testsupport::CephCluster::shared();
    return {c->accessKey(), c->secretKey()};
}

s3::Target target(const std::string& bucket) {
    return {testsupport::CephCluster::shared()->endpoint(), bucket, "us-east-1"};
}

s3::Response send(s3::Request r) {
    // Tests read whole objects back, larger than any answer the program reads.
    s3::RetryPolicy policy = quickRetries();
    policy.maxAnswerBytes = size_t(1) << 30;
    s3::Client client(clusterKeys(), "us-east-1", policy);
    return client.send(std::move(r));
}

std::string newBucket(const std::string& stem, bool objectLock) {
    static std::atomic<int> n{0};
    const std::string name = stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++n);
    const auto r = send(s3::createBucket(target(name), objectLock));
    if (!r.ok()) throw std::runtime_error("bucket " + name + ": " + r.describe() + " " + r.body);
    return name;
}

std::vector<Version> versions(const std::string& bucket, const std::string& prefix) {
    std::vector<Version> out;
    std::string keyMarker, versionMarker;
    for (;;) {
        const auto r = send(s3::listVersions(target(bucket), prefix, keyMarker, versionMarker));
        if (!r.ok()) throw std::runtime_error("listing " + bucket + ": " + r.describe());
        std::string_view body = r.body;
        for (;;) {
            const auto v = body.find("<Version>"), d = body.find("<DeleteMarker>");
            const auto at = std::min(v, d);
            if (at == std::string_view::npos) break;
            const bool marker = at == d;
            const std::string close = marker ? "</DeleteMarker>" : "</Version>";
            const auto end = body.find(close, at);
            const auto entry = body.substr(at, end - at);
            out.push_back({s3::xmlElement(entry, "Key"), s3::xmlElement(entry, "VersionId"), marker});
            body.remove_prefix(end + close.size());
        }
        if (s3::xmlElement(r.body, "IsTruncated") != "true") break;
        keyMarker = s3::xmlElement(r.body, "NextKeyMarker");
        versionMarker = s3::xmlElement(r.body, "NextVersionIdMarker");
    }
    return out;
}

StoreSettings settings(const std::string& bucket, const std::string& prefix) {
    StoreSettings s;
    s.endpoint = testsupport::CephCluster::shared()->endpoint();
    s.host = "127.0.0.1";
    s.bucket = bucket;
    s.prefix = prefix;
    s.company = kCompany;
    return s;
}

s3::RetryPolicy quickRetries() {
    s3::RetryPolicy p;
    p.attempts = 3;
    p.firstDelay = std::chrono::milliseconds(50);
    p.connectTimeout = std::chrono::milliseconds(2000);
    p.stallTimeout = std::chrono::seconds(10);
    return p;
}

OutgoingDocument document(const std::string& folder, const std::string& fileName, const std::string& text) {
    OutgoingDocument d;
    d.folder = folder;
    d.fileName = fileName;
    d.text = text;
    return d;
}

}  // namespace storetest
