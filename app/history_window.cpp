#include "app/history_window.h"

#include "export/history/run_status.h"
#include "platform/codepage.h"
#include "platform/regional.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace app {

namespace {

QString utf8(const std::string& text) { return QString::fromStdString(platform::textToUtf8(text)); }

QString kindCaption(const std::string& kind) {
    if (kind == exports::kRunWindow) return QStringLiteral("Gerar");
    if (kind == exports::kRunUnattended) return QStringLiteral("Agendada (/executa)");
    if (kind == exports::kRunPeriod) return QString::fromUtf8("Por período");
    if (kind == exports::kRunPackage) return QStringLiteral("Pacote");
    return utf8(kind);
}

QString resultCaption(exports::Result result) {
    switch (result) {
    case exports::Result::Complete: return QString::fromUtf8("Concluída");
    case exports::Result::Failed: return QStringLiteral("Falhou");
    case exports::Result::Interrupted: return QStringLiteral("Interrompida");
    case exports::Result::Busy: return QString::fromUtf8("Não feita (outra em andamento)");
    case exports::Result::Refused: return QStringLiteral("Documentos recusados");
    }
    return {};
}

}  // namespace

QColor HistoryWindow::failureColor() { return QColor(0xF8, 0xD0, 0xD0); }
QColor HistoryWindow::refusedColor() { return QColor(0xFF, 0xE8, 0xB0); }

HistoryWindow::HistoryWindow(std::string historyPath, QWidget* parent)
    : QWidget(parent, Qt::Window), historyPath_(std::move(historyPath)) {
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QString::fromUtf8("Histórico"));
    resize(900, 460);

    emptyNote_ = new QLabel(this);
    runsList_ = new QTreeWidget(this);
    runsList_->setRootIsDecorated(false);
    runsList_->setUniformRowHeights(true);
    runsList_->setAlternatingRowColors(false);
    runsList_->setHeaderLabels({QStringLiteral("Fim"), QStringLiteral("Tipo"), QStringLiteral("Resultado"),
                                QStringLiteral("Examinados"), QStringLiteral("Selecionados"),
                                QStringLiteral("Gravados"), QStringLiteral("Inalterados"), QStringLiteral("Recusados"),
                                QStringLiteral("Erro")});
    runsList_->header()->setStretchLastSection(true);
    details_ = new QPlainTextEdit(this);
    details_->setReadOnly(true);
    details_->setMaximumBlockCount(0);

    auto* refresh = new QPushButton(QStringLiteral("Atualizar"), this);
    auto* close = new QPushButton(QStringLiteral("Fechar"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(refresh);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(emptyNote_);
    layout->addWidget(runsList_, 3);
    layout->addWidget(details_, 2);
    layout->addLayout(buttons);

    connect(refresh, &QPushButton::clicked, this, &HistoryWindow::reload);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(runsList_, &QTreeWidget::currentItemChanged, this, &HistoryWindow::showDetails);
    reload();
}

void HistoryWindow::reload() {
    runs_ = exports::readRuns(historyPath_);
    const platform::FormatSettings fs = platform::currentFormatSettings();
    runsList_->clear();
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        const exports::RunRecord& run = runs_[i];
        auto* item = new QTreeWidgetItem(runsList_);
        item->setData(0, Qt::UserRole, qulonglong(i));
        item->setText(0, QString::fromStdString(exports::localTimeText(run.ended, fs)));
        item->setText(1, kindCaption(run.kind));
        item->setText(2, resultCaption(run.result));
        const long long counts[] = {run.examined, run.selected, run.written, run.unchanged, run.refused};
        for (int c = 0; c < 5; ++c) {
            item->setText(3 + c, QString::number(counts[c]));
            item->setTextAlignment(3 + c, Qt::AlignRight | Qt::AlignVCenter);
        }
        item->setText(8, utf8(run.error).simplified());
        item->setToolTip(8, utf8(run.error));
        const bool failed = run.result == exports::Result::Failed || run.result == exports::Result::Interrupted;
        if (failed || run.result == exports::Result::Refused) {
            for (int c = 0; c < runsList_->columnCount(); ++c)
                item->setBackground(c, failed ? failureColor() : refusedColor());
            QFont bold = item->font(2);
            bold.setBold(true);
            item->setFont(2, bold);
            // The colour hides under the selection; the sign does not.
            item->setIcon(2,
                          style()->standardIcon(failed ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning));
        }
    }
    for (int c = 0; c < runsList_->columnCount() - 1; ++c) runsList_->resizeColumnToContents(c);
    emptyNote_->setText(
        runs_.empty()
            ? QString::fromUtf8("Nenhuma exportação registrada em \"%1\".").arg(QString::fromStdString(historyPath_))
            : QString::fromUtf8("Últimas %1 exportações, a mais recente primeiro.").arg(runs_.size()));
    // The newest run in the details, without a selection hiding its colour.
    if (runsList_->topLevelItemCount() > 0)
        runsList_->setCurrentItem(runsList_->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    else details_->clear();
}

void HistoryWindow::showDetails() {
    QTreeWidgetItem* item = runsList_->currentItem();
    if (!item) {
        details_->clear();
        return;
    }
    const exports::RunRecord& run = runs_[item->data(0, Qt::UserRole).toULongLong()];
    const platform::FormatSettings fs = platform::currentFormatSettings();
    exports::RunRecord withoutError = run;
    withoutError.error.clear();
    QString text = QString::fromStdString(exports::describeRun(withoutError, fs)) + QLatin1Char('\n');
    text += QString::fromUtf8("Início %1, %2 s\n")
                .arg(QString::fromStdString(exports::localTimeText(run.started, fs)))
                .arg(run.seconds, 0, 'f', 3);
    if (!run.error.empty()) text += QStringLiteral("\nErro:\n") + utf8(run.error) + QLatin1Char('\n');
    if (!run.refusedDocuments.empty()) {
        text += QStringLiteral("\nDocumentos recusados (%1):\n").arg(run.refused);
        for (const exports::RefusedDocument& doc : run.refusedDocuments)
            text += QStringLiteral("Documento %1, chave %2: %3\n").arg(doc.number).arg(utf8(doc.key), utf8(doc.reason));
        if (run.refused > static_cast<long long>(run.refusedDocuments.size()))
            text += QString::fromUtf8("… e mais %1 que o histórico não guarda.\n")
                        .arg(run.refused - static_cast<long long>(run.refusedDocuments.size()));
    }
    details_->setPlainText(text);
}

}  // namespace app
