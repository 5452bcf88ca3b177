// What every destination promises the run loop, asked of each one the same
// way: the output folder, the month's package and the object store (the real
// Ceph cluster behind a relay that delays answers or cuts a request in the
// middle of its body). A new destination gets these cases by adding one
// Subject below.
#include "tests/export/core/memory_source.h"
#include "tests/support/store_helpers.h"
#include "tests/support/loopback.h"

#include "export/core/pipeline.h"
#include "export/core/rules.h"
#include "export/destinations/folder/folder_destination.h"
#include "export/destinations/folder/writer.h"
#include "export/destinations/object_store/object_store.h"
#include "export/destinations/package/package.h"
#include "export/destinations/package/package_destination.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using namespace exports;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string keyOf(long long number) {
    char first[64];
    std::snprintf(first, sizeof first, "3524031122233300018155001%09lld100000000", number);
    return first + std::to_string(accessKeyCheckDigit(first));
}

// Letters that do not compress away: the large document stays large in the
// package's archive too.
std::string filler(size_t size, unsigned seed) {
    std::string out(size, 'a');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>('a' + (seed >> 16) % 26);
    }
    return out;
}

// Where the relay cuts a request: inside the large document's body.
const std::string kCutMarker = "CORTE-AQUI";
// Files may grow to this size while a failure is planted; only the large
// document (and an archive holding it) is bigger.
constexpr rlim_t kFileLimit = 64 * 1024;

std::string largeText() { return "<nfeProc>" + filler(80000, 7) + kCutMarker + filler(80000, 11) + "</nfeProc>"; }

// The documents of every case: two small ones around a large one.
struct Sample {
    long long number;
    std::string text;
};
std::vector<Sample> samples() {
    return {{1, "<nfeProc>um</nfeProc>"}, {2, largeText()}, {3, "<nfeProc>tres</nfeProc>"}};
}

OutgoingDocument outgoing(const Sample& s) {
    OutgoingDocument d;
    d.number = s.number;
    d.key = keyOf(s.number);
    d.fileName = documentFileName(d.key, false);
    d.text = s.text;
    d.documentType = "NF";
    d.issueDate = "2024-03-05";
    return d;
}

// In front of the gateway: holds every answer back for a while when asked,
// and, when asked, cuts a request where the marker begins in its body
// (both sides closed: the store has heard part of a body, never all of it).
class CuttingRelay {
public:
    std::atomic<bool> cut{false};
    std::atomic<int> answerDelayMs{0};

    explicit CuttingRelay(int target) : target_(target) {
        listen_ = testsupport::listenOnLoopback(64, port_, "conformance relay");
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~CuttingRelay() {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        acceptor_.join();
        for (auto& t : threads_) t.join();
        ::close(listen_);
    }
    int port() const { return port_; }

private:
    void acceptLoop() {
        for (;;) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                if (stop_) return;
                continue;
            }
            const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            std::lock_guard<std::mutex> lock(mutex_);
            threads_.emplace_back([this, client] { relay(client); });
        }
    }
    static bool sendAll(int fd, const char* data, size_t size) {
        for (size_t done = 0; done < size;) {
            const ssize_t w = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
            if (w <= 0) return false;
            done += static_cast<size_t>(w);
        }
        return true;
    }
    void relay(int client) {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(target_));
        std::string tail;  // the end of the last piece: a marker may span two
        if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            char buf[16384];
            while (!stop_) {
                pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
                if (::poll(p, 2, 100) <= 0) continue;
                if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                    const ssize_t n = ::read(client, buf, sizeof buf);
                    if (n <= 0) break;
                    size_t forward = static_cast<size_t>(n);
                    bool cutHere = false;
                    if (cut) {
                        const std::string window = tail + std::string(buf, forward);
                        const size_t at = window.find(kCutMarker);
                        if (at != std::string::npos) {
                            cutHere = true;
                            forward = at > tail.size() ? at - tail.size() : 0;
                        }
                        tail = window.substr(window.size() - std::min(window.size(), kCutMarker.size()));
                    }
                    if (!sendAll(server, buf, forward) || cutHere) break;
                }
                if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                    const ssize_t n = ::read(server, buf, sizeof buf);
                    if (n <= 0) break;
                    if (const int ms = answerDelayMs) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                    if (!sendAll(client, buf, static_cast<size_t>(n))) break;
                }
            }
        }
        ::close(server);
        ::close(client);
    }

    int listen_ = -1, port_ = 0, target_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

// A planted fault, taken back when it goes.
using Planted = std::shared_ptr<void>;

// Files larger than kFileLimit fail in the middle of their writing (EFBIG).
Planted fileSizeLimit() {
    static const bool ignored = (std::signal(SIGXFSZ, SIG_IGN), true);
    (void)ignored;
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = kFileLimit;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    return Planted(nullptr, [old](void*) { ::setrlimit(RLIMIT_FSIZE, &old); });
}

// One destination as the cases see it.
class Subject {
public:
    virtual ~Subject() = default;
    // A fresh destination over the same place, as the next run would make it.
    virtual std::unique_ptr<Destination> make() = 0;
    // What a reader finds under the final names: name -> bytes.
    virtual std::map<std::string, std::string> held() = 0;
    // The name a document is held under.
    virtual std::string nameOf(const OutgoingDocument& doc) = 0;
    // Changes whenever anything is written again, even with the same bytes.
    virtual std::string fingerprint() = 0;
    // Temporaries and partial uploads left behind.
    virtual std::vector<std::string> leftovers() = 0;
    // From now on the large document fails in the middle of being stored.
    virtual Planted failLargeDocument() = 0;
    // From now on the destination's work stays in flight for a while; nothing
    // to slow where put() or finish() does the work itself.
    virtual Planted slowDown() { return nullptr; }
    // What the message of a failure with the large document must name.
    virtual std::string failureNames(const OutgoingDocument& doc) { return doc.fileName; }
};

// A temporary folder with the settings file (its stamp) and the output folder.
struct Place {
    fs::path dir, ini, out;
    Place() {
        std::string pattern = (fs::temp_directory_path() / "conformance-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        ini = dir / "ConfigQuillan.ini";
        out = dir / "out";
        fs::create_directory(out);
        std::ofstream(ini, std::ios::binary) << "[Configuracoes]\r\nData=01/01/2010\r\nHora=00:00:00\r\n";
    }
    ~Place() { fs::remove_all(dir); }
    std::string outFolder() const { return out.string() + "/"; }
};

class FolderSubject : public Subject {
public:
    explicit FolderSubject(const Place& place) : place_(place) {}
    std::unique_ptr<Destination> make() override {
        return std::make_unique<FolderDestination>(place_.outFolder(), true);
    }
    std::map<std::string, std::string> held() override {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(place_.out))
            if (e.is_regular_file() && !isWriterTemporaryName(e.path().filename().string()))
                out[fs::relative(e.path(), place_.out).string()] = slurp(e.path());
        return out;
    }
    std::string nameOf(const OutgoingDocument& doc) override { return doc.relativePath(); }
    std::string fingerprint() override {
        std::string out;
        for (const auto& e : fs::recursive_directory_iterator(place_.out)) {
            struct stat st {};
            ::lstat(e.path().c_str(), &st);
            out += e.path().string() + " " + std::to_string(st.st_ino) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                   std::to_string(st.st_mtim.tv_nsec) + "\n";
        }
        return out;
    }
    std::vector<std::string> leftovers() override {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(place_.out))
            if (isWriterTemporaryName(e.path().filename().string())) out.push_back(e.path().string());
        return out;
    }
    Planted failLargeDocument() override { return fileSizeLimit(); }

private:
    const Place& place_;
};

// Every document is a member of one archive, made at finish: what it holds is
// read from the archive under its final name.
class PackageSubject : public Subject {
public:
    explicit PackageSubject(const Place& place) : place_(place) {}
    std::unique_ptr<Destination> make() override {
        return std::make_unique<PackageDestination>(place_.outFolder(), kMonth);
    }
    std::map<std::string, std::string> held() override {
        std::map<std::string, std::string> out;
        const fs::path archive = place_.out / packageFileName(kMonth);
        if (!fs::exists(archive)) return out;
        int err = 0;
        zip_t* z = zip_open(archive.c_str(), ZIP_RDONLY, &err);
        if (!z) {
            out["<archive unreadable>"] = std::to_string(err);
            return out;
        }
        for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
            zip_stat_t st;
            zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st);
            const std::string name = st.name;
            if (name == "manifesto.csv" || name == "lacunas.csv") continue;
            std::string bytes(st.size, '\0');
            zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
            const zip_int64_t got = f ? zip_fread(f, bytes.data(), st.size) : -1;
            if (f) zip_fclose(f);
            out[name] = got == static_cast<zip_int64_t>(st.size) ? bytes : "<member unreadable>";
        }
        zip_discard(z);
        return out;
    }
    std::string nameOf(const OutgoingDocument& doc) override {
        PackageDocument member;
        member.accessKey = doc.key;
        member.documentType = doc.documentType;
        member.cancellation = doc.cancellation;
        return memberName(member);
    }
    // The archive is written anew by every run: unchanged means the same bytes.
    std::string fingerprint() override {
        const fs::path archive = place_.out / packageFileName(kMonth);
        return fs::exists(archive) ? slurp(archive) : "";
    }
    std::vector<std::string> leftovers() override {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(place_.out))
            if (e.path().filename() != packageFileName(kMonth)) out.push_back(e.path().string());
        return out;
    }
    Planted failLargeDocument() override { return fileSizeLimit(); }
    // The archive fails, not one member: its message names the archive.
    std::string failureNames(const OutgoingDocument&) override { return packageFileName(kMonth); }

private:
    static constexpr const char* kMonth = "2024-03";
    const Place& place_;
};

int gatewayPort() {
    const std::string endpoint = testsupport::CephCluster::shared()->endpoint();
    return std::stoi(endpoint.substr(endpoint.rfind(':') + 1));
}

class StoreSubject : public Subject {
public:
    StoreSubject() : relay_(gatewayPort()), bucket_(storetest::newBucket("conformidade", true)) {}
    std::unique_ptr<Destination> make() override {
        StoreSettings s = storetest::settings(bucket_, kPrefix);
        s.endpoint = "http://127.0.0.1:" + std::to_string(relay_.port());
        return std::make_unique<ObjectStoreDestination>(s, storetest::clusterKeys(), "", storetest::quickRetries());
    }
    std::map<std::string, std::string> held() override {
        std::map<std::string, std::string> out;
        const std::string under = kPrefix + storetest::kCompany + "/";
        for (const storetest::Version& v : storetest::versions(bucket_, kPrefix)) {
            if (out.count(v.key.substr(under.size()))) continue;
            const auto r = storetest::send(s3::getObject(storetest::target(bucket_), v.key));
            if (r.status == 404) continue;  // the newest is a delete marker
            out[v.key.substr(under.size())] = r.ok() ? r.body : "<" + r.describe() + ">";
        }
        return out;
    }
    std::string nameOf(const OutgoingDocument& doc) override { return doc.relativePath(); }
    std::string fingerprint() override {
        std::string out;
        for (const storetest::Version& v : storetest::versions(bucket_, kPrefix))
            out += v.key + " " + v.versionId + (v.deleteMarker ? " x\n" : "\n");
        return out;
    }
    std::vector<std::string> leftovers() override {
        const auto r = storetest::send(s3::listMultipartUploads(storetest::target(bucket_), kPrefix));
        if (!r.ok()) return {"listing the uploads: " + r.describe()};
        if (r.body.find("<Upload>") != std::string::npos) return {r.body};
        return {};
    }
    Planted failLargeDocument() override {
        relay_.cut = true;
        return Planted(nullptr, [this](void*) { relay_.cut = false; });
    }
    Planted slowDown() override {
        relay_.answerDelayMs = 150;
        return Planted(nullptr, [this](void*) { relay_.answerDelayMs = 0; });
    }

private:
    static inline const std::string kPrefix = "escritorio/";
    CuttingRelay relay_;
    std::string bucket_;
};

struct Form {
    std::string name;
    bool needsStore;
    std::function<std::unique_ptr<Subject>(const Place&)> make;
};
void PrintTo(const Form& form, std::ostream* out) { *out << form.name; }

// Names with the size and digest of their bytes: a failure shows what differs, not 160 kB.
std::string listed(const std::map<std::string, std::string>& held) {
    std::string out;
    for (const auto& [name, bytes] : held)
        out += name + " " + std::to_string(bytes.size()) + " " + sha256Hex(bytes).substr(0, 16) + "\n";
    return out;
}

// The destination under test as the run loop sees it, with a look at what
// abandon() leaves taken at once: the run drops its destinations right after,
// and a temporary that only the destructor removes would go unseen.
class Watched final : public Destination {
public:
    Watched(std::unique_ptr<Destination> inner, std::function<void()> afterAbandon)
        : inner_(std::move(inner)), afterAbandon_(std::move(afterAbandon)) {}
    void prepare() override { inner_->prepare(); }
    PutResult put(const OutgoingDocument& doc) override { return inner_->put(doc); }
    void finish(RunSummary& summary) override { inner_->finish(summary); }
    void abandon() noexcept override {
        inner_->abandon();
        afterAbandon_();
    }
    DestinationSteps steps() const override { return inner_->steps(); }

private:
    std::unique_ptr<Destination> inner_;
    std::function<void()> afterAbandon_;
};

class Conformance : public testing::TestWithParam<Form> {
protected:
    void SetUp() override {
        if (GetParam().needsStore) REQUIRE_CEPH_CLUSTER();
        subject = GetParam().make(place);
    }

    // name -> bytes every document of `docs` must have wherever it is held.
    std::map<std::string, std::string> expected(const std::vector<OutgoingDocument>& docs) {
        std::map<std::string, std::string> out;
        for (const auto& d : docs) out[subject->nameOf(d)] = d.text + "\r\n";
        return out;
    }
    // Everything held is one of `docs`, whole.
    void expectOnlyWhole(const std::vector<OutgoingDocument>& docs) {
        const auto want = expected(docs);
        for (const auto& [name, bytes] : subject->held()) {
            const auto it = want.find(name);
            if (it == want.end()) {
                ADD_FAILURE() << "held under a name no document has: " << name;
                continue;
            }
            EXPECT_TRUE(bytes == it->second)
                << name << " is partial or other bytes: " << bytes.size() << " of " << it->second.size() << " bytes";
        }
    }
    // Puts every document and finishes; abandons on a failure, which it returns.
    std::string deliver(Destination& d, const std::vector<OutgoingDocument>& docs) {
        RunSummary summary;
        try {
            d.prepare();
            for (const auto& doc : docs) d.put(doc);
            d.finish(summary);
            return "";
        } catch (const std::exception& e) {
            d.abandon();
            return e.what();
        }
    }
    std::vector<OutgoingDocument> documents() {
        std::vector<OutgoingDocument> out;
        for (const Sample& s : samples()) out.push_back(outgoing(s));
        return out;
    }

    // An incremental run of the samples into the destination under test.
    RunSummary run(Observer& observer) {
        return runPlan(
            [&] {
                RunPlan p;
                p.kind = RunKind::Incremental;
                p.job.outputFolder = place.out.string();
                p.job.settingsFile = place.ini.string();
                p.selection.kind = Selection::Kind::Changes;
                p.selection.kinds = {true, true, true};
                // the package's member folder follows the document's type
                p.selection.withDocumentType = true;
                p.checkDocuments = false;
                std::vector<pipetest::StoredDocument> stored;
                for (const Sample& s : samples()) {
                    pipetest::StoredDocument d;
                    d.number = s.number;
                    d.key = keyOf(s.number);
                    d.changed = "2024-03-05 10:00:0" + std::to_string(s.number);
                    d.documentType = "NF";
                    d.xml = s.text;
                    stored.push_back(std::move(d));
                }
                p.openSource = [stored] { return std::make_unique<pipetest::MemorySource>(stored); };
                p.destinations.push_back(std::make_unique<Watched>(subject->make(), [this] {
                    abandoned = true;
                    leftAtAbandon = subject->leftovers();
                }));
                return p;
            },
            observer);
    }

    Place place;
    std::unique_ptr<Subject> subject;
    // Set by a run's abandon(): what the destination left right then.
    bool abandoned = false;
    std::vector<std::string> leftAtAbandon;
};

// A failure in the middle of the large document leaves nothing partial under
// its name: a new name stays empty, an earlier version stays whole, and what
// an earlier run stored is untouched; abandon() leaves no temporary behind.
// For the package the unit is the archive: the earlier one stays as it was,
// none half-written takes its name.
TEST_P(Conformance, ADocumentIsStoredWholeOrNotAtAll) {
    for (const bool replacing : {false, true}) {
        SCOPED_TRACE(replacing ? "over an earlier version" : "under a new name");
        Place here;
        const std::unique_ptr<Subject> tested = GetParam().make(here);
        const auto docs = documents();
        std::vector<OutgoingDocument> earlier = {docs[0]};
        if (replacing) {
            earlier.push_back(docs[1]);
            earlier.back().text = "<nfeProc>dois, antes</nfeProc>";
        }
        {
            auto first = tested->make();
            ASSERT_EQ(deliver(*first, earlier), "");
        }
        const auto before = tested->held();
        ASSERT_EQ(before.size(), earlier.size());

        auto d = tested->make();
        std::string failure;
        {
            const Planted fault = tested->failLargeDocument();
            failure = deliver(*d, docs);
        }
        EXPECT_NE(failure, "") << "the planted failure went unnoticed";
        const auto left = tested->leftovers();
        EXPECT_TRUE(left.empty()) << "after abandon: " << left.front();
        d.reset();

        const auto after = tested->held();
        const auto whole = expected(docs);
        for (const auto& [name, bytes] : after) {
            const auto was = before.find(name);
            if (was != before.end()) {
                EXPECT_EQ(listed({{name, bytes}}), listed({*was})) << "an earlier document changed";
            } else {
                EXPECT_NE(name, tested->nameOf(docs[1])) << "the large document is held after its failure";
                ASSERT_EQ(whole.count(name), 1u) << "held under a name no document has: " << name;
                EXPECT_EQ(listed({{name, bytes}}), listed({*whole.find(name)}));
            }
        }
        for (const auto& [name, bytes] : before) EXPECT_EQ(after.count(name), 1u) << name << " went away";
    }
}

// A second run with the same documents writes nothing: the files keep their
// inode and time, the store gets no new version. The package is written anew
// by every run: there, nothing new means the very same archive bytes.
TEST_P(Conformance, UnchangedBytesAreLeftAlone) {
    const auto docs = documents();
    {
        auto d = subject->make();
        ASSERT_EQ(deliver(*d, docs), "");
    }
    const std::string first = subject->fingerprint();
    ASSERT_NE(first, "");
    {
        auto d = subject->make();
        ASSERT_EQ(deliver(*d, docs), "");
    }
    EXPECT_EQ(subject->fingerprint(), first);
    EXPECT_EQ(listed(subject->held()), listed(expected(docs)));
}

// Through the run loop: the failure's message names the document it concerns
// (the package's names its archive), the stamp stays where it was, in the
// summary and in the settings file.
TEST_P(Conformance, AFailureNamesItsDocumentAndTheStampStays) {
    const std::string settingsBefore = slurp(place.ini);
    Observer quiet;
    RunSummary s;
    {
        const Planted fault = subject->failLargeDocument();
        s = run(quiet);
    }
    EXPECT_EQ(s.result, Result::Failed) << s.error;
    const OutgoingDocument large = outgoing(samples()[1]);
    EXPECT_NE(s.error.find(subject->failureNames(large)), std::string::npos) << s.error;
    // The loop names the document it had reached only when that is the one at fault.
    if (s.errorDocument) {
        EXPECT_EQ(*s.errorDocument, large.number) << s.error;
    }
    EXPECT_EQ(s.stampAfter, s.stampBefore);
    EXPECT_EQ(slurp(place.ini), settingsBefore);
    EXPECT_TRUE(abandoned);
    EXPECT_TRUE(leftAtAbandon.empty()) << leftAtAbandon.front();
    EXPECT_TRUE(subject->leftovers().empty());
    expectOnlyWhole(documents());
}

// Once finish() returns, every document taken can be read back, even with
// the destination's work held in flight (the store's answers delayed). The
// package holds nothing before finish: its archive is made there.
TEST_P(Conformance, FinishWaitsForEverythingTaken) {
    const auto docs = documents();
    auto d = subject->make();
    const Planted slow = subject->slowDown();
    RunSummary summary;
    d->prepare();
    for (const auto& doc : docs) d->put(doc);
    d->finish(summary);
    EXPECT_EQ(listed(subject->held()), listed(expected(docs)));
}

// A stop asked after the first document: what was stored is whole, the rest
// never arrives, no temporary stays, the stamp does not move.
TEST_P(Conformance, AStopBetweenDocumentsLeavesItConsistent) {
    struct StopAfterFirst : Observer {
        long seen = 0;
        void document(long, long long) override { ++seen; }
        bool stopRequested() override { return seen >= 1; }
    } observer;
    const std::string settingsBefore = slurp(place.ini);
    const Planted slow = subject->slowDown();
    const RunSummary s = run(observer);
    EXPECT_EQ(s.result, Result::Interrupted) << s.error;
    EXPECT_EQ(observer.seen, 1);
    EXPECT_EQ(s.stampAfter, s.stampBefore);
    EXPECT_EQ(slurp(place.ini), settingsBefore);
    EXPECT_TRUE(abandoned);
    EXPECT_TRUE(leftAtAbandon.empty()) << "after abandon: " << leftAtAbandon.front();
    EXPECT_TRUE(subject->leftovers().empty()) << subject->leftovers().front();
    const auto all = documents();
    expectOnlyWhole({all[0]});
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, Conformance,
    testing::Values(Form{"folder", false, [](const Place& p) { return std::make_unique<FolderSubject>(p); }},
                    Form{"package", false, [](const Place& p) { return std::make_unique<PackageSubject>(p); }},
                    Form{"store", true, [](const Place&) { return std::make_unique<StoreSubject>(); }}),
    [](const testing::TestParamInfo<Form>& info) { return info.param.name; });

}  // namespace
