#include "app/run_summary.h"

#include "app/main_window.h"

#include <QFontMetrics>
#include <QLabel>

namespace app {

namespace {

std::string seconds(double s, char decimal) {
    // Not printf: the process locale would choose the decimal separator.
    const long long ms = s > 0 ? static_cast<long long>(s * 1000.0 + 0.5) : 0;
    std::string frac = std::to_string(ms % 1000);
    return std::to_string(ms / 1000) + decimal + std::string(3 - frac.size(), '0') + frac;
}

}  // namespace

std::string summaryLine(const RunSummary& s) {
    return "Resumo: examinados=" + std::to_string(s.examined) + " selecionados=" + std::to_string(s.selected) +
           " gravados=" + std::to_string(s.written) + " marca_antes=\"" + s.stampBefore + "\" marca_depois=\"" +
           s.stampAfter + "\" tempo=" + seconds(s.seconds, '.') + "s resultado=" +
           (s.complete ? "completo" : "erro");
}

std::string errorLine(const RunSummary& s) {
    std::string line = "Erro na exportação";
    if (s.errorSeq) line += " (documento " + std::to_string(*s.errorSeq) + ")";
    return line + ": " + s.error;
}

std::string windowText(const RunSummary& s, bool withStamp) {
    std::string counts = "Examinados " + std::to_string(s.examined) + ", selecionados " +
                         std::to_string(s.selected) + ", gravados " + std::to_string(s.written);
    if (withStamp) counts += "; marca " + s.stampAfter;
    counts += " (" + seconds(s.seconds, ',') + " s)";
    if (s.complete) return counts;
    return errorLine(s) + " — " + counts;
}

void showStatus(TForm1& form, const std::string& text, bool isError) {
    auto* label = form.findChild<QLabel*>(QStringLiteral("LabelResumo"), Qt::FindDirectChildrenOnly);
    if (!label) {
        label = new QLabel(&form);
        label->setObjectName(QStringLiteral("LabelResumo"));
        // Beside "Exportar Arquivos para:", up to the right edge of Edit2.
        label->setGeometry(122, 248, 329 - 122, 13);
        label->show();
    }
    const QString full = QString::fromStdString(text);
    label->setToolTip(full);
    label->setText(QFontMetrics(label->font()).elidedText(full, Qt::ElideRight, label->width()));
    label->setStyleSheet(isError ? QStringLiteral("color: #c00000;") : QString());
}

}  // namespace app
