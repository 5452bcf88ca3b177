// Uploads N documents of 8 KB (default 20,000) from a folder into a local
// radosgw with the export's object store destination, then `rclone copy` of
// the same folder into the same bucket under another prefix, then both again
// (nothing to send the second time). Prints seconds, documents per second and
// the resident memory after the first 10% of the documents and at the end.
//   bench-store [documents]
#include "export/destinations/object_store/object_store.h"
#include "export/core/summary.h"
#include "tests/support/ceph_cluster.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using namespace exports;

namespace {

long rssKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Upload {
    double seconds = 0;
    long written = 0, unchanged = 0;
    long rssEarly = 0, rssEnd = 0;
};

Upload upload(const StoreSettings& s, const AwsKeys& keys, const std::vector<fs::path>& files, const fs::path& root) {
    Upload u;
    const auto start = std::chrono::steady_clock::now();
    ObjectStoreDestination d(s, keys);
    d.prepare();
    size_t n = 0;
    for (const auto& f : files) {
        OutgoingDocument doc;
        const std::string rel = fs::relative(f, root).string();
        const auto slash = rel.rfind('/');
        doc.folder = slash == std::string::npos ? "" : rel.substr(0, slash + 1);
        doc.fileName = rel.substr(doc.folder.size());
        doc.text = slurp(f);
        doc.text.resize(doc.text.size() - 2);  // the destination adds the file's CR LF back
        d.put(doc);
        if (++n == files.size() / 10) u.rssEarly = rssKb();
    }
    RunSummary sum;
    d.finish(sum);
    u.rssEnd = rssKb();
    u.seconds = seconds(start);
    u.written = d.written();
    u.unchanged = d.unchanged();
    return u;
}

double rclone(const testsupport::CephCluster& c, const fs::path& folder, const std::string& dest) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A CA bundle in the environment makes rclone refuse its own transport.
        ::unsetenv("AWS_CA_BUNDLE");
        ::setenv("RCLONE_CONFIG_BENCH_TYPE", "s3", 1);
        ::setenv("RCLONE_CONFIG_BENCH_PROVIDER", "Ceph", 1);
        ::setenv("RCLONE_CONFIG_BENCH_ACCESS_KEY_ID", c.accessKey().c_str(), 1);
        ::setenv("RCLONE_CONFIG_BENCH_SECRET_ACCESS_KEY", c.secretKey().c_str(), 1);
        ::setenv("RCLONE_CONFIG_BENCH_ENDPOINT", c.endpoint().c_str(), 1);
        ::execlp("rclone", "rclone", "--config", "/dev/null", "copy", folder.c_str(), ("bench:" + dest).c_str(),
                 static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::cerr << "rclone failed: " << status << "\n";
    return seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const long count = argc > 1 ? std::atol(argv[1]) : 20000;
    auto* cluster = testsupport::CephCluster::shared();
    if (!cluster) {
        std::cerr << "no Ceph cluster: " << testsupport::CephCluster::whyNot() << "\n";
        return 1;
    }
    const fs::path root = fs::path(cluster->folder()) / "documents";
    std::vector<fs::path> files;
    std::minstd_rand rng(7);
    for (long i = 0; i < count; ++i) {
        // A few organised folders, as Organizar makes them.
        const fs::path dir = root / "11222333000181" / ("2021-" + std::to_string(1 + i % 12));
        if (i < 12) fs::create_directories(dir);
        std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc><NFe>";
        while (text.size() < 8192 - 30) text += "<det>" + std::to_string(rng()) + "</det>";
        text += "</NFe></nfeProc>\r\n";
        const fs::path f = dir / ("NFe" + std::to_string(35210000000000LL + i) + ".XML");
        std::ofstream(f, std::ios::binary) << text;
        files.push_back(f);
    }
    const std::string bucket = "bench";
    {
        s3::Client client({cluster->accessKey(), cluster->secretKey()}, "us-east-1");
        const auto r = client.send(s3::createBucket({cluster->endpoint(), bucket, "us-east-1"}, false));
        if (!r.ok()) {
            std::cerr << "bucket: " << r.describe() << "\n";
            return 1;
        }
    }
    StoreSettings s;
    s.endpoint = cluster->endpoint();
    s.bucket = bucket;
    s.prefix = "export/";
    s.company = "11222333000181";  // every key carries its company
    const AwsKeys keys{cluster->accessKey(), cluster->secretKey()};

    std::printf("documents=%ld size=8KB (radosgw on memstore, one node)\n", count);
    const Upload first = upload(s, keys, files, root);
    std::printf("export upload     : %7.2fs  %7.0f docs/s  written=%ld  rss after %ld=%ld KB, after %ld=%ld KB\n",
                first.seconds, count / first.seconds, first.written, count / 10, first.rssEarly, count, first.rssEnd);
    const double rc1 = rclone(*cluster, root, bucket + "/rclone");
    std::printf("rclone copy       : %7.2fs  %7.0f docs/s\n", rc1, count / rc1);
    std::printf("ratio export/rclone: %.2f\n", first.seconds / rc1);
    const Upload again = upload(s, keys, files, root);
    std::printf("export again      : %7.2fs  unchanged=%ld written=%ld\n", again.seconds, again.unchanged,
                again.written);
    const double rc2 = rclone(*cluster, root, bucket + "/rclone");
    std::printf("rclone copy again : %7.2fs\n", rc2);
    return 0;
}
