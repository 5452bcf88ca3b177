#pragma once
// The object store destination: every document the run keeps goes to an S3
// bucket under the settings' prefix, with the same bytes as its file, keyed by
// the file's path under the output folder. Uploads run several at a time; a
// document whose stored object already holds these bytes is left alone, so a
// second run adds no version.

#include "export/destinations/object_store/aws_credentials.h"
#include "export/core/destination.h"
#include "export/core/job.h"
#include "export/destinations/object_store/s3_client.h"
#include "export/destinations/object_store/store_settings.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace exports {

class ObjectStoreDestination : public Destination {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    // `subfolder` goes between the prefix and each key ("pacotes/" for the
    // month's package).
    ObjectStoreDestination(StoreSettings settings, AwsKeys keys, std::string subfolder = "",
                           s3::RetryPolicy policy = {}, int inFlight = 32, Clock now = {});
    ~ObjectStoreDestination() override;

    // The bucket answers with these keys and, when a retention is asked,
    // Object Lock is enabled on it.
    void prepare() override;
    // Starts the document's upload (same bytes as its file: the text and CR
    // LF) and returns Pending; throws once an earlier upload has failed.
    PutResult put(const OutgoingDocument& doc) override;
    // Stores bytes as they are (the package's manifest, gaps) under `name`.
    void putBytes(const std::string& name, std::string bytes);
    // A file's bytes (the package's zip), read from the file as they go:
    // below the multipart size in one request, above it in parts of a fixed
    // size, two at a time, so memory stays the same whatever the file's size.
    // The object carries the file's SHA-256 as metadata (x-amz-meta-sha256):
    // an object already holding it (and protected when a retention is asked)
    // is left alone. Waits for the upload; throws naming the key.
    void putFile(const std::string& name, const std::string& path);
    // Files from `threshold` bytes on go in parts of `partSize` (the store
    // takes 5 MiB and up but for the last). For tests.
    void setMultipart(std::uint64_t threshold, std::uint64_t partSize) {
        multipartThreshold_ = threshold;
        partSize_ = partSize;
    }
    // Waits for every upload; throws naming the first failed key and the answer.
    void finish(RunSummary& summary) override;
    // Drops the uploads still in flight (the ones done stay: the next run
    // finds them unchanged).
    void abandon() noexcept override;
    // It waits on the store: a run ended from outside says so ("Nuvem: …").
    DestinationSteps steps() const override {
        return {RunStep::PreparingStore, RunStep::Uploading, RunStep::FinishingStore};
    }

    long written() const { return written_; }
    long unchanged() const { return unchanged_; }
    // Same bytes whose stored retention was shorter or weaker than asked.
    long extended() const { return extended_; }
    const StoreSettings& settings() const { return settings_; }
    // The key a document's relative path gets.
    std::string keyFor(const std::string& relativePath) const;

private:
    // How a replacing PUT names the object it replaces: the ETag as it came,
    // without its quotes, or not at all once the store refused both for an
    // object that had not changed.
    enum class IfMatch { Quoted, Bare, Unusable };
    // One document's way into the store: looked at, then stored, or its
    // retention extended, and read back when a retention is asked.
    struct Upload {
        std::string key, md5, body;
        int refusals = 0;                       // 412 answers: another writer stored the key meanwhile
        s3::Retention asked;                    // the lock sent with the PUT or the extension
        std::string ifMatch;                    // the ETag the last PUT was conditioned on
        IfMatch ifMatchForm = IfMatch::Quoted;  // of that PUT
    };
    void upload(std::string key, std::string bytes);
    void look(const std::shared_ptr<Upload>& item);
    void decide(const std::shared_ptr<Upload>& item, const s3::Response& head);
    void stored(const std::shared_ptr<Upload>& item, const s3::Response& put);
    void extend(const std::shared_ptr<Upload>& item, const s3::Response& head);
    void readBack(const std::shared_ptr<Upload>& item, const std::string& version, std::function<void()> counted);
    // Whether a version's lock (HEAD answer) is the asked mode or stronger and
    // lasts the asked days from when it was stored (`justSet`: at least the
    // date just sent).
    bool retentionHolds(const s3::Response& head, const s3::Retention* justSet = nullptr) const;
    void failWith(const std::exception& e);
    void checkFailure();
    [[noreturn]] void fail(const std::string& key, const s3::Response& r, const std::string& step);
    std::string bucketAdvice(const s3::Response& r) const;
    std::optional<s3::Retention> retention() const;

    StoreSettings settings_;
    std::string subfolder_;
    Clock now_;
    s3::Target target_;
    std::unique_ptr<s3::Client> client_;
    long written_ = 0, unchanged_ = 0, extended_ = 0;
    IfMatch ifMatch_ = IfMatch::Quoted;
    std::string failure_;  // the first upload's failure; the run ends on it
    std::uint64_t multipartThreshold_ = 16u << 20, partSize_ = 8u << 20;
};

// The month's package in the store: when the package destination before it
// has named the archive (summary.package), the archive and its two lists
// (manifesto.csv, lacunas.csv, taken out of it) go under prefix/pacotes/ as
// NFe-AAAA-MM.zip, NFe-AAAA-MM-manifesto.csv and NFe-AAAA-MM-lacunas.csv.
class PackageStoreDestination : public Destination {
public:
    explicit PackageStoreDestination(std::unique_ptr<ObjectStoreDestination> store);
    void prepare() override;
    // The documents travel inside the archive.
    PutResult put(const OutgoingDocument&) override { return PutResult::Pending; }
    void finish(RunSummary& summary) override;
    void abandon() noexcept override;
    // It waits on the store: a run ended from outside says so ("Nuvem: …").
    DestinationSteps steps() const override {
        return {RunStep::PreparingStore, RunStep::Uploading, RunStep::FinishingStore};
    }

private:
    std::unique_ptr<ObjectStoreDestination> store_;
};

// The job's store with its keys (environment or credentials file), or nullptr
// when the job's settings have no Nuvem; `subfolder` as above. Throws "Nuvem: …"
// when the settings or the keys cannot be used.
std::unique_ptr<ObjectStoreDestination> storeDestinationFor(const ConnectionJob& job, std::string subfolder = "");

// Every run with Nuvem also writes to the store (export/adapters.cpp).
void registerObjectStoreDestination();

}  // namespace exports
