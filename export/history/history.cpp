#include "export/history/history.h"

#include "export/core/rules.h"
#include "platform/codepage.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cctype>
#include <cstring>
#include <dirent.h>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace exports {

namespace {

using Json = nlohmann::ordered_json;

constexpr Result kResults[] = {Result::Complete, Result::Failed, Result::Interrupted, Result::Busy, Result::Refused};

std::string errnoText(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

// Opens the history without following a link and without waiting on a FIFO;
// anything but a regular file is refused.
int openHistory(const std::string& path, int flags, std::string* error) {
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == ENOENT && !(flags & O_CREAT)) return -1;
        if (error) {
            if (errno == ELOOP) *error = "O histórico \"" + path + "\" é um link: nada foi gravado através dele";
            else if (errno == EISDIR) *error = "O histórico \"" + path + "\" não é um arquivo comum";
            else *error = errnoText("Não foi possível abrir o histórico", path);
        }
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error) *error = "O histórico \"" + path + "\" não é um arquivo comum";
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// A run's identity across its two lines.
std::string runKey(const RunRecord& r) {
    return std::to_string(r.started.time_since_epoch().count()) + "/" + std::to_string(r.pid) + "/" + r.kind;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

// The lock is only held for an append and a trim (milliseconds). A holder
// that hangs must not stop a run from being recorded: after a while the
// line is appended unlocked (still one write) and the trim skipped.
bool lockWithin(int fd, std::chrono::milliseconds patience) {
    const auto until = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// A trim killed between making its temporary and renaming it left the
// temporary beside the file; under the lock no other trim is writing one.
void removeLeftoverTrims(const std::string& path) {
    const std::string folder = folderOf(path);
    const std::string prefix = path.substr(folder.size()) + ".";
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        // mkstemp's six letters and digits after the file's own name
        if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) continue;
        const auto isAlnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
        if (!std::all_of(name.begin() + prefix.size(), name.end(), isAlnum)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(dir), e->d_name, 0);
    }
    ::closedir(dir);
}

// Keeps the newest `keep` lines by replacing the file. Runs under the lock,
// so no append lands in the old file after it was read.
void trimTo(int fd, const std::string& path, std::size_t keep) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    // Only the newest part of a damaged, huge file is worth keeping.
    const off_t from = st.st_size > off_t(kHistoryReadLimit) ? st.st_size - off_t(kHistoryReadLimit) : 0;
    std::string content(std::size_t(st.st_size - from), '\0');
    std::size_t got = 0;
    while (got < content.size()) {
        const ssize_t n = ::pread(fd, content.data() + got, content.size() - got, from + off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        got += std::size_t(n);
    }
    std::vector<std::string_view> lines;
    std::size_t begin = 0;
    if (from > 0) {
        const std::size_t nl = content.find('\n');
        begin = nl == std::string::npos ? content.size() : nl + 1;
    }
    while (begin < content.size()) {
        std::size_t nl = content.find('\n', begin);
        if (nl == std::string::npos) nl = content.size() - 1;
        lines.push_back(std::string_view(content).substr(begin, nl + 1 - begin));
        begin = nl + 1;
    }
    if (from == 0 && lines.size() <= keep) return;
    // A run's first line goes once its end is there.
    std::set<std::string> ended;
    std::vector<bool> drop(lines.size(), false);
    std::size_t dropped = 0;
    for (std::size_t i = lines.size(); i-- > 0;) {
        const auto r = parseRecordLine(lines[i]);
        if (!r) continue;
        if (!r->unfinished) ended.insert(runKey(*r));
        else if (ended.count(runKey(*r))) drop[i] = true, ++dropped;
    }
    std::string kept;
    std::size_t left = lines.size() - dropped;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (drop[i]) continue;
        if (left > keep) {
            --left;
            continue;
        }
        kept.append(lines[i]);
    }
    if (from == 0 && kept.size() == content.size()) return;

    removeLeftoverTrims(path);
    std::string temp = path + ".XXXXXX";
    const int out = ::mkstemp(temp.data());
    if (out < 0) return;
    bool ok = ::fchmod(out, st.st_mode & 07777) == 0;
    // The scheduler may run as another user than the desktop; a file taken
    // over by a user who cannot give it back is left long instead.
    if (ok && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) ok = ::fchown(out, st.st_uid, st.st_gid) == 0;
    ok = ok && writeAll(out, kept) && ::fsync(out) == 0;
    ok = ::close(out) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) ::unlink(temp.c_str());
}

Json::string_t text(const std::string& s) { return platform::textToUtf8(s); }

}  // namespace

const char* resultName(Result result) {
    switch (result) {
    case Result::Complete: return "completo";
    case Result::Failed: return "falhou";
    case Result::Interrupted: return "interrompido";
    case Result::Busy: return "ocupado";
    case Result::Refused: return "recusados";
    }
    return "falhou";
}

std::optional<Result> resultFromName(std::string_view name) {
    for (Result r : kResults)
        if (name == resultName(r)) return r;
    return std::nullopt;
}

RunRecord recordOf(const RunSummary& s, std::string kind, Clock::time_point started, Clock::time_point ended) {
    RunRecord r;
    r.started = started;
    r.ended = ended;
    r.kind = std::move(kind);
    r.result = s.result;
    r.examined = s.examined;
    r.selected = s.selected;
    r.written = s.written;
    r.unchanged = s.unchanged;
    r.refused = s.refused;
    r.duplicates = s.duplicates;
    r.stampBefore = s.stampBefore;
    r.stampAfter = s.stampAfter;
    r.seconds = s.seconds;
    r.error = s.error;
    r.note = s.note;
    r.pid = ::getpid();
    if (s.errorDocument) r.error = "documento " + std::to_string(*s.errorDocument) + ": " + r.error;
    r.refusedDocuments.assign(s.refusedDocuments.begin(),
                              s.refusedDocuments.begin() +
                                  std::ptrdiff_t(std::min(s.refusedDocuments.size(), kRefusedKept)));
    return r;
}

RunRecord startRecord(std::string kind, Clock::time_point started) {
    RunRecord r;
    r.started = r.ended = started;
    r.kind = std::move(kind);
    r.result = Result::Failed;  // until its end says otherwise
    r.unfinished = true;
    r.pid = ::getpid();
    return r;
}

bool runnerAlive(const RunRecord& record) {
    if (record.pid <= 0) return false;
    return ::kill(pid_t(record.pid), 0) == 0 || errno == EPERM;
}

std::string historyFileFor(const std::string& settingsFile) {
    return folderOf(settingsFile) + "ConfigQuillan.log.jsonl";
}

std::string isoTime(Clock::time_point t) {
    const std::time_t secs = Clock::to_time_t(std::chrono::floor<std::chrono::seconds>(t));
    std::tm tm{};
    ::localtime_r(&secs, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    const long off = tm.tm_gmtoff;
    const long a = off < 0 ? -off : off;
    char zone[24];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", off < 0 ? '-' : '+', (a / 3600) % 100, (a % 3600) / 60);
    return std::string(buf) + zone;
}

std::optional<Clock::time_point> parseIsoTime(std::string_view text) {
    std::size_t pos = 0;
    auto number = [&](std::size_t digits, int& out) {
        if (pos + digits > text.size()) return false;
        out = 0;
        for (std::size_t k = 0; k < digits; ++k) {
            const char c = text[pos + k];
            if (c < '0' || c > '9') return false;
            out = out * 10 + (c - '0');
        }
        pos += digits;
        return true;
    };
    auto literal = [&](char c) { return pos < text.size() && text[pos++] == c; };
    int y, mo, d, h, mi, s;
    if (!number(4, y) || !literal('-') || !number(2, mo) || !literal('-') || !number(2, d)) return std::nullopt;
    if (pos >= text.size() || (text[pos] != 'T' && text[pos] != ' ')) return std::nullopt;
    ++pos;
    if (!number(2, h) || !literal(':') || !number(2, mi) || !literal(':') || !number(2, s)) return std::nullopt;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
    }
    int offset = 0;
    if (pos < text.size() && text[pos] == 'Z') ++pos;
    else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        const int sign = text[pos++] == '-' ? -1 : 1;
        int oh, om;
        if (!number(2, oh)) return std::nullopt;
        if (pos < text.size() && text[pos] == ':') ++pos;
        if (!number(2, om) || oh > 23 || om > 59) return std::nullopt;
        offset = sign * (oh * 3600 + om * 60);
    } else return std::nullopt;
    if (pos != text.size()) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(y), std::chrono::month(unsigned(mo)),
                                           std::chrono::day(unsigned(d))};
    if (!date.ok() || h > 23 || mi > 59 || s > 60) return std::nullopt;
    // The clock counts nanoseconds in 64 bits: from 1678 to 2262 only.
    if (y < 1678 || y > 2261) return std::nullopt;
    const auto local = std::chrono::sys_days(date) + std::chrono::hours(h) + std::chrono::minutes(mi) +
                       std::chrono::seconds(s);
    return Clock::time_point(local - std::chrono::seconds(offset));
}

std::string recordLine(const RunRecord& r) {
    Json j;
    j["inicio"] = isoTime(r.started);
    j["fim"] = isoTime(r.ended);
    j["tipo"] = text(r.kind);
    j["resultado"] = r.unfinished ? "em_andamento" : resultName(r.result);
    j["examinados"] = r.examined;
    j["selecionados"] = r.selected;
    j["gravados"] = r.written;
    j["inalterados"] = r.unchanged;
    j["recusados"] = r.refused;
    if (r.duplicates) j["duplicados"] = r.duplicates;
    j["marca_antes"] = text(r.stampBefore);
    j["marca_depois"] = text(r.stampAfter);
    j["tempo"] = std::round(r.seconds * 1000.0) / 1000.0;
    j["erro"] = text(r.error);
    if (!r.note.empty()) j["nota"] = text(r.note);
    if (r.pid) j["pid"] = r.pid;
    Json refused = Json::array();
    for (std::size_t i = 0; i < r.refusedDocuments.size() && i < kRefusedKept; ++i) {
        const RefusedDocument& doc = r.refusedDocuments[i];
        refused.push_back({{"numero", doc.number}, {"chave", text(doc.key)}, {"motivo", text(doc.reason)}});
    }
    j["documentos_recusados"] = std::move(refused);
    // Every text is valid UTF-8 by now; control characters are escaped, so
    // the line holds no line break of its own.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

std::optional<RunRecord> parseRecordLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    const Json j = Json::parse(line, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    try {
        RunRecord r;
        const auto started = parseIsoTime(j.at("inicio").get<std::string>());
        const auto ended = parseIsoTime(j.at("fim").get<std::string>());
        const std::string resultText = j.at("resultado").get<std::string>();
        r.unfinished = resultText == "em_andamento";
        const auto result = r.unfinished ? std::optional<Result>(Result::Failed) : resultFromName(resultText);
        if (!started || !ended || !result) return std::nullopt;
        r.started = *started;
        r.ended = *ended;
        r.result = *result;
        r.pid = j.value("pid", 0LL);
        r.kind = j.value("tipo", std::string());
        r.examined = j.value("examinados", 0LL);
        r.selected = j.value("selecionados", 0LL);
        r.written = j.value("gravados", 0LL);
        r.unchanged = j.value("inalterados", 0LL);
        r.refused = j.value("recusados", 0LL);
        r.duplicates = j.value("duplicados", 0LL);
        r.stampBefore = j.value("marca_antes", std::string());
        r.stampAfter = j.value("marca_depois", std::string());
        r.seconds = j.value("tempo", 0.0);
        r.error = j.value("erro", std::string());
        r.note = j.value("nota", std::string());
        if (const auto it = j.find("documentos_recusados"); it != j.end() && it->is_array())
            for (const Json& doc : *it)
                r.refusedDocuments.push_back({doc.value("numero", 0LL), doc.value("chave", std::string()),
                                              doc.value("motivo", std::string())});
        return r;
    } catch (const Json::exception&) {
        return std::nullopt;  // a field of the wrong type
    }
}

// How long an append waits for another process's append and trim. A trim
// syncs its copy before the rename, which a busy disk can make take seconds;
// a line appended without the lock while a trim runs is lost to its rename,
// so the wait is long and writing unlocked is left to a lock that cannot be
// had at all.
constexpr std::chrono::seconds kLockPatience{30};

bool appendRun(const std::string& path, const RunRecord& record, std::string* error, std::size_t keep) {
    const std::string line = recordLine(record);
    int fd = -1;
    bool locked = false;
    // A trim by another process may have replaced the file between our open
    // and our lock: append to the file that is there now. Only the file at
    // the name, locked, is ever trimmed: a trim of a replaced one would put
    // its old lines back over the newer.
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    for (;;) {
        fd = openHistory(path, O_RDWR | O_APPEND | O_CREAT, error);
        if (fd < 0) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        locked = lockWithin(fd, std::max(left, std::chrono::milliseconds(0)));
        struct stat opened {
        }, named{};
        if (!locked || (::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
                        opened.st_ino == named.st_ino && opened.st_dev == named.st_dev))
            break;
        ::close(fd);
    }

    std::string data = line;
    // A line cut short by a full disk must not swallow this one.
    struct stat st {};
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        data.insert(data.begin(), '\n');
    ssize_t n;
    do n = ::write(fd, data.data(), data.size());
    while (n < 0 && errno == EINTR);
    bool ok = n == static_cast<ssize_t>(data.size());
    if (!ok && error) {
        if (n < 0) *error = errnoText("Não foi possível gravar o histórico", path);
        else *error = "Gravação incompleta do histórico \"" + path + "\"";
    }
    if (ok && locked) trimTo(fd, path, keep);
    ::close(fd);  // drops the lock
    return ok;
}

std::vector<RunRecord> readRuns(const std::string& path, std::size_t count, std::string* error) {
    std::vector<RunRecord> runs;
    if (count == 0) return runs;
    const int fd = openHistory(path, O_RDONLY, error);
    if (fd < 0) return runs;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return runs;
    }
    // The newest runs are at the end: read a tail of the file, larger each
    // time, until it holds enough of them (the tray wants a few, not all).
    const off_t size = st.st_size;
    std::string tail;
    for (off_t want = 64 * 1024;;) {
        want = std::min(want, off_t(kHistoryReadLimit));
        const off_t from = want >= size ? 0 : size - want;
        tail.resize(std::size_t(size - from));
        std::size_t got = 0;
        while (got < tail.size()) {
            const ssize_t n = ::pread(fd, tail.data() + got, tail.size() - got, from + off_t(got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += std::size_t(n);
        }
        tail.resize(got);
        runs.clear();
        std::set<std::string> ended;
        std::size_t end = tail.size();
        while (end > 0 && runs.size() < count) {
            const std::size_t nl = tail.rfind('\n', end - 1);
            // The first piece of a tail that starts mid-file is part of a line.
            if (nl == std::string::npos && from > 0) break;
            const std::size_t begin = nl == std::string::npos ? 0 : nl + 1;
            if (end > begin)
                if (auto r = parseRecordLine(std::string_view(tail).substr(begin, end - begin))) {
                    if (!r->unfinished) ended.insert(runKey(*r));
                    if (!r->unfinished || !ended.count(runKey(*r))) runs.push_back(std::move(*r));
                }
            if (nl == std::string::npos) break;
            end = nl;
        }
        if (runs.size() >= count || from == 0 || want >= off_t(kHistoryReadLimit)) break;
        // Enough for the runs still wanted at the size of those read so far.
        const off_t perRun = off_t(tail.size() / std::max<std::size_t>(runs.size(), 1));
        want = std::max(want * 4, perRun * off_t(count) * 2);
    }
    ::close(fd);
    return runs;
}

std::string announcedFileFor(const std::string& settingsFile) {
    return folderOf(settingsFile) + "ConfigQuillan.log.avisado";
}

std::optional<Clock::time_point> readAnnouncedMark(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return parseIsoTime(line);
}

bool writeAnnouncedMark(const std::string& path, Clock::time_point mark) {
    // The window and a scheduled run may both announce; the newer mark wins.
    if (const auto current = readAnnouncedMark(path); current && *current >= mark) return true;
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    ::fchmod(fd, 0644);
    bool ok = writeAll(fd, isoTime(mark) + "\n");
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::optional<RunRecord> lastRun(const std::string& path) {
    auto runs = readRuns(path, 1);
    if (runs.empty()) return std::nullopt;
    return std::move(runs.front());
}

}  // namespace exports
