#include "export/checks/background_checks.h"

#include <algorithm>
#include <atomic>
#include <system_error>

namespace exports {

namespace {
std::atomic<unsigned long long> checkedSoFar{0};
}  // namespace

unsigned long long documentsChecked() { return checkedSoFar.load(std::memory_order_relaxed); }

namespace {
// Small enough that the worker starts soon, large enough that locking is rare.
constexpr size_t kBatchDocuments = 32;
constexpr size_t kBatchBytes = 512 * 1024;
constexpr size_t kQueuedBatches = 4;

void addCounts(CheckCounts& to, const CheckCounts& from) {
    to.checked += from.checked;
    to.failed += from.failed;
    to.badKeys += from.badKeys;
    to.badXml += from.badXml;
    to.badSignatures += from.badSignatures;
}
}  // namespace

unsigned BackgroundChecks::threadCount() {
    // The caller checks too whenever the threads fall behind: one thread per
    // other core keeps every core busy without taking turns on one.
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores > 1 ? cores - 1 : 1u, 1u, 4u);
}

BackgroundChecks::BackgroundChecks(unsigned threads, Check check) : check_(check) {
    prepareXmlChecks();  // before two threads may parse
    pending_.reserve(kBatchDocuments);
    workers_.reserve(threads);
    for (unsigned t = 0; t < threads; ++t) {
        try {
            workers_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            break;  // fewer threads, or the caller alone, check the same documents
        }
    }
}

BackgroundChecks::~BackgroundChecks() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    work_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void BackgroundChecks::add(std::string key, std::string text, XmlKind kind, Findings* result) {
    pendingBytes_ += text.size();
    pending_.push_back({std::move(key), std::move(text), kind, result});
    if (pending_.size() >= kBatchDocuments || pendingBytes_ >= kBatchBytes) handOver();
}

void BackgroundChecks::checkBatch(Batch& batch, CheckCounts& counts, Batch* failed) {
    auto checkOne = [&](Item& item) {
        Findings findings = check_(item.key, item.text, item.kind);
        checkedSoFar.fetch_add(1, std::memory_order_relaxed);
        counts.add(findings);
        if (item.result) *item.result = std::move(findings);
    };
    for (Item& item : batch) {
        if (!failed) {
            checkOne(item);
            continue;
        }
        try {
            checkOne(item);
        } catch (...) {
            failed->push_back(std::move(item));
        }
    }
}

void BackgroundChecks::handOver() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (queue_.size() < kQueuedBatches) {
            queue_.push_back(std::move(pending_));
            lock.unlock();
            work_.notify_one();
            pending_ = Batch();
            pending_.reserve(kBatchDocuments);
            pendingBytes_ = 0;
            return;
        }
    }
    // The threads are behind: the caller checks its own batch, still in its
    // cache, instead of waiting for room. A throw here reaches the run.
    Batch batch = std::move(pending_);
    pending_ = Batch();
    pending_.reserve(kBatchDocuments);
    pendingBytes_ = 0;
    checkBatch(batch, own_, nullptr);
}

CheckCounts BackgroundChecks::finish() {
    Batch last = std::move(pending_);
    pending_ = Batch();
    pendingBytes_ = 0;
    checkBatch(last, own_, nullptr);
    std::unique_lock<std::mutex> lock(mutex_);
    // Help with what still waits, then wait for the batches being checked.
    while (!queue_.empty()) {
        Batch batch = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        checkBatch(batch, own_, nullptr);
        batch.clear();
        lock.lock();
    }
    idle_.wait(lock, [this] { return busy_ == 0; });
    Batch retry = std::move(retry_);
    retry_.clear();
    CheckCounts counts = counts_;
    lock.unlock();
    // Checked again here: a second throw fails the run instead of losing a document.
    checkBatch(retry, own_, nullptr);
    addCounts(counts, own_);
    return counts;
}

void BackgroundChecks::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        Batch batch = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
        lock.unlock();
        CheckCounts counts;
        Batch failed;
        checkBatch(batch, counts, &failed);
        batch.clear();  // the texts go here, off the caller's thread
        lock.lock();
        addCounts(counts_, counts);
        for (Item& item : failed) retry_.push_back(std::move(item));
        if (--busy_ == 0) idle_.notify_all();  // finish() may be waiting
    }
}

}  // namespace exports
