#include "export/core/summary.h"

#include "platform/codepage.h"

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

bool storeStep(RunStep step) {
    return step == RunStep::PreparingStore || step == RunStep::Uploading || step == RunStep::FinishingStore;
}

std::string abandonedRunError(long long limitSeconds, RunStep step, long long document, long examined, long written) {
    const std::string number = std::to_string(document);
    std::string doing;
    switch (step) {
    case RunStep::Starting: doing = "antes do primeiro documento (trava, configurações ou marca)"; break;
    case RunStep::PreparingFolder: doing = "preparando a pasta de exportação"; break;
    case RunStep::PreparingStore: doing = "consultando o bucket da Nuvem"; break;
    case RunStep::Connecting: doing = "conectando ao banco (servidor ou rede sem resposta)"; break;
    case RunStep::Reading:
        doing = document ? "lendo do banco o documento seguinte ao " + number + " (servidor ou rede sem resposta)"
                         : "lendo do banco o primeiro documento (servidor ou rede sem resposta)";
        break;
    case RunStep::Writing: doing = "gravando o documento " + number; break;
    case RunStep::Uploading: doing = "enviando o documento " + number + " à Nuvem"; break;
    case RunStep::FinishingFolder: doing = "concluindo os arquivos gravados ou o pacote"; break;
    case RunStep::FinishingStore: doing = "aguardando a Nuvem confirmar os envios"; break;
    case RunStep::Checking: doing = "verificando os documentos"; break;
    case RunStep::Stamping: doing = "gravando a marca"; break;
    }
    return std::string(storeStep(step) ? "Nuvem: exportação" : "Exportação") + " abandonada: nenhum progresso em " +
           std::to_string(limitSeconds) + " s " + doing + " (TempoSemProgresso), com " + std::to_string(examined) +
           " documentos examinados e " + std::to_string(written) + " gravados; marca não movida";
}

std::string summaryLine(const RunSummary& s) {
    std::string line = "Resumo: examinados=" + std::to_string(s.examined) +
                       " selecionados=" + std::to_string(s.selected) + " gravados=" + std::to_string(s.written) +
                       " marca_antes=\"" + printable(s.stampBefore) + "\" marca_depois=\"" + printable(s.stampAfter) +
                       "\" tempo=" + seconds(s.seconds, '.') + "s resultado=" + resultWord(s.result) +
                       " inalterados=" + std::to_string(s.unchanged) + " recusados=" + std::to_string(s.refused) +
                       " falhas_chave=" + std::to_string(s.checks.badKeys) +
                       " falhas_xml=" + std::to_string(s.checks.badXml);
    if (!s.package.empty())
        line += " lacunas=" + std::to_string(s.gapRanges) + " ausentes=" + std::to_string(s.missingNumbers) +
                " pacote=\"" + printable(s.package) + "\"";
    if (!s.note.empty()) line += " nota=\"" + s.note + "\"";
    // last, so readers of the older line still find every field where it was
    line += " falhas_assinatura=" + std::to_string(s.checks.badSignatures);
    if (s.duplicates) line += " duplicados=" + std::to_string(s.duplicates);
    return line;
}

std::string errorLine(const RunSummary& s) {
    std::string line = "Erro na exportação";
    if (s.errorDocument) line += " (documento " + std::to_string(*s.errorDocument) + ")";
    return line + ": " + messageText(s.error);
}

std::string duplicateLine(const DuplicateDocument& d) {
    return "Documento duplicado: " + std::to_string(d.dropped) + " chave \"" + printable(d.key) +
           "\" dá o mesmo arquivo que o documento " + std::to_string(d.kept) + ", que ficou com ele";
}

std::string refusedLine(const RefusedDocument& d) {
    return "Documento recusado: " + std::to_string(d.number) + " chave \"" + printable(d.key) + "\": " + d.reason;
}

std::string windowText(const RunSummary& s, bool withStamp) {
    std::string counts = "Examinados " + std::to_string(s.examined) + ", selecionados " + std::to_string(s.selected) +
                         ", gravados " + std::to_string(s.written);
    if (s.unchanged) counts += ", inalterados " + std::to_string(s.unchanged);
    if (s.refused) counts += ", recusados " + std::to_string(s.refused);
    if (s.duplicates) counts += ", duplicados " + std::to_string(s.duplicates);
    if (withStamp) counts += "; marca " + s.stampAfter;
    counts += " (" + seconds(s.seconds, ',') + " s)";
    if (s.checks.failed) {
        counts += "; verificação: " + std::to_string(s.checks.failed) + " com falhas";
        if (s.checks.badSignatures) counts += " (" + std::to_string(s.checks.badSignatures) + " na assinatura)";
    }
    if (!s.note.empty()) counts += "; " + s.note;
    switch (s.result) {
    case Result::Complete: return counts;
    case Result::Refused:
        return std::to_string(s.refused) + (s.refused == 1 ? " documento recusado" : " documentos recusados") + " (" +
               s.refusedDocuments.front().reason + ") — " + counts;
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
