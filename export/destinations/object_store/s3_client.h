#pragma once
// A small S3 client over libcurl: path-style requests signed with SigV4 by
// curl itself, several transfers in flight on one multi handle, and retries
// with backoff for the answers that say "try again". Requests are plain
// values built by free functions so their headers can be checked without a
// network.

#include "export/destinations/object_store/aws_credentials.h"

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exports::s3 {

// Where requests go: "scheme://host:port", the bucket and its region.
struct Target {
    std::string endpoint;
    std::string bucket;
    std::string region = "us-east-1";
};

struct Retention {
    std::string mode;   // "COMPLIANCE" or "GOVERNANCE"
    std::string until;  // ISO 8601 in UTC, "2031-01-01T00:00:00.000Z"
};

struct Request {
    std::string method;
    std::string url;
    std::vector<std::string> headers;  // "Name: value"
    std::string body;
    std::string key;  // the object's key, or "" for the bucket: for messages
};

std::string hexOf(const unsigned char* data, size_t size);
std::string md5Hex(std::string_view bytes);
std::string md5Base64(std::string_view bytes);
std::string sha256Hex(std::string_view bytes);
// Percent-encodes every byte outside A-Z a-z 0-9 - _ . ~ (and '/' when kept).
std::string uriEncode(std::string_view bytes, bool keepSlash);
// A header's value in a request ("" when absent); the name is case-insensitive.
std::string headerValue(const Request& r, std::string_view name);

Request putObject(const Target& t, const std::string& key, std::string body, const std::optional<Retention>& retention);
// Conditions on a PUT: the store refuses it (412) when they do not hold, so
// two writers of one key never both replace what the other stored.
struct PutCondition {
    bool ifNoneMatch = false;  // only when no object has the key yet
    std::string ifMatch;       // only when the current object has this ETag (as the store gave it)
};
Request putObject(const Target& t, const std::string& key, std::string body, const std::optional<Retention>& retention,
                  const PutCondition& condition);
// Sets the retention of one stored version (PutObjectRetention).
Request putRetention(const Target& t, const std::string& key, const std::string& versionId, const Retention& retention);
Request headObject(const Target& t, const std::string& key);
Request getObject(const Target& t, const std::string& key, const std::string& versionId = "");
Request deleteObject(const Target& t, const std::string& key, const std::string& versionId = "");
Request getRetention(const Target& t, const std::string& key, const std::string& versionId);
Request headBucket(const Target& t);
Request getObjectLockConfiguration(const Target& t);
Request createBucket(const Target& t, bool objectLock);
// One page of the versions under a prefix.
Request listVersions(const Target& t, const std::string& prefix, const std::string& keyMarker = "",
                     const std::string& versionMarker = "");

// One page of ListObjectsV2 under a prefix; with a delimiter the names that
// go on past it come back once each as common prefixes.
Request listObjects(const Target& t, const std::string& prefix, const std::string& delimiter = "",
                    const std::string& continuationToken = "", int maxKeys = 1000);

struct ListedObject {
    std::string key;
    std::string etag;
    long long size = 0;
    std::string lastModified;
};
struct ListPage {
    std::vector<ListedObject> objects;
    std::vector<std::string> prefixes;  // CommonPrefixes
    bool truncated = false;
    std::string nextToken;  // NextContinuationToken
};
// The page a ListObjectsV2 answer holds; XML escapes in keys are decoded.
ListPage parseListPage(std::string_view body);
// The text of an XML element's content with its five named and numeric
// character references decoded.
std::string xmlUnescape(std::string_view text);

struct Response {
    long status = 0;             // 0 when no answer came
    std::string transportError;  // curl's reason when no answer came
    // Set when the client ended the request itself (answer too large, too
    // slow overall, certificate refused): never retried, `transportError`
    // says why.
    bool final = false;
    std::string body;
    std::map<std::string, std::string> headers;  // names in lower case
    int attempts = 0;

    bool ok() const { return status >= 200 && status < 300; }
    // The S3 error code of the body ("SlowDown", "AccessDenied"…), or "".
    std::string errorCode() const;
    // Network errors, timeouts, 500, 503 and SlowDown.
    bool retryable() const;
    // "HTTP 403 AccessDenied" or "sem resposta (Connection refused)"; a
    // redirect names where it points, a skewed clock says so.
    std::string describe() const;
    std::string header(const std::string& lowerName) const;
    // RequestTimeTooSkewed, or a refusal whose Date is 15 minutes or more
    // away from this computer's clock.
    bool clockSkewed() const;
};

// The text of the first <name>…</name> element in an XML body ("" when none).
std::string xmlElement(std::string_view body, std::string_view name);

struct RetryPolicy {
    int attempts = 5;  // the first try included
    std::chrono::milliseconds firstDelay{200};
    std::chrono::milliseconds connectTimeout{10000};
    // An answer that stalls below one byte a second this long counts as a timeout.
    std::chrono::seconds stallTimeout{30};
    // The client only reads small answers (errors, listings, run records):
    // a longer body ends the request.
    size_t maxAnswerBytes = 4u << 20;
    // A whole request, answer included, may take this long plus the time the
    // body takes at minBytesPerSecond; past it the request ends.
    std::chrono::seconds timeLimit{120};
    long long minBytesPerSecond = 256 * 1024;
    // A PEM file of the authorities to trust (NuvemCA); "" takes
    // SSL_CERT_FILE or CURL_CA_BUNDLE when set, else the system's.
    std::string caFile;
};

// How long a request with `bodyBytes` to send may take under `policy`.
std::chrono::milliseconds requestTimeLimit(const RetryPolicy& policy, size_t bodyBytes);

class Client {
public:
    Client(AwsKeys keys, std::string region, RetryPolicy policy = {}, int maxInFlight = 32);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    using Done = std::function<void(Request&&, Response&&)>;
    // Starts a request; `done` runs on this thread, inside poll()/wait(), with
    // its final answer (retries spent).
    void start(Request request, Done done);
    // One request, waited for (other transfers go on meanwhile).
    Response send(Request request);
    // Transfers started or waiting for a retry.
    size_t pending() const;
    int maxInFlight() const { return maxInFlight_; }
    // Drives the transfers until at least one request is settled or the wait
    // passes.
    void poll(std::chrono::milliseconds wait);
    // Until nothing is pending.
    void wait();
    // Drops every transfer without calling their `done`.
    void cancelAll() noexcept;

private:
    struct Transfer;
    void launch(std::unique_ptr<Transfer> t);
    void settle(Transfer* t, long status, const std::string& transportError);
    void launchDue();

    AwsKeys keys_;
    std::string sigv4_;
    std::string caInfo_;  // "" for curl's own
    RetryPolicy policy_;
    int maxInFlight_;
    void* multi_ = nullptr;
    std::map<void*, std::unique_ptr<Transfer>> running_;
    std::deque<std::unique_ptr<Transfer>> waiting_;  // retries, due at their time
    int settled_ = 0;
};

// ---------------------------------------------------------------------------
// Multipart upload: an object sent in parts, each its own request (and its
// own retries), joined by the store at the end.

struct UploadedPart {
    int number = 0;    // from 1
    std::string etag;  // as the store answered it, quotes included
};

// Starts the upload; the retention and the metadata ("x-amz-meta-<name>")
// go here, the parts carry none. The answer's <UploadId> names the upload.
Request createMultipartUpload(const Target& t, const std::string& key, const std::optional<Retention>& retention,
                              const std::map<std::string, std::string>& metadata = {});
// One part, with its Content-MD5 (Object Lock buckets ask for it).
Request uploadPart(const Target& t, const std::string& key, const std::string& uploadId, int partNumber,
                   std::string body);
// Joins the parts, in their numbers' order. A 200 answer may still carry an
// <Error> body.
Request completeMultipartUpload(const Target& t, const std::string& key, const std::string& uploadId,
                                const std::vector<UploadedPart>& parts);
Request abortMultipartUpload(const Target& t, const std::string& key, const std::string& uploadId);
// The ETag the store gives a multipart object: the MD5 of the parts' MD5s
// (raw bytes) and "-<parts>", quoted. `partMd5s` as hex.
std::string multipartEtag(const std::vector<std::string>& partMd5s);

// The multipart uploads begun and neither completed nor aborted under a prefix.
Request listMultipartUploads(const Target& t, const std::string& prefix);

}  // namespace exports::s3
