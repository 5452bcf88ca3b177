#include "export/package_run.h"

#include "export/lock.h"
#include "export/package.h"
#include "export/run.h"
#include "export/source.h"
#include "export/writer.h"

#include <chrono>
#include <sys/stat.h>

namespace exports {

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace

bool isYearMonth(std::string_view text)
{
    if (text.size() != 7 || text[4] != '-')
        return false;
    for (size_t i : {0, 1, 2, 3, 5, 6})
        if (text[i] < '0' || text[i] > '9')
            return false;
    const int month = (text[5] - '0') * 10 + (text[6] - '0');
    return month >= 1 && month <= 12;
}

std::string previousMonth(std::time_t now)
{
    std::tm local{};
    ::localtime_r(&now, &local);
    int year = local.tm_year + 1900, month = local.tm_mon;  // tm_mon is 0-based: this is last month
    if (month == 0) {
        month = 12;
        --year;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d", year, month);
    return text;
}

RunSummary runPackage(const PackageJob& job, Observer& observer)
{
    const auto started = Clock::now();
    RunSummary s;
    std::optional<long long> current;
    try {
        if (!isYearMonth(job.yearMonth))
            throw std::runtime_error("Mês inválido \"" + printable(job.yearMonth) + "\" (use AAAA-MM, por exemplo 2024-03)");
        // The output folder is the setting's bytes; FOLDER comes from the command line as it is.
        const std::string folder = job.folder.empty()
                                       ? fileSystemName(resolveOutputFolder(job.outputFolder, job.settingsFile))
                                       : job.folder;
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            throw std::runtime_error("Pasta do pacote inexistente: " + printable(folder));

        const std::optional<ExportLock> lock = lockForRun(job, observer, s);
        if (!lock) {
            s.seconds = since(started);
            return s;
        }

        removeLeftoverPackages(folder, job.yearMonth);

        Source source(job);
        observer.connected();
        // the key holds the year's last two digits and the month
        const std::string keyMonth = job.yearMonth.substr(2, 2) + job.yearMonth.substr(5, 2);
        if (observer.wantsTotal())
            observer.total(source.countMonth(keyMonth));
        source.openMonth(keyMonth);

        PackageWriter writer(folder, job.yearMonth);
        MonthDocument d;
        for (long done = 0;; ++done) {
            if (observer.stopRequested()) {
                s.result = Result::Interrupted;
                s.seconds = since(started);
                return s;  // the writer leaves nothing behind
            }
            if (!source.nextMonth(d))
                break;
            observer.document(done, d.number);
            ++s.examined;
            ++s.selected;
            current = d.number;
            if (const std::string why = unusableName(d.key, "Emitidas/CanNFe" + d.key + ".XML"); !why.empty()) {
                s.refuse(d.number, d.key, why);
                continue;
            }
            bool cancellation = false;
            std::string text = source.monthText(cancellation);
            writer.add({d.key, d.documentType, d.issueDate, cancellation, std::move(text)});
            current.reset();
        }
        const PackageResult result = writer.commit();
        s.written = result.documents;
        s.checks = result.checks;
        s.package = result.path;
        s.gapRanges = result.gapRanges;
        s.missingNumbers = result.missingNumbers;
        s.result = s.refused ? Result::Refused : Result::Complete;
    } catch (const std::exception& e) {
        s.result = Result::Failed;
        s.error = e.what();
        s.errorDocument = current;
    }
    s.seconds = since(started);
    return s;
}

}  // namespace exports
