#include "app/status_line.h"

#include "platform/codepage.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>

namespace app {

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

void showStatus(QWidget& form, QWidget* group, StatusPlace place, const std::string& text, bool isError) {
    auto* label = form.findChild<QLabel*>(QStringLiteral("LabelResumo"));
    if (!label) {
        label = new QLabel(&form);
        label->setObjectName(QStringLiteral("LabelResumo"));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    // Free corners: right of "Notas Recebidas"; below the period editors.
    const bool incremental = place == StatusPlace::Incremental;
    QWidget* parent = group;
    if (label->parentWidget() != parent) label->setParent(parent);
    if (incremental) label->setGeometry(120, 76, 313 - 120, 28);
    else label->setGeometry(8, 56, 240 - 8, 15);
    const QString full = QString::fromStdString(platform::textToUtf8(text));
    label->setToolTip(full);
    label->setText(fitText(full, QFontMetrics(label->font()), label->width(), incremental ? 2 : 1));
    label->setStyleSheet(isError ? QStringLiteral("color: #c00000;") : QString());
    label->show();
}

}  // namespace app
