#include "export/office/office.h"

#include "export/office/office_page.h"
#include "export/office/run_record.h"
#include "export/settings/settings.h"
#include "export/core/summary.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <ostream>

namespace exports {

namespace {

using Json = nlohmann::ordered_json;

std::tm localOf(Clock::time_point t) {
    const std::time_t secs = Clock::to_time_t(std::chrono::floor<std::chrono::seconds>(t));
    std::tm tm{};
    ::localtime_r(&secs, &tm);
    return tm;
}

std::tm utcOf(Clock::time_point t) {
    const std::time_t secs = Clock::to_time_t(std::chrono::floor<std::chrono::seconds>(t));
    std::tm tm{};
    ::gmtime_r(&secs, &tm);
    return tm;
}

// Days since 1970 of the local calendar date.
long localDay(Clock::time_point t) {
    const std::tm tm = localOf(t);
    const std::chrono::year_month_day d{std::chrono::year(tm.tm_year + 1900),
                                        std::chrono::month(unsigned(tm.tm_mon + 1)),
                                        std::chrono::day(unsigned(tm.tm_mday))};
    return long(std::chrono::sys_days(d).time_since_epoch().count());
}

std::string yearMonth(int year, int month) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d", year, month);
    return text;
}

std::string localMonth(Clock::time_point t) {
    const std::tm tm = localOf(t);
    return yearMonth(tm.tm_year + 1900, tm.tm_mon + 1);
}

bool completed(const std::string& result) { return result == "completo" || result == "recusados"; }
bool failed(const std::string& result) { return result == "falhou" || result == "interrompido"; }

void keepNewest(std::optional<StoredRun>& slot, const StoredRun& run) {
    if (!slot || run.ended > slot->ended || (run.ended == slot->ended && run.key > slot->key)) slot = run;
}

std::string shownTime(Clock::time_point t) {
    const std::tm tm = localOf(t);
    char buf[40];
    std::strftime(buf, sizeof buf, "%d/%m/%Y %H:%M:%S", &tm);
    return buf;
}

// The end a plain record's key names ("…/20261211T071103.123Z-host.json").
std::optional<Clock::time_point> keyStamp(const std::string& key) {
    const auto slash = key.rfind('/');
    return parseSortableUtc(std::string_view(key).substr(slash == std::string::npos ? 0 : slash + 1).substr(0, 20));
}

// A run as its record's name tells it, before (or without) reading the record.
StoredRun runOfName(const std::string& key, const RunRecordName& name) {
    StoredRun r;
    r.key = key;
    r.fromName = true;
    r.ended = name.ended;
    r.kind = name.kind;
    r.result = name.result;
    r.sent = name.sent;
    r.host = name.host;
    if (!name.packageMonth.empty()) r.package = "NFe-" + name.packageMonth + ".zip";
    return r;
}

// A record must say what its name says: else someone wrote one of them by hand.
bool sameRun(const StoredRun& read, const StoredRun& named) {
    using std::chrono::floor;
    using std::chrono::seconds;
    return read.kind == named.kind && read.result == named.result && read.sent == named.sent &&
           floor<seconds>(read.ended) == floor<seconds>(named.ended) &&
           (named.package.empty() || read.package == named.package);
}

// Where every request of the report goes, and the bookkeeping of one company.
struct Scan {
    s3::Client& client;
    s3::Target target;
    Clock::time_point now{};
    long today = 0;
    std::string month{}, previousMonth{};
    Clock::time_point from{};  // the oldest end the report needs
    long long requests = 0;

    void send(s3::Request r, s3::Client::Done done) {
        ++requests;
        client.start(std::move(r), std::move(done));
    }
    s3::Response sendNow(s3::Request r) {
        ++requests;
        return client.send(std::move(r));
    }

    void add(CompanyReport& c, const StoredRun& run) {
        keepNewest(c.last, run);
        if (completed(run.result)) keepNewest(c.lastCompleted, run);
        if (failed(run.result)) keepNewest(c.lastFailed, run);
        if (run.kind == kRunPackage) keepNewest(c.lastPackage, run);
        // A package run that completed with the store stored its archive there.
        if (run.kind == kRunPackage && completed(run.result) && run.package == "NFe-" + previousMonth + ".zip")
            c.lastMonthPackage = true;
        // The package's files are not documents: they are counted by the runs that sent the documents.
        if (run.kind == kRunPackage) return;
        const std::string m = localMonth(run.ended);
        if (m == month) c.thisMonth += run.sent;
        else if (m == previousMonth) c.lastMonth += run.sent;
        const long age = today - localDay(run.ended);
        if (age >= 0 && age < kOfficeChartDays) c.perDay[size_t(kOfficeChartDays - 1 - age)] += run.sent;
    }

    void read(CompanyReport& c, const s3::ListedObject& object) {
        if (object.size > kRunRecordCap) {
            c.unreadable.push_back(object.key);
            return;
        }
        s3::Request get = s3::getObject(target, object.key);
        // The listing's size may be stale: never more than the cap comes in.
        get.headers.push_back("Range: bytes=0-" + std::to_string(kRunRecordCap));
        send(std::move(get), [this, &c](s3::Request&& r, s3::Response&& answer) {
            if (answer.status == 404) return;  // gone since the listing
            if (!answer.ok()) {
                if (c.problem.empty()) c.problem = "leitura de \"" + r.key + "\": " + answer.describe();
                return;
            }
            std::optional<StoredRun> run;
            if (answer.body.size() <= size_t(kRunRecordCap)) run = parseStoredRun(answer.body);
            if (!run) {
                c.unreadable.push_back(r.key);
                return;
            }
            run->key = r.key;
            add(c, *run);
        });
    }

    // Every record of a company after `startAfter` (in its month folders,
    // which sort as time does), page after page: one listing for the window.
    void listRecords(CompanyReport& c, const std::string& prefix, const std::string& startAfter,
                     const std::string& token = "") {
        s3::Request list = s3::listObjects(target, prefix, "", token);
        // Its name sorts after "prefix", as the signature wants the query sorted.
        list.url += "&start-after=" + s3::uriEncode(startAfter, false);
        send(std::move(list), [this, &c, prefix, startAfter](s3::Request&&, s3::Response&& answer) {
            if (!answer.ok()) {
                if (c.problem.empty()) c.problem = "listagem de \"" + prefix + "\": " + answer.describe();
                return;
            }
            s3::ListPage page = s3::parseListPage(answer.body);
            for (const auto& object : page.objects) {
                // A name that tells the run is counted as it stands; the few
                // records the report shows are read after the listings.
                if (const auto name = parseRunRecordName(object.key)) {
                    if (name->ended < from) continue;
                    if (object.size > kRunRecordCap) c.unreadable.push_back(object.key);
                    else add(c, runOfName(object.key, *name));
                    continue;
                }
                // A plain name tells only its end: a record before the window is not
                // read (a company with none inside has its newest one looked up after).
                const auto ended = keyStamp(object.key);
                if (ended && *ended < from) continue;
                read(c, object);
            }
            if (page.truncated && !page.nextToken.empty()) listRecords(c, prefix, startAfter, page.nextToken);
        });
    }

    // All the names one level below `prefix` (common prefixes), in order.
    std::vector<std::string> folders(const std::string& prefix, std::string& problem) {
        std::vector<std::string> out;
        std::string token;
        do {
            const s3::Response r = sendNow(s3::listObjects(target, prefix, "/", token));
            if (!r.ok()) {
                problem = "listagem de \"" + prefix + "\": " + r.describe();
                return out;
            }
            s3::ListPage page = s3::parseListPage(r.body);
            for (auto& p : page.prefixes) out.push_back(std::move(p));
            token = page.truncated ? page.nextToken : std::string();
        } while (!token.empty());
        return out;
    }

    // A company with no record in the months looked at: its newest one,
    // wherever it is. False when it has none (then it is no company).
    bool findNewest(CompanyReport& c) {
        std::string problem;
        std::vector<std::string> years = folders(c.prefix + kRunRecordFolder, problem);
        if (!problem.empty()) {
            c.problem = problem;
            return true;
        }
        for (auto y = years.rbegin(); y != years.rend(); ++y) {
            std::vector<std::string> months = folders(*y, problem);
            for (auto m = months.rbegin(); m != months.rend(); ++m) {
                std::string token, newest;
                std::optional<s3::ListedObject> last;
                do {
                    const s3::Response r = sendNow(s3::listObjects(target, *m, "", token));
                    if (!r.ok()) break;
                    s3::ListPage page = s3::parseListPage(r.body);
                    if (!page.objects.empty()) last = page.objects.back();
                    token = page.truncated ? page.nextToken : std::string();
                } while (!token.empty());
                if (last) {
                    read(c, *last);
                    return true;
                }
            }
        }
        return false;
    }

    // The records whose runs the report shows, where only their names were read.
    void readShown(CompanyReport& c) {
        std::vector<std::string> keys;
        for (const auto* slot : {&c.last, &c.lastCompleted, &c.lastFailed, &c.lastPackage})
            if (*slot && (*slot)->fromName && std::find(keys.begin(), keys.end(), (*slot)->key) == keys.end())
                keys.push_back((*slot)->key);
        for (const auto& key : keys) {
            s3::Request get = s3::getObject(target, key);
            get.headers.push_back("Range: bytes=0-" + std::to_string(kRunRecordCap));
            send(std::move(get), [&c](s3::Request&& r, s3::Response&& answer) {
                // Gone since the listing: its name still counted, as a listing just before would have.
                if (answer.status == 404) return;
                if (!answer.ok()) {
                    if (c.problem.empty()) c.problem = "leitura de \"" + r.key + "\": " + answer.describe();
                    return;
                }
                std::optional<StoredRun> run;
                if (answer.body.size() <= size_t(kRunRecordCap)) run = parseStoredRun(answer.body);
                const StoredRun* named = nullptr;
                for (const auto* slot : {&c.last, &c.lastCompleted, &c.lastFailed, &c.lastPackage})
                    if (*slot && (*slot)->key == r.key) named = &**slot;
                if (!named) return;
                // What does not read, or does not say what its name says, stays
                // shown by its name and is named unreadable.
                if (!run || !sameRun(*run, *named)) {
                    c.unreadable.push_back(r.key);
                    return;
                }
                run->key = r.key;
                for (auto* slot : {&c.last, &c.lastCompleted, &c.lastFailed, &c.lastPackage})
                    if (*slot && (*slot)->key == r.key) *slot = *run;
            });
        }
    }
};

// "AAAA/MM/<fim>": where the records that ended after `t` start in a company's folder.
std::string recordsAfter(Clock::time_point t) {
    const std::tm tm = utcOf(t);
    char month[32];
    std::snprintf(month, sizeof month, "%04d/%02d/", tm.tm_year + 1900, tm.tm_mon + 1);
    return month + sortableUtc(t);
}

Clock::time_point startOfLocalMonthBefore(Clock::time_point now) {
    std::tm tm = localOf(now);
    tm.tm_mday = 1;
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return Clock::from_time_t(std::mktime(&tm));
}

std::string lastPart(const std::string& prefix, const std::string& root) {
    std::string name = prefix.substr(std::min(root.size(), prefix.size()));
    if (!name.empty() && name.back() == '/') name.pop_back();
    return name;
}

Json runJson(const std::optional<StoredRun>& run) {
    if (!run) return nullptr;
    Json j;
    j["chave"] = run->key;
    j["tipo"] = run->kind;
    j["fim"] = isoTime(run->ended);
    j["resultado"] = run->result;
    j["erro"] = run->error;
    j["maquina"] = run->host;
    j["versao"] = run->version;
    j["selecionados"] = run->selected;
    j["gravados"] = run->written;
    j["enviados"] = run->sent;
    j["inalterados_nuvem"] = run->unchangedInStore;
    return j;
}

}  // namespace

const char* stateName(CompanyState state) {
    switch (state) {
    case CompanyState::Ok: return "ok";
    case CompanyState::Failed: return "falhou";
    case CompanyState::Silent: return "silenciosa";
    case CompanyState::Unreadable: return "ilegível";
    case CompanyState::Incomplete: return "incompleta";
    }
    return "ilegível";
}

std::optional<StoredRun> parseStoredRun(std::string_view text) {
    if (text.size() > size_t(kRunRecordCap)) return std::nullopt;
    // A record is one line: the history's reader takes the first fields.
    const std::optional<RunRecord> record = parseRecordLine(text);
    if (!record || record->unfinished) return std::nullopt;
    const Json j = Json::parse(text, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    try {
        StoredRun r;
        r.ended = record->ended;
        // The history's end is to the second; the record's own, to the millisecond,
        // orders a failure right after a completion.
        if (const auto utc = j.find("fim_utc"); utc != j.end() && utc->is_string()) {
            const std::string text = utc->get<std::string>();
            if (const auto t = parseIsoTime(text)) {
                r.ended = *t;
                const auto dot = text.find('.');
                if (dot != std::string::npos && text.size() >= dot + 4 &&
                    text.compare(dot + 4, std::string::npos, "Z") == 0 && std::isdigit((unsigned char)text[dot + 1]) &&
                    std::isdigit((unsigned char)text[dot + 2]) && std::isdigit((unsigned char)text[dot + 3]))
                    r.ended += std::chrono::milliseconds(std::stoi(text.substr(dot + 1, 3)));
            }
        }
        r.kind = record->kind;
        r.result = resultName(record->result);
        r.error = record->error;
        r.selected = record->selected;
        r.written = record->written;
        auto number = [&](const char* name) {
            const auto it = j.find(name);
            if (it == j.end()) return 0LL;
            const long long v = it->get<long long>();
            if (v < 0) throw std::invalid_argument(name);
            return v;
        };
        auto string = [&](const char* name) {
            const auto it = j.find(name);
            return it == j.end() ? std::string() : it->get<std::string>();
        };
        r.host = string("maquina");
        r.version = string("versao");
        r.sent = number("enviados");
        r.unchangedInStore = number("inalterados_nuvem");
        r.checked = number("verificados");
        r.badKeys = number("falhas_chave");
        r.badXml = number("falhas_xml");
        r.badSignatures = number("falhas_assinatura");
        r.package = string("pacote");
        r.gapRanges = number("lacunas");
        r.missingNumbers = number("numeros_faltando");
        return r;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

OfficeReport buildOfficeReport(const StoreSettings& store, const AwsKeys& keys, Clock::time_point now,
                               const OfficeOptions& options) {
    OfficeReport report;
    report.place = store.place();
    report.now = now;
    report.hours = options.hours;
    report.month = localMonth(now);
    const Clock::time_point monthBefore = startOfLocalMonthBefore(now);
    report.previousMonth = localMonth(monthBefore);

    s3::Client client(keys, store.region, options.policy, options.inFlight);
    Scan scan{client, {store.endpoint, store.bucket, store.region}, now, 0, {}, {}, {}, 0};
    scan.today = localDay(now);
    scan.month = report.month;
    scan.previousMonth = report.previousMonth;

    const std::string& root = store.prefix;
    std::vector<std::string> candidates = scan.folders(root, report.error);
    if (!report.error.empty()) {
        report.requests = scan.requests;
        return report;
    }
    // Every record the counts and the chart need: last month, this month and
    // the chart's days, with a day's margin for clocks and zones.
    const Clock::time_point from = std::min(monthBefore, now - std::chrono::hours(24 * kOfficeChartDays)) -
                                   std::chrono::hours(24);
    scan.from = from;

    std::vector<CompanyReport> all(candidates.size());
    for (size_t i = 0; i < candidates.size(); ++i) {
        all[i].prefix = candidates[i];
        all[i].name = lastPart(candidates[i], root);
        // Bounded memory: the queue holds at most a few pages' reads.
        while (client.pending() >= size_t(options.inFlight) * 4) client.poll(std::chrono::milliseconds(100));
        const std::string folder = candidates[i] + kRunRecordFolder;
        scan.listRecords(all[i], folder, folder + recordsAfter(from));
    }
    client.wait();
    std::vector<bool> company(all.size(), true);
    for (size_t i = 0; i < all.size(); ++i)
        if (!all[i].last && all[i].unreadable.empty() && all[i].problem.empty()) company[i] = scan.findNewest(all[i]);
    client.wait();
    for (size_t i = 0; i < all.size(); ++i) {
        if (!company[i]) continue;
        scan.readShown(all[i]);
        // A package run of last month that completed stored it already.
        if (all[i].lastMonthPackage) continue;
        scan.send(s3::headObject(scan.target, all[i].prefix + "pacotes/NFe-" + report.previousMonth + ".zip"),
                  [&c = all[i]](s3::Request&& r, s3::Response&& answer) {
                      if (answer.ok()) c.lastMonthPackage = true;
                      else if (answer.status != 404 && c.problem.empty())
                          c.problem = "consulta de \"" + r.key + "\": " + answer.describe();
                  });
    }
    client.wait();

    const auto limit =
        now -
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::ratio<3600>>(options.hours));
    for (size_t i = 0; i < all.size(); ++i) {
        if (!company[i]) continue;
        CompanyReport& c = all[i];
        std::sort(c.unreadable.begin(), c.unreadable.end());
        if (c.lastFailed && (!c.lastCompleted || c.lastFailed->ended > c.lastCompleted->ended))
            c.state = CompanyState::Failed;
        else if (!c.lastCompleted || c.lastCompleted->ended < limit) c.state = CompanyState::Silent;
        else if (!c.unreadable.empty() || !c.problem.empty()) c.state = CompanyState::Unreadable;
        else if (!c.lastMonthPackage) c.state = CompanyState::Incomplete;
        else c.state = CompanyState::Ok;
        report.companies.push_back(std::move(c));
    }
    report.requests = scan.requests;
    return report;
}

int officeStatus(const OfficeReport& report) {
    if (!report.error.empty()) return kOfficeAttention;
    if (report.companies.empty()) return kOfficeNoCompany;
    for (const auto& c : report.companies)
        if (c.state != CompanyState::Ok) return kOfficeAttention;
    return kOfficeOk;
}

std::string officeText(const OfficeReport& report) {
    std::string out;
    for (const auto& c : report.companies) {
        std::string line = messageText(c.name) + ": " + stateName(c.state);
        if (c.last) {
            const StoredRun& r = *c.last;
            line += "; última execução: " + messageText(r.kind) + " " + shownTime(r.ended) + " " +
                    messageText(r.result) + " (selecionados=" + std::to_string(r.selected) +
                    " gravados=" + std::to_string(r.written) + " enviados=" + std::to_string(r.sent) +
                    " inalterados=" + std::to_string(r.unchangedInStore) + ")";
            if (!r.error.empty()) line += " erro: " + messageText(r.error);
        } else {
            line += "; nenhuma execução legível";
        }
        line += "; documentos " + report.month + ": " + std::to_string(c.thisMonth) + ", " + report.previousMonth +
                ": " + std::to_string(c.lastMonth);
        if (c.lastPackage) {
            const StoredRun& p = *c.lastPackage;
            line += "; último pacote: " + (p.package.empty() ? std::string("(sem arquivo)") : messageText(p.package)) +
                    " " + messageText(p.result) + " falhas chave=" + std::to_string(p.badKeys) +
                    " xml=" + std::to_string(p.badXml) + " assinatura=" + std::to_string(p.badSignatures) +
                    " lacunas=" + std::to_string(p.gapRanges) + " faltando=" + std::to_string(p.missingNumbers);
        }
        line += "; pacote de " + report.previousMonth + (c.lastMonthPackage ? ": presente" : ": ausente");
        if (!c.unreadable.empty())
            line += "; registros ilegíveis: " + std::to_string(c.unreadable.size()) + " (" +
                    messageText(c.unreadable.front()) + (c.unreadable.size() > 1 ? ", …" : "") + ")";
        if (!c.problem.empty()) line += "; " + messageText(c.problem);
        out += line + '\n';
    }
    std::string attention;
    for (const auto& c : report.companies) {
        if (c.state == CompanyState::Ok) continue;
        if (!attention.empty()) attention += "; ";
        attention += messageText(c.name) + " " +
                     (c.state == CompanyState::Incomplete ? "sem o pacote de " + report.previousMonth
                                                          : std::string(stateName(c.state)));
        if (c.state != CompanyState::Incomplete && !c.lastMonthPackage)
            attention += ", sem o pacote de " + report.previousMonth;
    }
    if (!attention.empty()) out += "Atenção: " + attention + '\n';
    return out;
}

std::string officeJson(const OfficeReport& report) {
    Json j;
    j["local"] = report.place;
    j["agora"] = isoTime(report.now);
    j["horas"] = report.hours;
    j["mes"] = report.month;
    j["mes_anterior"] = report.previousMonth;
    j["status"] = officeStatus(report);
    if (!report.error.empty()) j["erro"] = report.error;
    Json companies = Json::array();
    for (const auto& c : report.companies) {
        Json e;
        e["nome"] = c.name;
        e["prefixo"] = c.prefix;
        e["estado"] = stateName(c.state);
        e["ultima"] = runJson(c.last);
        e["ultima_completa"] = runJson(c.lastCompleted);
        e["ultima_falha"] = runJson(c.lastFailed);
        e["documentos_mes"] = c.thisMonth;
        e["documentos_mes_anterior"] = c.lastMonth;
        e["documentos_por_dia"] = c.perDay;
        Json package;
        package["mes"] = report.previousMonth;
        package["presente"] = c.lastMonthPackage;
        if (c.lastPackage) {
            package["ultimo"] = runJson(c.lastPackage);
            package["arquivo"] = c.lastPackage->package;
            package["falhas_chave"] = c.lastPackage->badKeys;
            package["falhas_xml"] = c.lastPackage->badXml;
            package["falhas_assinatura"] = c.lastPackage->badSignatures;
            package["lacunas"] = c.lastPackage->gapRanges;
            package["numeros_faltando"] = c.lastPackage->missingNumbers;
        }
        e["pacote"] = std::move(package);
        e["ilegiveis"] = c.unreadable;
        e["problema"] = c.problem;
        companies.push_back(std::move(e));
    }
    j["empresas"] = std::move(companies);
    // Store texts are bytes: whatever is not UTF-8 becomes a replacement mark.
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + '\n';
}

std::optional<double> parseOfficeHours(std::string_view text) {
    if (text.empty() || text.size() > 12) return std::nullopt;
    double whole = 0, scale = 0;
    bool digits = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digits = true;
            if (scale == 0) whole = whole * 10 + (c - '0');
            else {
                whole += (c - '0') * scale;
                scale /= 10;
            }
        } else if ((c == '.' || c == ',') && scale == 0) {
            scale = 0.1;
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    return whole;
}

int officeCommand(const std::string& settingsFile, const std::vector<std::string>& arguments, std::ostream& out,
                  std::ostream& err, Clock::time_point now) {
    const char* usage = "Uso: exportar-xml /escritorio [HORAS] [--json] [--html ARQUIVO]";
    OfficeOptions options;
    bool json = false, hoursSeen = false;
    std::string html;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--json") json = true;
        else if (a == "--html" && i + 1 < arguments.size() && !arguments[i + 1].empty()) html = arguments[++i];
        else if (auto hours = parseOfficeHours(a); hours && !hoursSeen) {
            options.hours = *hours;
            hoursSeen = true;
        } else {
            err << "Argumento inválido: \"" << messageText(a) << "\" (HORAS é um número decimal, como 26 ou 0.05)\n"
                << usage << '\n';
            return kOfficeUsage;
        }
    }
    std::optional<StoreSettings> store;
    AwsKeys keys;
    try {
        store = storeSettingsIn(readSettings(settingsFile).section);
        if (!store) {
            err << "Nuvem não configurada em " << messageText(settingsFile) << ": /escritorio lê o bucket nela\n";
            return kOfficeUsage;
        }
        if (!store->refusal.empty()) {
            err << messageText(store->refusal) << '\n';
            return kOfficeUsage;
        }
        keys = loadAwsKeys(store->profile);
        options.policy.caFile = store->caFile;
    } catch (const std::exception& e) {
        err << messageText(e.what()) << '\n';
        return kOfficeUsage;
    }
    const OfficeReport report = buildOfficeReport(*store, keys, now, options);
    if (!report.error.empty()) {
        err << "Nuvem: " << messageText(report.error) << '\n';
        return kOfficeAttention;
    }
    if (report.companies.empty()) {
        err << "Nenhuma empresa com registros de execução em " << messageText(report.place) << '\n';
        return kOfficeNoCompany;
    }
    out << (json ? officeJson(report) : officeText(report));
    if (!html.empty()) {
        std::ofstream file(html, std::ios::binary | std::ios::trunc);
        file << officePage(report);
        file.close();
        if (!file) {
            err << "Página não gravada: " << messageText(html) << '\n';
            return kOfficeAttention;
        }
    }
    return officeStatus(report);
}

}  // namespace exports
