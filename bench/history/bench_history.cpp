// The cost of the run history at its cap: appending one run to a file of
// 1,000 (which reads the file and replaces it), reading the last run, and
// reading all of them, as the tray and the "Histórico" window do.

#include "export/history/history.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

exports::RunRecord sample(long long n, std::size_t refused) {
    exports::RunRecord r;
    r.started = exports::Clock::now();
    r.ended = r.started + std::chrono::seconds(2);
    r.kind = exports::kRunUnattended;
    r.result = refused ? exports::Result::Refused : exports::Result::Complete;
    r.examined = 20000 + n;
    r.selected = r.written = 120;
    r.stampBefore = "01/03/2024 10:00:00";
    r.stampAfter = "01/03/2024 11:00:02";
    r.refused = long(refused);
    for (std::size_t i = 0; i < refused; ++i)
        r.refusedDocuments.push_back({static_cast<long long>(i), std::string(44, '3'), "Chave de acesso com \"/\""});
    return r;
}

template <class F>
double millis(int times, F f) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < times; ++i) f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / times;
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/bench-history-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string path = std::string(tmpl) + "/ConfigQuillan.log.jsonl";
    for (std::size_t refused : {std::size_t(0), exports::kRefusedKept}) {
        std::filesystem::remove(path);
        for (int i = 0; i < int(exports::kHistoryKeep); ++i) exports::appendRun(path, sample(i, refused));
        const double append = millis(50, [&] { exports::appendRun(path, sample(0, refused)); });
        const double last = millis(50, [&] { exports::lastRun(path); });
        const double all = millis(10, [&] { exports::readRuns(path); });
        std::printf(
            "runs with %3zu refused documents: file %7.1f KiB, append at the cap %6.2f ms, "
            "last run %6.2f ms, all 1,000 runs %7.2f ms\n",
            refused, std::filesystem::file_size(path) / 1024.0, append, last, all);
    }
    std::filesystem::remove_all(tmpl);
    return 0;
}
