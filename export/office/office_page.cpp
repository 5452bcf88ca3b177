#include "export/office/office_page.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace exports {

namespace {

std::string shownTime(Clock::time_point t) {
    const std::time_t secs = Clock::to_time_t(std::chrono::floor<std::chrono::seconds>(t));
    std::tm tm{};
    ::localtime_r(&secs, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%d/%m/%Y %H:%M", &tm);
    return buf;
}

const char* stateClass(CompanyState s) {
    switch (s) {
    case CompanyState::Ok: return "ok";
    case CompanyState::Failed: return "falhou";
    case CompanyState::Silent: return "silenciosa";
    case CompanyState::Unreadable: return "ilegivel";
    case CompanyState::Incomplete: return "incompleta";
    }
    return "ilegivel";
}

// 60 bars, one a day; a day without documents has no bar: a gap shows as a hole.
std::string chart(const CompanyReport& c) {
    const long long top = std::max<long long>(1, *std::max_element(c.perDay.begin(), c.perDay.end()));
    const int width = 4, height = 36;
    std::string svg = "<svg class=\"grafico\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      std::to_string(width * kOfficeChartDays) + "\" height=\"" + std::to_string(height) +
                      "\" role=\"img\" aria-label=\"documentos por dia, últimos " + std::to_string(kOfficeChartDays) +
                      " dias\"><rect class=\"fundo\" width=\"100%\" height=\"100%\"/>";
    for (int d = 0; d < kOfficeChartDays; ++d) {
        const long long v = c.perDay[size_t(d)];
        if (v <= 0) continue;
        const int h = std::max<int>(2, int(double(v) / double(top) * (height - 2)));
        svg += "<rect x=\"" + std::to_string(d * width) + "\" y=\"" + std::to_string(height - h) + "\" width=\"" +
               std::to_string(width - 1) + "\" height=\"" + std::to_string(h) + "\"><title>" + std::to_string(v) +
               "</title></rect>";
    }
    return svg + "</svg>";
}

std::string hoursText(double hours) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", hours);
    return buf;
}

}  // namespace

std::string htmlEscape(std::string_view text) {
    const std::string utf8 = platform::textToUtf8(std::string(text));
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const size_t len = platform::utf8SequenceAt(utf8, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (len == 1) {
            const unsigned char c = static_cast<unsigned char>(utf8[i]);
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                if (c < 0x20 || c == 0x7F) out += "\xEF\xBF\xBD";
                else out += char(c);
            }
        } else {
            out.append(utf8, i, len);
        }
        i += len;
    }
    return out;
}

std::string officePage(const OfficeReport& report) {
    std::string h;
    h +=
        "<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
        "img-src data:\">"
        "<title>Empresas em " +
        htmlEscape(report.place) +
        "</title><style>\n"
        "body{font-family:sans-serif;margin:1.5em;color:#222;background:#fff}\n"
        "h1{font-size:1.3em}p.resumo{color:#555}\n"
        "table{border-collapse:collapse}th,td{border:1px solid #ccc;padding:4px 8px;text-align:left;vertical-align:middle}\n"
        "th{background:#eee}td.num{text-align:right}td.ultima{min-width:19em}\n"
        ".estado{font-weight:bold;padding:2px 8px;border-radius:4px;color:#fff;white-space:nowrap}\n"
        ".ok{background:#2e7d32}.falhou{background:#c62828}.silenciosa{background:#6d4c41}"
        ".incompleta{background:#ef6c00}.ilegivel{background:#6a1b9a}\n"
        "svg.grafico rect{fill:#1565c0}svg.grafico rect.fundo{fill:#f3f3f3}\n"
        ".erro{color:#c62828}\n"
        "</style></head><body>\n";
    h += "<h1>Empresas em " + htmlEscape(report.place) + "</h1>\n";
    int attention = 0;
    for (const auto& c : report.companies) attention += c.state != CompanyState::Ok;
    h += "<p class=\"resumo\">Gerado em " + shownTime(report.now) + "; " + std::to_string(report.companies.size()) +
         " empresas, " + std::to_string(attention) + " pedem atenção; silenciosa: sem execução completa há mais de " +
         hoursText(report.hours) + " h.</p>\n";
    if (!report.error.empty()) h += "<p class=\"erro\">" + htmlEscape(report.error) + "</p>\n";
    h += "<table id=\"empresas\"><thead><tr><th>Empresa</th><th>Estado</th><th>Última execução</th>"
         "<th>Documentos " +
         htmlEscape(report.month) + "</th><th>Documentos " + htmlEscape(report.previousMonth) + "</th><th>Pacote " +
         htmlEscape(report.previousMonth) +
         "</th><th>Último pacote</th>"
         "<th>Documentos por dia (" +
         std::to_string(kOfficeChartDays) + " dias)</th></tr></thead><tbody>\n";
    for (const auto& c : report.companies) {
        h += "<tr class=\"empresa\" data-estado=\"" + std::string(stateClass(c.state)) + "\"><td class=\"nome\">" +
             htmlEscape(c.name) + "</td><td><span class=\"estado " + stateClass(c.state) + "\">" +
             htmlEscape(stateName(c.state)) + "</span></td><td class=\"ultima\">";
        if (c.last) {
            h += htmlEscape(c.last->kind) + " " + shownTime(c.last->ended) + " " + htmlEscape(c.last->result) +
                 "<br>enviados " + std::to_string(c.last->sent) + ", inalterados " +
                 std::to_string(c.last->unchangedInStore);
            if (!c.last->host.empty()) h += " · " + htmlEscape(c.last->host);
            if (!c.last->error.empty()) h += "<br><span class=\"erro\">" + htmlEscape(c.last->error) + "</span>";
        } else {
            h += "nenhuma legível";
        }
        if (!c.unreadable.empty())
            h += "<br><span class=\"erro\">" + std::to_string(c.unreadable.size()) +
                 " registro(s) ilegível(is): " + htmlEscape(c.unreadable.front()) + "</span>";
        if (!c.problem.empty()) h += "<br><span class=\"erro\">" + htmlEscape(c.problem) + "</span>";
        h += "</td><td class=\"num\">" + std::to_string(c.thisMonth) + "</td><td class=\"num\">" +
             std::to_string(c.lastMonth) + "</td><td>" + (c.lastMonthPackage ? "presente" : "<b>ausente</b>") +
             "</td><td>";
        if (c.lastPackage) {
            const StoredRun& p = *c.lastPackage;
            h += htmlEscape(p.package.empty() ? p.result : p.package + " " + p.result) + "<br>falhas: chave " +
                 std::to_string(p.badKeys) + ", XML " + std::to_string(p.badXml) + ", assinatura " +
                 std::to_string(p.badSignatures) + "; lacunas " + std::to_string(p.gapRanges);
        } else {
            h += "—";
        }
        h += "</td><td>" + chart(c) + "</td></tr>\n";
    }
    h += "</tbody></table>\n</body></html>\n";
    return h;
}

}  // namespace exports
