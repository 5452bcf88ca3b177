#include "export/summary.h"

#include <cstdio>

namespace exports {

namespace {

std::string seconds(double s, char decimal) {
    // Not printf: the process locale would choose the decimal separator.
    const long long ms = s > 0 ? static_cast<long long>(s * 1000.0 + 0.5) : 0;
    std::string frac = std::to_string(ms % 1000);
    return std::to_string(ms / 1000) + decimal + std::string(3 - frac.size(), '0') + frac;
}

const char* resultWord(Result r) {
    switch (r) {
    case Result::Complete: return "completo";
    case Result::Refused: return "recusados";
    case Result::Interrupted: return "interrompido";
    case Result::Busy: return "ocupado";
    case Result::Failed: break;
    }
    return "erro";
}

}  // namespace

std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x20 || c > 0x7E || c == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string summaryLine(const RunSummary& s) {
    std::string line = "Resumo: examinados=" + std::to_string(s.examined) +
                       " selecionados=" + std::to_string(s.selected) + " gravados=" + std::to_string(s.written) + " marca_antes=\"" + printable(s.stampBefore) + "\" marca_depois=\"" +
                       printable(s.stampAfter) + "\" tempo=" + seconds(s.seconds, '.') + "s resultado=" +
                       resultWord(s.result) + " inalterados=" + std::to_string(s.unchanged) +
                       " recusados=" + std::to_string(s.refused);
    if (!s.note.empty()) line += " nota=\"" + s.note + "\"";
    return line;
}

std::string errorLine(const RunSummary& s) {
    std::string line = "Erro na exportação";
    if (s.errorDocument) line += " (documento " + std::to_string(*s.errorDocument) + ")";
    return line + ": " + s.error;
}

std::string refusedLine(const RefusedDocument& d) {
    return "Documento recusado: " + std::to_string(d.number) + " chave \"" + printable(d.key) + "\": " + d.reason;
}

std::string windowText(const RunSummary& s, bool withStamp) {
    std::string counts = "Examinados " + std::to_string(s.examined) + ", selecionados " +
                         std::to_string(s.selected) + ", gravados " + std::to_string(s.written);
    if (s.unchanged) counts += ", inalterados " + std::to_string(s.unchanged);
    if (s.refused) counts += ", recusados " + std::to_string(s.refused);
    if (withStamp) counts += "; marca " + s.stampAfter;
    counts += " (" + seconds(s.seconds, ',') + " s)";
    switch (s.result) {
    case Result::Complete: return counts;
    case Result::Refused:
        return std::to_string(s.refused) + (s.refused == 1 ? " documento recusado" : " documentos recusados") +
               " (" + s.refusedDocuments.front().reason + ") — " + counts;
    case Result::Interrupted: return "Exportação interrompida — " + counts;
    case Result::Busy: return s.error;
    case Result::Failed: break;
    }
    return errorLine(s) + " — " + counts;
}

int exitStatus(const RunSummary& s, int stopSignal) {
    switch (s.result) {
    case Result::Complete: return 0;
    case Result::Refused: return 65;
    case Result::Busy: return 75;
    case Result::Interrupted: return 128 + stopSignal;
    case Result::Failed: break;
    }
    return 1;
}

}  // namespace exports
