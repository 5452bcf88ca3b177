#pragma once
// What one export run did, as the scheduler's journal and the window show it.

#include <optional>
#include <string>
#include <string_view>

class TForm1;

namespace app {

struct RunSummary {
    long examined = 0;  // rows looked at
    long selected = 0;  // rows changed after the stamp (incremental) or matched (period)
    long written = 0;   // files written
    std::string stampBefore, stampAfter;  // "date time" texts; empty for the period export
    double seconds = 0;
    bool complete = false;
    std::string error;                  // empty when none
    std::optional<long long> errorSeq;  // the document the error concerns
};

// `bytes` with control bytes written out ("\\0", "\\x1B"): values from the
// settings file or the database may hold them, and a NUL would cut a line
// that is printed as a C string. Other bytes stay as they are.
std::string printableText(std::string_view bytes);

// The one stdout line of an unattended run, e.g.
// Resumo: examinados=3 selecionados=2 gravados=2 marca_antes="01/01/2010 00:00:00"
//   marca_depois="25/12/2020 10:05:37" tempo=0.012s resultado=completo
std::string summaryLine(const RunSummary& s);
// The stderr line of a failed run, naming the document when one is concerned.
std::string errorLine(const RunSummary& s);
// The counts for the window; the error text first when the run failed.
std::string windowText(const RunSummary& s, bool withStamp);

// Where the window shows a run's outcome: in the free corner of the group box
// of the export that ran (two lines in "Exportação pela Alteração", one in
// "Exportar por período"). Wrapped and elided to fit; the whole text is the
// tooltip. Errors show in red. Text is UTF-8.
enum class StatusPlace { Incremental, Period };
void showStatus(TForm1& form, StatusPlace place, const std::string& text, bool isError);

}  // namespace app
