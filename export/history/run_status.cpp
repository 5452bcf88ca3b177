#include "export/history/run_status.h"

#include "platform/codepage.h"
#include "platform/datetime.h"

#include <algorithm>
#include <ctime>
#include <ostream>

namespace exports {

namespace {

std::string kindText(const std::string& kind, bool brief = false) {
    if (kind == kRunWindow) return brief ? "Exportação pela janela" : "Exportação pela janela (Gerar)";
    if (kind == kRunUnattended) return brief ? "Exportação agendada" : "Exportação agendada (/executa)";
    if (kind == kRunPeriod) return "Exportação por período";
    if (kind == kRunPackage) return "Exportação do pacote";
    return "Exportação (" + kind + ")";
}

const char* resultText(Result result) {
    switch (result) {
    case Result::Complete: return "concluída";
    case Result::Failed: return "falhou";
    case Result::Interrupted: return "interrompida";
    case Result::Busy: return "não feita (outra exportação em andamento)";
    case Result::Refused: return "concluída com documentos recusados";
    }
    return "?";
}

// Error texts from the database client come in several lines; a report
// line holds them side by side.
std::string oneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    bool breakPending = false;
    for (char c : platform::textToUtf8(text)) {
        if (c == '\n' || c == '\r') {
            breakPending = !out.empty();
            continue;
        }
        if (breakPending) out += ' ';
        breakPending = false;
        out += c;
    }
    return out;
}

std::string agoText(Clock::duration age) {
    const long long minutes = std::chrono::duration_cast<std::chrono::minutes>(age).count();
    if (minutes < 1) return "há menos de 1 min";
    if (minutes < 60) return "há " + std::to_string(minutes) + " min";
    if (minutes < 48 * 60) {
        std::string t = "há " + std::to_string(minutes / 60) + " h";
        if (minutes % 60) t += " " + std::to_string(minutes % 60) + " min";
        return t;
    }
    return "há " + std::to_string(minutes / (24 * 60)) + " dias";
}

}  // namespace

std::string localTimeText(Clock::time_point t, const platform::FormatSettings& fs) {
    const std::time_t secs = Clock::to_time_t(std::chrono::floor<std::chrono::seconds>(t));
    std::tm tm{};
    ::localtime_r(&secs, &tm);
    platform::DateTime date = 0, time = 0;
    if (!platform::tryEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, date)) return "?";
    platform::tryEncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec < 60 ? tm.tm_sec : 59, 0, time);
    return platform::formatShortDate(date, fs) + " " + platform::formatLongTime(time, fs);
}

std::string describeRun(const RunRecord& run, const platform::FormatSettings& fs,
                        std::optional<Clock::time_point> now) {
    if (run.unfinished) {
        std::string line = kindText(platform::textToUtf8(run.kind)) + " iniciada em " + localTimeText(run.started, fs);
        if (now) line += " (" + agoText(*now > run.started ? *now - run.started : Clock::duration::zero()) + ")";
        return line + (runnerAlive(run) ? " ainda em andamento" : " terminou sem registrar o fim");
    }
    std::string line = kindText(platform::textToUtf8(run.kind)) + " " + resultText(run.result) + " em " +
                       localTimeText(run.ended, fs);
    if (now) line += " (" + agoText(*now > run.ended ? *now - run.ended : Clock::duration::zero()) + ")";
    if (!run.error.empty()) line += ": " + oneLine(run.error);
    if (!run.note.empty()) line += " (" + oneLine(run.note) + ")";
    if (run.result != Result::Busy) {
        line += "; examinados " + std::to_string(run.examined) + ", selecionados " + std::to_string(run.selected) +
                ", gravados " + std::to_string(run.written) + ", inalterados " + std::to_string(run.unchanged) +
                ", recusados " + std::to_string(run.refused);
        if (run.duplicates) line += ", duplicados " + std::to_string(run.duplicates);
        if (!run.stampBefore.empty() || !run.stampAfter.empty())
            line += "; marca " + platform::textToUtf8(run.stampBefore) + " → " + platform::textToUtf8(run.stampAfter);
    }
    return line;
}

const RunRecord* judgedRun(const std::vector<RunRecord>& newestFirst) {
    // A run still going has not told its outcome yet.
    for (const RunRecord& run : newestFirst)
        if (run.result != Result::Busy && !(run.unfinished && runnerAlive(run))) return &run;
    return newestFirst.empty() ? nullptr : &newestFirst.front();
}

bool needsAttention(Result result) {
    return result == Result::Failed || result == Result::Interrupted || result == Result::Refused;
}

Announcement pendingAnnouncement(const std::vector<RunRecord>& newestFirst,
                                 std::optional<Clock::time_point> announcedUntil) {
    Announcement a;
    if (newestFirst.empty()) return a;
    a.mark = newestFirst.front().ended;
    for (const RunRecord& run : newestFirst) a.mark = std::max(*a.mark, run.ended);
    if (!announcedUntil) {
        const RunRecord* judged = judgedRun(newestFirst);
        if (judged && needsAttention(judged->result)) a.run = judged;
        return a;
    }
    for (const RunRecord& run : newestFirst) {
        if (run.ended <= *announcedUntil || !needsAttention(run.result) || (run.unfinished && runnerAlive(run)))
            continue;
        if (!a.run) a.run = &run;
        else ++a.earlier;
    }
    if (*a.mark < *announcedUntil) a.mark = announcedUntil;
    return a;
}

std::string announcementSummary(const RunRecord& run) {
    return kindText(platform::textToUtf8(run.kind)) + " " + resultText(run.result);
}

std::string announcementBody(const Announcement& a, const platform::FormatSettings& fs) {
    if (!a.run) return {};
    const RunRecord& run = *a.run;
    std::string body = "Em " + localTimeText(run.ended, fs);
    if (!run.error.empty()) body += ": " + oneLine(run.error);
    if (run.refused > 0) body += " (" + std::to_string(run.refused) + " documentos recusados)";
    if (a.earlier == 1) body += "\nE mais 1 falha antes desta.";
    else if (a.earlier > 1) body += "\nE mais " + std::to_string(a.earlier) + " falhas antes desta.";
    body += "\nVeja o Histórico.";
    return body;
}

std::string trayRunText(const RunRecord& run, const platform::FormatSettings& fs) {
    std::string text = kindText(platform::textToUtf8(run.kind), true) + " " + resultText(run.result) + " em " +
                       localTimeText(run.ended, fs);
    if (!run.error.empty()) {
        std::string error = oneLine(run.error);
        // Tray tips are short; the Histórico has the whole text.
        if (error.size() > 120) {
            std::size_t cut = 117;
            while (cut > 0 && (static_cast<unsigned char>(error[cut]) & 0xC0) == 0x80) --cut;
            error = error.substr(0, cut) + "...";
        }
        text += ": " + error;
    }
    if (!run.note.empty()) text += " (" + oneLine(run.note) + ")";
    return text;
}

std::optional<long> parseStatusMinutes(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

int statusCommand(const std::string& historyPath, const std::vector<std::string>& arguments, std::ostream& out,
                  std::ostream& err, Clock::time_point now, const platform::FormatSettings& fs) {
    long minutes = kDefaultStatusMinutes;
    if (arguments.size() > 1) {
        err << "Uso: exportar-xml /status [MINUTOS]\n";
        return kStatusUsage;
    }
    if (!arguments.empty()) {
        const auto parsed = parseStatusMinutes(arguments.front());
        if (!parsed) {
            err << "Uso: exportar-xml /status [MINUTOS] (\"" << arguments.front() << "\" não é um número de minutos)\n";
            return kStatusUsage;
        }
        minutes = *parsed;
    }
    // A handful is enough to get past runs that found the lock held.
    std::string error;
    const std::vector<RunRecord> runs = readRuns(historyPath, 50, &error);
    if (!error.empty()) {
        out << error << '\n';
        return kStatusAttention;
    }
    // A run holding on for longer than the limit is as bad as a failed one:
    // nothing is being exported meanwhile.
    for (const RunRecord& r : runs)
        if (r.unfinished && runnerAlive(r) && now - r.started > std::chrono::minutes(minutes)) {
            out << describeRun(r, fs, now) << '\n' << "Em andamento há mais de " << minutes << " min\n";
            return kStatusAttention;
        }
    const RunRecord* run = judgedRun(runs);
    if (!run) {
        out << "Nenhuma exportação registrada em \"" << historyPath << "\"\n";
        return kStatusNoRun;
    }
    out << describeRun(*run, fs, now) << '\n';
    if (run != &runs.front()) out << describeRun(runs.front(), fs, now) << '\n';
    if (run->result != Result::Complete) return kStatusAttention;
    if (now - run->ended > std::chrono::minutes(minutes)) {
        out << "Mais antiga que " << minutes << " min\n";
        return kStatusAttention;
    }
    return kStatusOk;
}

}  // namespace exports
