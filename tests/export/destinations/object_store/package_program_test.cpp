// The real program's "/pacote" of a large month with a Nuvem line: the
// archive goes to the bucket from its file, so the program's peak memory
// stays far below the archive's size, and the unchanged month packaged again
// gives the same archive, which the bucket does not store a second time.
#include "tests/support/workspace.h"
#include "tests/support/store_helpers.h"

#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <random>

namespace {

using namespace exptest;
using namespace storetest;

class ClusterKeys {
public:
    ClusterKeys() {
        ::setenv("AWS_ACCESS_KEY_ID", clusterKeys().accessKey.c_str(), 1);
        ::setenv("AWS_SECRET_ACCESS_KEY", clusterKeys().secretKey.c_str(), 1);
        ::unsetenv("AWS_SHARED_CREDENTIALS_FILE");
    }
    ~ClusterKeys() {
        ::unsetenv("AWS_ACCESS_KEY_ID");
        ::unsetenv("AWS_SECRET_ACCESS_KEY");
    }
};

// February 2021's document `n`: an authorised text padded with bytes that do
// not compress, so the archive is as large as the month.
std::string largeText(int n, size_t size) {
    std::string text = "<?xml version=\"1.0\" encoding=\"windows-1252\"?><nfeProc><NFe><infNFe><obs>";
    std::mt19937_64 random(static_cast<std::uint64_t>(n));
    while (text.size() + 200 < size) {
        const std::uint64_t v = random();
        for (int i = 0; i < 8; ++i) {
            const char c = static_cast<char>(0x20 + (v >> (i * 8)) % 0xE0);
            text += c == '<' || c == '&' ? '.' : c;
        }
    }
    char tail[160];
    std::snprintf(tail, sizeof tail,
                  "</obs></infNFe></NFe><protNFe><infProt><dhRecbto>2021-02-%02dT10:%02d:00-03:00</dhRecbto>"
                  "</infProt></protNFe></nfeProc>",
                  1 + n % 28, n % 60);
    return text + tail;
}

std::string fileSha256(const fs::path& path) {
    const std::string bytes = slurp(path);
    return exports::s3::sha256Hex(bytes);
}

struct Measured {
    int status = -1;
    long peakMb = 0;
    std::string out;
};

// The program's run, reaped here for its peak resident memory.
Measured runMeasured(Workspace& w, int index, const std::vector<std::string>& args) {
    const pid_t pid = w.start(args);
    int status = 0;
    rusage usage{};
    Measured m;
    if (::wait4(pid, &status, 0, &usage) != pid) return m;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m.peakMb = usage.ru_maxrss / 1024;
    m.out = slurp(w.dir / ("stdout" + std::to_string(index) + ".txt")) +
            slurp(w.dir / ("stderr" + std::to_string(index) + ".txt"));
    return m;
}

class PackageProgramStore : public testing::Test {
protected:
    void SetUp() override { REQUIRE_CEPH_CLUSTER(); }
    ClusterKeys keys_;
};

}  // namespace

TEST_F(PackageProgramStore, A300MbMonthGoesWithFlatMemoryAndIsStoredOnce) {
    constexpr int count = 1200;
    constexpr size_t size = 256 * 1024;
    Workspace w(Mode::Embedded);
    std::vector<Doc> docs;
    for (int n = 1; n <= count; ++n) {
        Doc d;
        d.seq = n;
        d.moment = "2021-02-10 10:00:00";
        char key[48];
        std::snprintf(key, sizeof key, "352102%s55001%09d1123456780", "11222333000181", n);
        d.key = key;
        d.tipo = "NF";
        d.entsai = "S";
        d.xml = "x";
        docs.push_back(d);
    }
    w.createDatabase(docs);
    const auto who = fixture::defaultCredentials(w.dbName);
    for (int n = 1; n <= count; ++n) fixture::setText(client(), w.dbName, who, n, "NFE_XML", largeText(n, size));

    const std::string bucket = newBucket("pacote-grande", true);
    w.writeConfig("01/01/2010", "00:00:00", w.out.string());
    spit(w.ini,
         slurp(w.ini) + "Nuvem=" + testsupport::CephCluster::shared()->endpoint() + "/" + bucket +
             "/escritorio\r\nNuvemEmpresa=11222333000181\r\nNuvemRetencaoDias=1\r\nNuvemRetencaoModo=GOVERNANCE\r\n");
    const fs::path archive = w.out / "NFe-2021-02.zip";
    std::string firstSha;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const Measured m = runMeasured(w, run, {"/pacote", "2021-02"});
        ASSERT_EQ(m.status, 0) << m.out;
        std::printf("run %d: archive %.1f MB, peak resident memory %ld MB\n", run,
                    double(fs::file_size(archive)) / 1048576.0, m.peakMb);
        EXPECT_GE(fs::file_size(archive), 300u * 1000 * 1000);
        // the archive's size would show here if it were held whole
        EXPECT_LT(m.peakMb, 150) << m.out;
        EXPECT_NE(m.out.find(run == 1 ? "enviados=3 inalterados=0" : "enviados=0 inalterados=3"), std::string::npos)
            << m.out;
        const std::string sha = fileSha256(archive);
        if (run == 1) firstSha = sha;
        EXPECT_EQ(sha, firstSha);  // the same month, the same bytes
        const auto head = send(exports::s3::headObject(target(bucket),
                                                       "escritorio/11222333000181/pacotes/NFe-2021-02.zip"));
        EXPECT_EQ(head.header("x-amz-meta-sha256"), sha);
        EXPECT_EQ(head.header("x-amz-object-lock-mode"), "GOVERNANCE");
        EXPECT_EQ(versions(bucket, "escritorio/11222333000181/pacotes/NFe-2021-02.zip").size(), 1u);
    }
}
