// The one run loop over documents held in memory, into a temporary folder:
// what each kind of run counts, refuses, writes and stores, and that a
// further destination plugs in beside the others.
#include "tests/export/core/memory_source.h"
#include "tests/export/checks/signing.h"

#include "export/adapters.h"
#include "export/core/duplicates.h"
#include "export/core/package_run.h"
#include "export/checks/certificate_trust.h"
#include "export/core/pipeline.h"
#include "export/core/rules.h"
#include "export/core/run.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace pipetest {
namespace {

// The plans below take the program's own destinations, the source is replaced.
const bool registered = (exports::registerBuiltInAdapters(), true);

namespace fs = std::filesystem;
using namespace exports;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

// A settings file and an empty output folder in a folder of their own.
struct Folder {
    fs::path dir, ini, out;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "pipeline-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        ini = dir / "ConfigQuillan.ini";
        out = dir / "out";
        fs::create_directory(out);
        stamp("01/01/2010", "00:00:00");
    }
    ~Folder() { fs::remove_all(dir); }
    void stamp(const char* date, const char* time) {
        spit(ini, std::string("[Configuracoes]\r\nData=") + date + "\r\nHora=" + time + "\r\n");
    }
    std::string stored() const {
        const std::string text = slurp(ini);
        auto value = [&](const std::string& key) {
            const size_t at = text.find(key + "=") + key.size() + 1;
            return text.substr(at, text.find_first_of("\r\n", at) - at);
        };
        return value("Data") + " " + value("Hora");
    }
};

// Every file under `root`, by its path relative to it.
std::map<std::string, std::string> files(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out[fs::relative(e.path(), root).string()] = slurp(e.path());
    return out;
}

std::string keyOf(long long number) {
    char first[64];
    std::snprintf(first, sizeof first, "3524031122233300018155001%09lld100000000", number);
    return first + std::to_string(accessKeyCheckDigit(first));
}

StoredDocument doc(long long number, const char* changed, const char* type = "NF") {
    StoredDocument d;
    d.number = number;
    d.key = keyOf(number);
    d.changed = changed;
    d.documentType = type;
    d.xml = "<doc>" + std::to_string(number) + "</doc>";
    return d;
}

// A job's plan with the documents in memory as its source.
struct Memory {
    std::vector<StoredDocument> documents;
    std::optional<Moment> serverTime;
    std::function<std::unique_ptr<DocumentSource>()> opener() const {
        return [docs = documents, time = serverTime] {
            auto source = std::make_unique<MemorySource>(docs);
            if (time) source->facts.snapshot.serverTime = *time;
            return source;
        };
    }
};

RunSummary run(std::function<RunPlan()> plan, const Memory& memory, std::function<void(RunPlan&)> change = {}) {
    Observer quiet;
    return runPlan(
        [&] {
            RunPlan p = plan();
            p.openSource = memory.opener();
            if (change) change(p);
            return p;
        },
        quiet);
}

IncrementalJob incremental(const Folder& f, Kinds kinds = {true, true, true}) {
    IncrementalJob job;
    job.outputFolder = f.out.string();
    job.settingsFile = f.ini.string();
    job.kinds = kinds;
    return job;
}

PeriodJob period(const Folder& f) {
    PeriodJob job;
    job.outputFolder = f.out.string();
    job.settingsFile = f.ini.string();
    return job;
}

PackageJob package(const Folder& f) {
    PackageJob job;
    job.outputFolder = f.out.string();
    job.settingsFile = f.ini.string();
    job.yearMonth = "2024-03";
    return job;
}

std::vector<std::string> members(const fs::path& archive) {
    int error = 0;
    zip_t* z = zip_open(archive.c_str(), ZIP_RDONLY, &error);
    if (!z) return {};
    std::vector<std::string> names;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) names.push_back(zip_get_name(z, i, 0));
    zip_discard(z);
    return names;
}

TEST(Pipeline, ExaminedCountsWhatTheSourceGaveAndSelectedWhatTheRulesKept) {
    Folder f;
    Memory m;
    m.documents = {doc(1, "2021-01-01 10:00:00"), doc(2, "2021-01-02 10:00:00", "NE"), doc(3, "2021-01-03 10:00:00"),
                   doc(4, "2009-12-31 23:59:59"),  // before the stamp
                   doc(5, "2021-01-05 10:00:00", "XX")};
    m.documents[2].key = "352403/../x";
    const RunSummary s = run([&] { return incrementalPlan(incremental(f, {true, false, false})); }, m);
    ASSERT_EQ(s.result, Result::Refused) << s.error;
    EXPECT_EQ(s.examined, 4);  // 1, 2, 3, 5
    EXPECT_EQ(s.selected, 2);  // the issued ones: 1 and 3
    EXPECT_EQ(s.written, 1);
    EXPECT_EQ(s.refused, 1);
    EXPECT_EQ(s.selected, s.written + s.unchanged + s.refused);
    EXPECT_EQ(files(f.out), (std::map<std::string, std::string>{{"NFe" + keyOf(1) + ".XML", "<doc>1</doc>\r\n"}}));
    // Every examined document moves the stamp, of a ticked kind or not, refused or not.
    EXPECT_EQ(s.stampAfter, "05/01/2021 10:00:00");
    EXPECT_EQ(f.stored(), "05/01/2021 10:00:00");
}

TEST(Pipeline, RefusedDocumentsAreRecordedAlikeInEveryKindOfRun) {
    const std::string unsafe = "352403/../x";
    const std::string tooLong = "352403" + std::string(250, '1');
    for (RunKind kind : {RunKind::Incremental, RunKind::Period, RunKind::Package}) {
        SCOPED_TRACE(static_cast<int>(kind));
        Folder f;
        Memory m;
        m.documents = {doc(1, "2024-03-01 10:00:00"), doc(2, "2024-03-02 10:00:00"), doc(3, "2024-03-03 10:00:00"),
                       doc(4, "2024-03-04 10:00:00")};
        m.documents[1].key = unsafe;
        m.documents[2].key = tooLong;
        std::function<RunPlan()> plan;
        if (kind == RunKind::Incremental) plan = [&] { return incrementalPlan(incremental(f)); };
        if (kind == RunKind::Period) plan = [&] { return periodPlan(period(f)); };
        if (kind == RunKind::Package) plan = [&] { return packagePlan(package(f)); };
        const RunSummary s = run(plan, m);
        ASSERT_EQ(s.result, Result::Refused) << s.error;
        EXPECT_EQ(exitStatus(s), 65);
        EXPECT_EQ(s.examined, 4);
        EXPECT_EQ(s.written, 2);
        ASSERT_EQ(s.refusedDocuments.size(), 2u);
        EXPECT_EQ(s.refused, 2);
        EXPECT_EQ(s.refusedDocuments[0].number, 2);
        EXPECT_EQ(s.refusedDocuments[0].key, unsafe);
        EXPECT_EQ(s.refusedDocuments[0].reason, "nome inseguro");
        EXPECT_EQ(s.refusedDocuments[1].number, 3);
        EXPECT_EQ(s.refusedDocuments[1].reason, "nome longo demais");
        std::vector<std::string> written;
        for (const auto& [name, bytes] : files(f.out)) written.push_back(name);
        if (kind == RunKind::Incremental) {
            EXPECT_EQ(written, (std::vector<std::string>{"NFe" + keyOf(1) + ".XML", "NFe" + keyOf(4) + ".XML"}));
        } else if (kind == RunKind::Period) {
            EXPECT_EQ(written, (std::vector<std::string>{"Saida/NFe" + keyOf(1) + "_11222333000181.XML",
                                                         "Saida/NFe" + keyOf(4) + "_11222333000181.XML"}));
        } else {
            ASSERT_EQ(written, std::vector<std::string>{"NFe-2024-03.zip"});
            EXPECT_EQ(members(f.out / "NFe-2024-03.zip"),
                      (std::vector<std::string>{"Emitidas/NFe" + keyOf(1) + ".XML", "Emitidas/NFe" + keyOf(4) + ".XML",
                                                "manifesto.csv", "lacunas.csv"}));
        }
    }
}

TEST(Pipeline, FilesHoldingTheSameBytesAreLeftAloneAndCounted) {
    Folder f;
    Memory m;
    m.documents = {doc(1, "2021-01-01 10:00:00"), doc(2, "2021-01-02 10:00:00"), doc(3, "2021-01-03 10:00:00")};
    ASSERT_EQ(run([&] { return incrementalPlan(incremental(f)); }, m).written, 3);
    const fs::path first = f.out / ("NFe" + keyOf(1) + ".XML");
    const auto before = fs::last_write_time(first);
    f.stamp("01/01/2010", "00:00:00");
    m.documents[1].xml = "<doc>2 corrigido</doc>";
    const RunSummary s = run([&] { return incrementalPlan(incremental(f)); }, m);
    ASSERT_EQ(s.result, Result::Complete) << s.error;
    EXPECT_EQ(s.written, 1);
    EXPECT_EQ(s.unchanged, 2);
    EXPECT_EQ(fs::last_write_time(first), before);
    EXPECT_EQ(slurp(f.out / ("NFe" + keyOf(2) + ".XML")), "<doc>2 corrigido</doc>\r\n");
}

TEST(Pipeline, StampNeverPassesTheServersClock) {
    Folder f;
    Memory m;
    m.documents = {doc(1, "2021-01-02 10:00:00"), doc(2, "2021-06-01 00:00:00")};
    m.serverTime = Moment{2021, 1, 3, 12, 0, 0};
    const RunSummary s = run([&] { return incrementalPlan(incremental(f)); }, m);
    ASSERT_EQ(s.result, Result::Complete) << s.error;
    EXPECT_EQ(s.written, 2);  // written all the same
    EXPECT_EQ(f.stored(), "03/01/2021 12:00:00");
}

TEST(Pipeline, PeriodExportPutsEachDocumentInEntradaOrSaida) {
    for (const char* pattern : {"", "{aaaa}/{mm}"}) {
        SCOPED_TRACE(pattern);
        Folder f;
        Memory m;
        m.documents = {doc(1, "2024-03-01 10:00:00"), doc(2, "2024-03-01 10:00:00"), doc(3, "2024-03-01 10:00:00")};
        m.documents[0].flag = "E";
        m.documents[2].flag = "E ";  // padded: Saida, as it always was
        const RunSummary s = run(
            [&] {
                PeriodJob job = period(f);
                job.organize = pattern;
                return periodPlan(job);
            },
            m);
        ASSERT_EQ(s.result, Result::Complete) << s.error;
        EXPECT_EQ(s.checks.checked, 3);
        const std::string inside = *pattern ? "2024/03/" : "";
        const std::string tail = "_11222333000181.XML";
        EXPECT_EQ(files(f.out),
                  (std::map<std::string, std::string>{{inside + "Entrada/NFe" + keyOf(1) + tail, "<doc>1</doc>\r\n"},
                                                      {inside + "Saida/NFe" + keyOf(2) + tail, "<doc>2</doc>\r\n"},
                                                      {inside + "Saida/NFe" + keyOf(3) + tail, "<doc>3</doc>\r\n"}}));
    }
}

TEST(Pipeline, PackageTakesTheMonthOfTheKeysIntoKindFolders) {
    Folder f;
    Memory m;
    m.documents = {doc(1, "2024-03-01 10:00:00", "NF"), doc(2, "2024-03-01 10:00:00", "NE"),
                   doc(3, "2024-03-01 10:00:00", ""), doc(4, "2024-03-01 10:00:00")};
    m.documents[3].cancellation = "<procEventoNFe/>";
    m.documents.push_back(doc(5, "2024-03-01 10:00:00"));
    m.documents.back().key = "3524021122233300018155001000000005100000000" + std::string("1");  // February
    const RunSummary s = run([&] { return packagePlan(package(f)); }, m);
    ASSERT_EQ(s.result, Result::Complete) << s.error;
    EXPECT_EQ(s.examined, 4);
    EXPECT_EQ(s.written, 4);
    EXPECT_EQ(s.package, (f.out / "NFe-2024-03.zip").string());
    EXPECT_EQ(members(s.package),
              (std::vector<std::string>{"Emitidas/NFe" + keyOf(1) + ".XML", "Recebidas/NFe" + keyOf(2) + ".XML",
                                        "Outras/NFe" + keyOf(3) + ".XML", "Emitidas/CanNFe" + keyOf(4) + ".XML",
                                        "manifesto.csv", "lacunas.csv"}));
}

// A destination that records what it is given.
class Recorder final : public Destination {
public:
    explicit Recorder(std::vector<std::string>& log, bool failFinish = false) : log_(log), fail_(failFinish) {}
    void prepare() override { log_.push_back("prepare"); }
    PutResult put(const OutgoingDocument& doc) override {
        log_.push_back(doc.relativePath() + " " + std::to_string(doc.number) + " " + doc.text);
        return PutResult::Pending;
    }
    void finish(RunSummary&) override {
        log_.push_back("finish");
        if (fail_) throw std::runtime_error("upload refused");
    }
    void abandon() noexcept override { log_.push_back("abandon"); }

private:
    std::vector<std::string>& log_;
    bool fail_;
};

TEST(Pipeline, AFurtherDestinationTakesEveryKeptDocumentBesideTheFolder) {
    Folder f;
    Memory m;
    m.documents = {doc(1, "2024-03-01 10:00:00", "NF"), doc(2, "2024-03-02 10:00:00", "NE"),
                   doc(3, "2024-03-03 10:00:00")};
    m.documents[2].key = "..";
    std::vector<std::string> log;
    const RunSummary s = run(
        [&] {
            IncrementalJob job = incremental(f);
            job.organize = "{tipo}";
            return incrementalPlan(job);
        },
        m, [&](RunPlan& p) { p.destinations.push_back(std::make_unique<Recorder>(log)); });
    ASSERT_EQ(s.result, Result::Refused) << s.error;
    // The folder's answers are the counts; the recorder's Pending is not counted twice.
    EXPECT_EQ(s.written, 2);
    EXPECT_EQ(s.unchanged, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"prepare", "Emitidas/NFe" + keyOf(1) + ".XML 1 <doc>1</doc>",
                                             "Recebidas/NFe" + keyOf(2) + ".XML 2 <doc>2</doc>", "finish"}));
    EXPECT_EQ(files(f.out).size(), 2u);

    // Alone, its Pending documents count as written once finish() settles them.
    f.stamp("01/01/2010", "00:00:00");
    log.clear();
    const RunSummary alone = run([&] { return incrementalPlan(incremental(f)); }, m,
                                 [&](RunPlan& p) {
                                     p.destinations.clear();
                                     p.destinations.push_back(std::make_unique<Recorder>(log));
                                 });
    EXPECT_EQ(alone.written, 2);
    EXPECT_EQ(alone.unchanged, 0);
}

TEST(Pipeline, ADestinationThatCannotFinishFailsTheRunAndTheStampStays) {
    Folder f;
    Memory m;
    m.documents = {doc(1, "2024-03-01 10:00:00")};
    std::vector<std::string> log;
    const std::string before = slurp(f.ini);
    const RunSummary s = run([&] { return incrementalPlan(incremental(f)); }, m,
                             [&](RunPlan& p) { p.destinations.push_back(std::make_unique<Recorder>(log, true)); });
    EXPECT_EQ(s.result, Result::Failed);
    EXPECT_EQ(s.error, "upload refused");
    EXPECT_EQ(slurp(f.ini), before);
    EXPECT_EQ(log.back(), "abandon");
}

class StopAfter : public Observer {
public:
    explicit StopAfter(long documents) : left_(documents) {}
    bool stopRequested() override { return left_-- <= 0; }

private:
    long left_;
};

TEST(Pipeline, AStoppedRunAbandonsEveryDestination) {
    for (bool packaged : {false, true}) {
        SCOPED_TRACE(packaged);
        Folder f;
        Memory m;
        m.documents = {doc(1, "2024-03-01 10:00:00"), doc(2, "2024-03-02 10:00:00"), doc(3, "2024-03-03 10:00:00")};
        std::vector<std::string> log;
        const std::string before = slurp(f.ini);
        StopAfter observer(2);
        const RunSummary s = runPlan(
            [&] {
                RunPlan p = packaged ? packagePlan(package(f)) : incrementalPlan(incremental(f));
                p.openSource = m.opener();
                p.destinations.push_back(std::make_unique<Recorder>(log));
                return p;
            },
            observer);
        EXPECT_EQ(s.result, Result::Interrupted);
        EXPECT_EQ(s.examined, 2);
        EXPECT_EQ(log.back(), "abandon");
        EXPECT_EQ(slurp(f.ini), before);
        // The package leaves no archive; the folder keeps the whole files it wrote.
        EXPECT_EQ(files(f.out).size(), packaged ? 0u : 2u);
    }
}


// Two rows with one access key: the authorised text keeps the file whichever
// row comes last, the other is named, and the counts say what is on disk.
TEST(Pipeline, TwoRowsWithOneFileNameLeaveOneFileAndSaySo) {
    const std::string authorised = "<nfeProc><NFe/><protNFe><infProt><cStat>100</cStat></infProt></protNFe></nfeProc>";
    const std::string rejected = "<nfeProc><NFe/><protNFe><infProt><cStat>302</cStat></infProt></protNFe></nfeProc>";
    for (RunKind kind : {RunKind::Incremental, RunKind::Period, RunKind::Package}) {
        SCOPED_TRACE(static_cast<int>(kind));
        Folder f;
        Memory m;
        m.documents = {doc(1, "2024-03-01 10:00:00"), doc(2, "2024-03-02 10:00:00"), doc(3, "2024-03-03 10:00:00")};
        // 3 is a rejected copy of 2, stored later and with a later moment
        m.documents[1].xml = authorised;
        m.documents[2].key = m.documents[1].key;
        m.documents[2].xml = rejected;
        std::function<RunPlan()> plan;
        if (kind == RunKind::Incremental) plan = [&] { return incrementalPlan(incremental(f)); };
        if (kind == RunKind::Period) plan = [&] { return periodPlan(period(f)); };
        if (kind == RunKind::Package) plan = [&] { return packagePlan(package(f)); };
        const RunSummary s = run(plan, m);
        ASSERT_EQ(s.result, Result::Complete) << s.error;
        EXPECT_EQ(s.written, 2);
        EXPECT_EQ(s.duplicates, 1);
        ASSERT_EQ(s.duplicateDocuments.size(), 1u);
        EXPECT_EQ(s.duplicateDocuments[0].kept, 2);
        EXPECT_EQ(s.duplicateDocuments[0].dropped, 3);
        EXPECT_NE(summaryLine(s).find(" duplicados=1"), std::string::npos) << summaryLine(s);
        if (kind == RunKind::Incremental) {
            const auto got = files(f.out);
            EXPECT_EQ(got.size(), 2u);
            EXPECT_EQ(got.at("NFe" + keyOf(2) + ".XML"), authorised + "\r\n");
        }
    }
}

// A rejected copy first and the authorised text in a later row: every
// destination is handed the one text the folder keeps, once, and the counts
// say what is on disk (the later row takes the name over).
TEST(Pipeline, AKeyStoredTwiceReachesEveryDestinationOnceWithTheKeptText) {
    const std::string authorised = "<nfeProc><NFe/><protNFe><infProt><cStat>100</cStat></infProt></protNFe></nfeProc>";
    const std::string rejected = "<nfeProc><NFe/><protNFe><infProt><cStat>302</cStat></infProt></protNFe></nfeProc>";
    // looks authorised to a scan, but the status is not the protocol's
    const std::string lookalike = "<nfeProc><NFe/><xprotNFe><infProt><cStat>100</cStat></infProt></xprotNFe></nfeProc>";
    for (RunKind kind : {RunKind::Incremental, RunKind::Period, RunKind::Package}) {
        SCOPED_TRACE(static_cast<int>(kind));
        Folder f;
        Memory m;
        m.documents = {doc(1, "2024-03-01 10:00:00"), doc(2, "2024-03-02 10:00:00"), doc(3, "2024-03-03 10:00:00"),
                       doc(4, "2024-03-04 10:00:00"), doc(5, "2024-03-05 10:00:00")};
        m.documents[1].xml = rejected;
        m.documents[2].key = m.documents[1].key;
        m.documents[2].xml = authorised;
        m.documents[4].key = m.documents[1].key;
        m.documents[4].xml = lookalike;
        std::function<RunPlan()> plan;
        if (kind == RunKind::Incremental) plan = [&] { return incrementalPlan(incremental(f)); };
        if (kind == RunKind::Period) plan = [&] { return periodPlan(period(f)); };
        if (kind == RunKind::Package) plan = [&] { return packagePlan(package(f)); };
        std::vector<std::string> log;
        const RunSummary s = run(plan, m,
                                 [&](RunPlan& p) { p.destinations.push_back(std::make_unique<Recorder>(log)); });
        ASSERT_EQ(s.result, Result::Complete) << s.error;
        EXPECT_EQ(s.written, 3);  // documents 1, 3 and 4: one file each
        EXPECT_EQ(s.duplicates, 2);
        std::set<std::pair<long long, long long>> pairs;
        for (const auto& d : s.duplicateDocuments) pairs.insert({d.kept, d.dropped});
        EXPECT_EQ(pairs, (std::set<std::pair<long long, long long>>{{3, 2}, {3, 5}}));
        // One put per file, and the repeated key's is the authorised text.
        std::map<std::string, int> puts;
        for (const auto& line : log) {
            if (line == "prepare" || line == "finish") continue;
            ++puts[line.substr(0, line.find(' '))];
            if (line.find(keyOf(2)) != std::string::npos)
                EXPECT_NE(line.find(" 3 " + authorised), std::string::npos) << line;
        }
        EXPECT_EQ(puts.size(), 3u);
        for (const auto& [path, n] : puts) EXPECT_EQ(n, 1) << path;
        if (kind == RunKind::Incremental) {
            const auto got = files(f.out);
            EXPECT_EQ(got.size(), static_cast<size_t>(s.written));
            EXPECT_EQ(got.at("NFe" + keyOf(2) + ".XML"), authorised + "\r\n");
        }
    }
}

// Two authorised texts of one key, the later one tampered with after it was
// signed: the text whose checks pass keeps the file and is the one stored,
// whatever the moments say.
TEST(Pipeline, AGenuineTextKeepsItsFileAgainstATamperedAuthorisedCopy) {
    const signing::Signer signer;
    const std::string genuine = signer.sign(signing::documentTemplate(keyOf(2), "UTF-8", "Loja", "Parafuso"));
    const std::string tampered = signing::replaced(genuine, "Parafuso", "Parafusx");
    {
        // the test hierarchy trusted as the run trusts it from its settings
        const TrustForChecks trust(trustForRun(signer.trustFolder(), ""));
        ASSERT_TRUE(checkDocument(keyOf(2), genuine, XmlKind::Document).empty())
            << findingsText(checkDocument(keyOf(2), genuine, XmlKind::Document));
    }
    ASSERT_TRUE(carriesAuthorisation(tampered));
    for (bool tamperedLater : {true, false}) {
        SCOPED_TRACE(tamperedLater);
        Folder f;
        Memory m;
        m.documents = {doc(1, "2024-03-01 10:00:00"), doc(2, "2024-03-02 10:00:00"), doc(3, "2024-03-03 10:00:00")};
        m.documents[1].xml = tamperedLater ? genuine : tampered;
        m.documents[2].key = m.documents[1].key;
        m.documents[2].xml = tamperedLater ? tampered : genuine;
        std::vector<std::string> log;
        const RunSummary s = run(
            [&] {
                IncrementalJob job = incremental(f);
                job.trustedCertificates = signer.trustFolder();
                return incrementalPlan(job);
            },
            m, [&](RunPlan& p) { p.destinations.push_back(std::make_unique<Recorder>(log)); });
        ASSERT_EQ(s.result, Result::Complete) << s.error;
        EXPECT_EQ(files(f.out).at("NFe" + keyOf(2) + ".XML"), genuine + "\r\n");
        ASSERT_EQ(s.duplicateDocuments.size(), 1u);
        EXPECT_EQ(s.duplicateDocuments[0].kept, tamperedLater ? 2 : 3);
        int stored = 0;
        for (const auto& line : log)
            if (line.find(keyOf(2)) != std::string::npos) {
                ++stored;
                EXPECT_NE(line.find(genuine), std::string::npos);
            }
        EXPECT_EQ(stored, 1);
    }
}

// ---- cases that once ran against a database to reach the loop's rules ----

std::string file(long long number) { return "NFe" + keyOf(number) + ".XML"; }

StoredDocument text(long long number, const char* changed, const std::string& xml) {
    StoredDocument d = doc(number, changed);
    d.xml = xml;
    return d;
}

TEST(Pipeline, UnchangedBytesKeepTheFilesModificationTime) {
    Folder f;
    Memory m;
    m.documents = {text(1, "2021-01-01 10:00:00", "<a>\xE9</a>")};
    f.stamp("01/01/2021", "00:00:00");
    ASSERT_EQ(run([&] { return incrementalPlan(incremental(f)); }, m).written, 1);
    const std::string path = (f.out / file(1)).string();
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    f.stamp("01/01/2021", "00:00:00");  // select it again
    RunSummary s = run([&] { return incrementalPlan(incremental(f)); }, m);
    EXPECT_EQ(s.written, 0);
    EXPECT_EQ(s.unchanged, 1);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    // Different bytes are written.
    spit(path, "<a>e</a>\r\n");
    f.stamp("01/01/2021", "00:00:00");
    s = run([&] { return incrementalPlan(incremental(f)); }, m);
    EXPECT_EQ(s.written, 1);
    EXPECT_EQ(slurp(path), "<a>\xE9</a>\r\n");
}

TEST(Pipeline, PeriodExportRefusesUnusableTaxNumbersAndWritesTheRest) {
    Folder f;
    Memory m;
    for (int number : {1, 2, 3}) {
        StoredDocument d = text(number, "2021-02-01 10:00:00", "<p>" + std::to_string(number) + "</p>");
        d.flag = number == 1 ? "E" : "S";
        d.issueDate = "2021-02-01";
        m.documents.push_back(d);
    }
    m.documents[1].taxNumber = "../../x";
    m.documents[2].taxNumber = "";
    f.stamp("01/01/2021", "00:00:00");
    const RunSummary s = run([&] { return periodPlan(period(f)); }, m);
    EXPECT_EQ(s.result, Result::Refused) << s.error;
    EXPECT_EQ(s.refused, 2);
    EXPECT_EQ(files(f.out),
              (std::map<std::string, std::string>{{"Entrada/NFe" + keyOf(1) + "_11222333000181.XML", "<p>1</p>\r\n"}}));
    EXPECT_EQ(windowText(s, false).rfind("2 documentos recusados (", 0), 0u) << windowText(s, false);
}

// A run over more folders than stay open, with one of them swapped for a link
// to elsewhere midway: nothing may land where the link points.
TEST(Pipeline, FolderSwappedForALinkDuringARunOverManyFoldersLeadsNothingOutside) {
    Folder f;
    Memory m;
    const int issuers = 100;
    auto cnpj = [](int i) {
        char b[16];
        std::snprintf(b, sizeof b, "11%012d", i);
        return std::string(b);
    };
    for (int round = 0; round < 2; ++round)
        for (int i = 1; i <= issuers; ++i) {
            const int number = round * issuers + i;
            StoredDocument d = text(number, "2021-02-01 10:00:00", "<d/>");
            char key[64];
            std::snprintf(key, sizeof key, "352102%s55001%09d1%08d0", cnpj(i).c_str(), number, number);
            d.key = key;
            m.documents.push_back(d);
        }
    f.stamp("01/01/2021", "00:00:00");
    const fs::path outside = f.dir / "outside";
    // shaped like the folder it replaces, so a path that follows it finds its way
    fs::create_directories(outside / "2021-02");
    struct Swapper : Observer {
        fs::path out, outside, first;
        bool swapped = false;
        void document(long done, long long) override {
            if (done != 90 || swapped) return;
            // the first issuer's folder, long closed by now, becomes a link
            fs::rename(first, out / "moved-away");
            fs::create_directory_symlink(outside, first);
            swapped = true;
        }
    } swapper;
    swapper.out = f.out;
    swapper.outside = outside;
    swapper.first = f.out / cnpj(1);
    const RunSummary s = runPlan(
        [&] {
            IncrementalJob job = incremental(f);
            job.organize = "{cnpj}/{aaaa}-{mm}";
            RunPlan p = incrementalPlan(job);
            p.openSource = m.opener();
            return p;
        },
        swapper);
    ASSERT_TRUE(swapper.swapped);
    EXPECT_TRUE(fs::is_empty(outside / "2021-02")) << "written through the link";
    // the run cannot place that issuer's documents: it fails, stamp unmoved
    EXPECT_EQ(s.result, Result::Failed) << s.error;
    EXPECT_NE(s.error.find("link"), std::string::npos) << s.error;
    EXPECT_EQ(f.stored(), "01/01/2021 00:00:00");
}

// A run that fails midway still says what its checks found in what it wrote.
TEST(Pipeline, FailedRunReportsTheChecksItMade) {
    Folder f;
    Memory m;
    for (int number = 1; number <= 4; ++number)
        m.documents.push_back(text(number, "2021-03-01 09:00:00", "<not-a-document/>"));
    f.stamp("01/01/2021", "00:00:00");
    // the last document's name is taken by a folder: its file cannot be written
    fs::create_directories(f.out / file(4) / "inside");
    const RunSummary s = run([&] { return incrementalPlan(incremental(f)); }, m);
    EXPECT_EQ(s.result, Result::Failed);
    EXPECT_EQ(s.written, 3);
    EXPECT_EQ(s.checks.failed, 3) << summaryLine(s);
}

// The ERP kept a rejected copy beside the authorised document, under the same
// key and a higher number: one file, the authorised text, and the counts match it.
TEST(Pipeline, TwoRowsWithOneKeyLeaveTheAuthorisedTextAndCountOneFile) {
    Folder f;
    Memory m;
    const std::string authorised = "<nfeProc><NFe/><protNFe><infProt><cStat>100</cStat></infProt></protNFe></nfeProc>";
    m.documents = {text(1, "2021-03-01 09:00:00", authorised),
                   text(2, "2021-03-01 09:30:00",
                        "<nfeProc><NFe/><protNFe><infProt><cStat>539</cStat></infProt></protNFe></nfeProc>")};
    m.documents[1].key = keyOf(1);
    f.stamp("01/01/2021", "00:00:00");
    const RunSummary s = run([&] { return incrementalPlan(incremental(f)); }, m);
    EXPECT_EQ(s.result, Result::Complete) << s.error;
    EXPECT_EQ(s.written, 1);
    EXPECT_EQ(s.duplicates, 1);
    const auto got = files(f.out);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got.at(file(1)), authorised + "\r\n");
}

// Three issued documents of January 2021, as the hostile cases had them.
Memory allThreeStored() {
    Memory m;
    for (int number : {1, 2, 3})
        m.documents.push_back(doc(number, ("2021-01-0" + std::to_string(number) + " 10:00:00").c_str()));
    return m;
}

std::map<std::string, std::string> allThree() {
    return {{file(1), "<doc>1</doc>\r\n"}, {file(2), "<doc>2</doc>\r\n"}, {file(3), "<doc>3</doc>\r\n"}};
}

TEST(Pipeline, LinksPlantedUnderTheFileNamesAreReplacedNeverWrittenThrough) {
    Folder f;
    const Memory m = allThreeStored();
    const fs::path outside = f.dir / "outside";
    fs::create_directory(outside);
    // One link per kind of target: a file outside, the same bytes outside
    // (an unchanged file must not be taken as written), a missing file.
    spit(outside / "a", "secret");
    spit(outside / "b", "<doc>2</doc>\r\n");
    fs::create_symlink(outside / "a", f.out / file(1));
    fs::create_symlink(outside / "b", f.out / file(2));
    fs::create_symlink(outside / "c", f.out / file(3));
    const RunSummary s = run([&] { return incrementalPlan(incremental(f)); }, m);
    ASSERT_EQ(s.result, Result::Complete) << s.error;
    EXPECT_EQ(s.written, 3);
    EXPECT_EQ(files(outside), (std::map<std::string, std::string>{{"a", "secret"}, {"b", "<doc>2</doc>\r\n"}}));
    for (int number : {1, 2, 3}) EXPECT_FALSE(fs::is_symlink(f.out / file(number))) << number;
    EXPECT_EQ(files(f.out), allThree());
}

TEST(Pipeline, PeriodExportNeverWritesThroughAPlantedEntradaOrSaida) {
    for (const char* planted : {"Entrada", "Saida"}) {
        SCOPED_TRACE(planted);
        Folder f;
        const Memory m = allThreeStored();
        const fs::path outside = f.dir / "outside";
        fs::create_directory(outside);
        fs::create_directory_symlink(outside, f.out / planted);
        const RunSummary s = run([&] { return periodPlan(period(f)); }, m);
        EXPECT_EQ(s.result, Result::Failed);
        EXPECT_NE(s.error.find("é um link, não uma pasta"), std::string::npos) << s.error;
        EXPECT_TRUE(files(outside).empty());
        EXPECT_TRUE(files(f.out).empty());
    }
}

TEST(Pipeline, PatternLeadingOutsideIsRefusedBeforeAnythingIsWritten) {
    Folder f;
    const Memory m = allThreeStored();
    const RunSummary s = run(
        [&] {
            IncrementalJob job = incremental(f);
            job.organize = "../fora/{aaaa}";
            return incrementalPlan(job);
        },
        m);
    EXPECT_EQ(s.result, Result::Failed);
    EXPECT_EQ(exitStatus(s), 1);
    EXPECT_NE(s.error.find("Organizar inválido \"../fora/{aaaa}\""), std::string::npos) << s.error;
    EXPECT_TRUE(files(f.out).empty());
    EXPECT_FALSE(fs::exists(f.dir / "fora"));
    EXPECT_EQ(f.stored(), "01/01/2010 00:00:00");
}

}  // namespace
}  // namespace pipetest
