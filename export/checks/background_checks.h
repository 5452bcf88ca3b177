#pragma once
// The checks of a run's documents on threads of their own, while the run
// reads and writes the next ones.

#include "export/checks/findings.h"
#include "export/checks/xml_check.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace exports {

// Checks documents on threads of their own while the export reads and writes
// the next ones, so the checks cost the run little time. Documents go over in
// batches, one lock per batch. When a few batches already wait, the caller
// checks its own batch instead of waiting (a full queue never idles it), and
// finish() helps with what is left: no core sits idle while documents wait.
// A check that throws on a thread is checked again by the caller in finish(),
// where its exception reaches the run: no document goes uncounted.
class BackgroundChecks {
public:
    using Check = Findings (*)(std::string_view key, std::string_view text, XmlKind kind);
    // `threads` beside the caller; 0 checks everything on the caller's thread.
    explicit BackgroundChecks(unsigned threads = threadCount(), Check check = &checkDocument);
    ~BackgroundChecks();  // stops the threads; counts not asked for are dropped
    BackgroundChecks(const BackgroundChecks&) = delete;
    BackgroundChecks& operator=(const BackgroundChecks&) = delete;

    // Pass the texts with std::move when the caller is done with them. The
    // findings also go to `result` when given, which must stay in place until
    // finish() returns.
    void add(std::string key, std::string text, XmlKind kind, Findings* result = nullptr);
    // Waits for every document added so far, checking beside the threads;
    // then the counts (every `result` is written by then).
    CheckCounts finish();

    // How many threads check beside the caller by default: one per core
    // besides the caller's, at least 1, at most 4.
    static unsigned threadCount();
    // How many threads actually started.
    unsigned threads() const { return static_cast<unsigned>(workers_.size()); }

private:
    struct Item {
        std::string key, text;
        XmlKind kind;
        Findings* result;
    };
    using Batch = std::vector<Item>;
    void handOver();
    // Checks a batch into `counts`; items whose check threw go to `failed`.
    void checkBatch(Batch& batch, CheckCounts& counts, Batch* failed);
    void work();

    Check check_;
    Batch pending_;  // the caller's, not yet handed over
    size_t pendingBytes_ = 0;
    CheckCounts own_;  // what the caller checked itself
    std::mutex mutex_;
    std::condition_variable work_;  // a batch waits, or stopping
    std::condition_variable idle_;  // no batch is being checked
    std::deque<Batch> queue_;
    Batch retry_;   // items whose check threw on a thread
    int busy_ = 0;  // batches taken off the queue and still being checked
    bool stopping_ = false;
    CheckCounts counts_;
    std::vector<std::thread> workers_;
};

// Documents checked so far by this process, on any thread, counted as each
// check ends: a run waiting on its checks is still moving (the unattended
// run's watchdog reads this).
unsigned long long documentsChecked();

}  // namespace exports
