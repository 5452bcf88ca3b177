#include "app/run_summary.h"

#include "app/main_window.h"

#include <QFontMetrics>
#include <QGroupBox>
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

std::string printableText(std::string_view bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 0) {
            out += "\\0";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string summaryLine(const RunSummary& s) {
    return "Resumo: examinados=" + std::to_string(s.examined) + " selecionados=" + std::to_string(s.selected) +
           " gravados=" + std::to_string(s.written) + " marca_antes=\"" + printableText(s.stampBefore) +
           "\" marca_depois=\"" + printableText(s.stampAfter) + "\" tempo=" + seconds(s.seconds, '.') + "s resultado=" +
           (s.complete ? "completo" : "erro");
}

std::string errorLine(const RunSummary& s) {
    std::string line = "Erro na exportação";
    if (s.errorSeq) line += " (documento " + std::to_string(*s.errorSeq) + ")";
    // The library's messages come as several lines; this is one line.
    std::string error = s.error;
    for (char& c : error)
        if (c == '\n') c = ' ';
    return line + ": " + printableText(error);
}

std::string windowText(const RunSummary& s, bool withStamp) {
    std::string counts = "Examinados " + std::to_string(s.examined) + ", selecionados " +
                         std::to_string(s.selected) + ", gravados " + std::to_string(s.written);
    if (withStamp) counts += "; marca " + s.stampAfter;
    counts += " (" + seconds(s.seconds, ',') + " s)";
    if (s.complete) return counts;
    return errorLine(s) + " — " + counts;
}

namespace {

// Greedy word wrap into at most `lines` lines of `width` pixels; the last
// line is elided when text is left over.
QString fitText(const QString& text, const QFontMetrics& fm, int width, int lines) {
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList out;
    int i = 0;
    while (i < words.size() && out.size() < lines) {
        if (out.size() == lines - 1) {
            out << fm.elidedText(words.mid(i).join(QLatin1Char(' ')), Qt::ElideRight, width);
            break;
        }
        QString line = words[i++];
        while (i < words.size() && fm.horizontalAdvance(line + QLatin1Char(' ') + words[i]) <= width)
            line += QLatin1Char(' ') + words[i++];
        out << fm.elidedText(line, Qt::ElideRight, width);
    }
    return out.join(QLatin1Char('\n'));
}

}  // namespace

void showStatus(TForm1& form, StatusPlace place, const std::string& text, bool isError) {
    auto* label = form.findChild<QLabel*>(QStringLiteral("LabelResumo"));
    if (!label) {
        label = new QLabel(&form);
        label->setObjectName(QStringLiteral("LabelResumo"));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    // Free corners: right of "Notas Recebidas"; below the period editors.
    const bool incremental = place == StatusPlace::Incremental;
    QWidget* parent = incremental ? form.GroupBox1 : form.GroupBox2;
    if (label->parentWidget() != parent) label->setParent(parent);
    if (incremental) label->setGeometry(120, 76, 313 - 120, 28);
    else label->setGeometry(8, 56, 240 - 8, 15);
    const QString full = QString::fromStdString(text);
    label->setToolTip(full);
    label->setText(fitText(full, QFontMetrics(label->font()), label->width(), incremental ? 2 : 1));
    label->setStyleSheet(isError ? QStringLiteral("color: #c00000;") : QString());
    label->show();
}

}  // namespace app
