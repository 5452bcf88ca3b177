#include "controls/calc_form.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>

#include "controls/number_rules.h"
#include "graphics/startup.h"
#include "platform/beep.h"

namespace {

struct ButtonSpec {
    const char* caption;
    int left, top, width;
    int tag;
};

// sSpeedButton1..27 in order: caption, place on the calculator panel, width, tag.
constexpr ButtonSpec kButtons[27] = {
    {"<-", 48, 6, 47, 0},  {"C", 153, 6, 48, 0},  {"MC", 5, 32, 31, 0},        {"7", 38, 32, 31, 7},
    {"8", 71, 32, 31, 8},  {"9", 104, 32, 31, 9}, {"/", 137, 32, 31, 0},       {"sqrt", 170, 32, 31, 0},
    {"MR", 5, 54, 31, 0},  {"4", 38, 54, 31, 4},  {"5", 71, 54, 31, 5},        {"6", 104, 54, 31, 6},
    {"*", 137, 54, 31, 0}, {"%", 170, 54, 31, 0}, {"MS", 5, 76, 31, 0},        {"1", 38, 76, 31, 1},
    {"2", 71, 76, 31, 2},  {"3", 104, 76, 31, 3}, {"-", 137, 76, 31, 0},       {"1/x", 170, 76, 31, 0},
    {"MP", 5, 98, 31, 0},  {"0", 38, 98, 31, 0},  {"\xC2\xB1", 71, 98, 31, 0}, {".", 104, 98, 31, 0},
    {"+", 137, 98, 31, 0}, {"=", 170, 98, 31, 0}, {"CE", 100, 6, 48, 0},
};

bool isDigitButton(int n) {
    return n == 4 || n == 5 || n == 6 || n == 10 || n == 11 || n == 12 || n == 16 || n == 17 || n == 18 || n == 22;
}

}  // namespace

// ---------------------------------------------------------------- button

TsCalcButton::TsCalcButton(QWidget* parent) : TsSpeedButton(parent) {
    SetFlat(false);
    setCursor(Qt::PointingHandCursor);
}

void TsCalcButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, syscolors::BtnFace());
    const bool down = CurrentState() == 2;
    const bool frame = !Flat() || (isEnabled() && (MouseOver() || down));
    if (frame) {
        // Classic push-button frame: light and dark edges, a black outer shadow.
        const int x0 = r.left(), y0 = r.top(), x1 = r.right(), y1 = r.bottom();
        if (down) {
            p.setPen(syscolors::WindowText());
            p.drawRect(r.adjusted(0, 0, -1, -1));
            p.setPen(syscolors::BtnShadow());
            p.drawRect(r.adjusted(1, 1, -2, -2));
        } else {
            p.setPen(syscolors::BtnHighlight());
            p.drawLine(x0, y0, x1 - 1, y0);
            p.drawLine(x0, y0, x0, y1 - 1);
            p.setPen(syscolors::WindowText());
            p.drawLine(x0, y1, x1, y1);
            p.drawLine(x1, y0, x1, y1);
            p.setPen(syscolors::BtnShadow());
            p.drawLine(x0 + 1, y1 - 1, x1 - 1, y1 - 1);
            p.drawLine(x1 - 1, y0 + 1, x1 - 1, y1 - 1);
        }
    }
    QRect textRect = r;
    if (down) textRect.translate(1, 1);
    p.setFont(font());
    if (isEnabled()) {
        p.setPen(syscolors::WindowText());
        p.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, Caption());
    } else {
        p.setPen(syscolors::BtnHighlight());
        p.drawText(textRect.translated(1, 1), Qt::AlignCenter | Qt::TextSingleLine, Caption());
        p.setPen(syscolors::BtnShadow());
        p.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, Caption());
    }
}

// ---------------------------------------------------------------- form

TsCalcForm::TsCalcForm(QWidget* owner) : TacPopupForm(owner), FEngine(this) {
    setWindowTitle(QStringLiteral("Calculator"));
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    setFont(f);
    resize(214, 176);

    FMainPanel = new TsPanel(this);
    FMainPanel->SetBorderWidth(4);
    FMainPanel->setGeometry(0, 0, 214, 176);

    sDragBar1 = new TsDragBar(FMainPanel);
    sDragBar1->SetCaption(QStringLiteral("Calculator"));
    sDragBar1->DraggedControl = this;
    sDragBar1->setGeometry(5, 5, 204, 20);
    sToolButton3 = new TsCalcButton(sDragBar1);
    sToolButton3->SetCaption(QStringLiteral("_"));
    sToolButton3->setGeometry(170, 1, 16, 18);
    sToolButton1 = new TsCalcButton(sDragBar1);
    sToolButton1->SetCaption(QStringLiteral("X"));
    sToolButton1->setGeometry(186, 1, 17, 18);
    const auto& hints = vesperine::ControlLibrary::CurrentResults().CalcButtonHints;
    sToolButton1->setToolTip(QString::fromStdString(hints[0]));
    sToolButton3->setToolTip(QString::fromStdString(hints[1]));
    connect(sToolButton1, &TsSpeedButton::clicked, this, [this] { Close(); });
    connect(sToolButton3, &TsSpeedButton::clicked, this, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) w->showMinimized();
    });

    sPanel2 = new TsPanel(FMainPanel);
    sPanel2->SetBevelOuter(TBevelCut::bvNone);
    sPanel2->resize(204, 2);
    SetAlign(sPanel2, TAlign::alTop);

    FDisplayPanel = new TsPanel(FMainPanel);
    FDisplayPanel->SetBevelOuter(TBevelCut::bvLowered);
    FDisplayPanel->SetBorderWidth(1);
    FDisplayPanel->SetColor(Qt::white);
    FDisplayPanel->SetCaptionAlignment(Qt::AlignRight | Qt::AlignVCenter);
    FDisplayPanel->SetCaption(QStringLiteral("0 "));
    FDisplayPanel->resize(204, 20);
    SetAlign(FDisplayPanel, TAlign::alTop);

    FCalculatorPanel = new TsPanel(FMainPanel);
    FCalculatorPanel->SetBevelOuter(TBevelCut::bvNone);
    FCalculatorPanel->SetBorderWidth(4);
    FCalculatorPanel->SetCaption(QStringLiteral(" "));
    SetAlign(FCalculatorPanel, TAlign::alClient);

    FCalcPanel = new TsPanel(FCalculatorPanel);
    FCalcPanel->SetBevelOuter(TBevelCut::bvNone);
    FCalcPanel->SetCaption(QStringLiteral(" "));
    FCalcPanel->setGeometry(8, 6, 33, 19);

    SetAlign(sDragBar1, TAlign::alTop);
    // Top-aligned children stack in creation order: bar, spacer, display.
    FMainPanel->Realign();
    SetAlign(FMainPanel, TAlign::alClient);

    for (int n = 1; n <= 27; ++n) {
        const ButtonSpec& s = kButtons[n - 1];
        auto* b = new TsCalcButton(FCalculatorPanel);
        b->SetCaption(QString::fromUtf8(s.caption));
        b->setGeometry(s.left, s.top, s.width, 20);
        b->Tag = s.tag;
        b->Spacing = n == 1 ? 0 : 3;
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &TsSpeedButton::clicked, this, [this, n] { ButtonClick(n); });
        Buttons[n - 1] = b;
    }
    Button(3)->setEnabled(false);  // MC
    Button(9)->setEnabled(false);  // MR

    // FormCreate
    FEngine.InitText("0");
    const char sep = formatSettings().decimalSeparator;
    Button(24)->SetCaption(QString(QLatin1Char(sep)));

    OnShow = [this](QObject*) { FormShow(); };
}

TsCalcForm::~TsCalcForm() = default;

void TsCalcForm::Register() {
    TsCustomNumEdit::SetCalculatorFactory([](TsCustomNumEdit* owner) -> TsCalcPopup* { return new TsCalcForm(owner); });
}

TsCalcButton* TsCalcForm::ButtonByCaption(const QString& caption) const {
    for (auto* b : Buttons)
        if (b->Caption() == caption) return b;
    return nullptr;
}

void TsCalcForm::ChangeBtnsStyle(bool flat) {
    for (auto* b : FCalculatorPanel->findChildren<TsSpeedButton*>()) b->SetFlat(flat);
}

void TsCalcForm::PrepareAsPopup(TsCustomNumEdit* editor) {
    FDisplayPanel->hide();
    sDragBar1->hide();
    FEngine.SetPrecision(16);
    FEditor = editor;
    FMainPanel->SetSingleBorder(false);
    FDisplayPanel->SetSingleBorder(false);
    FMainPanel->Realign();
}

void TsCalcForm::FormShow() {
    if (FEditor) FEngine.SetDisplay(FEditor->Value());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, syscolors::BtnFace());
    setPalette(pal);
    FMainPanel->Realign();
}

void TsCalcForm::FormKeyPress(QChar key) {
    const ushort code = key.unicode();
    if (code < 128) FEngine.CalcKey(static_cast<char>(code));
}

void TsCalcForm::keyPressEvent(QKeyEvent* e) {
    // The form previews keys when it has them itself (it never does as a popup).
    const QString t = e->text();
    if (t.size() == 1) {
        FormKeyPress(t[0]);
        return;
    }
    TacPopupForm::keyPressEvent(e);
}

void TsCalcForm::resizeEvent(QResizeEvent* e) {
    TacPopupForm::resizeEvent(e);
    FMainPanel->setGeometry(rect());  // the main panel fills the form
}

void TsCalcForm::ButtonClick(int n) {
    if (isDigitButton(n)) {
        FEngine.CalcKey(static_cast<char>('0' + Button(n)->Tag));
        return;
    }
    switch (n) {
    case 1: FEngine.CalcKey(controls::CalcEngine::kBackspace); break;
    case 27: FEngine.CalcKey('E'); break;
    case 2: FEngine.CalcKey('C'); break;
    case 3: FEngine.MemoryClear(); break;
    case 7: FEngine.CalcKey('/'); break;
    case 8: FEngine.CalcKey('Q'); break;
    case 9: FEngine.MemoryRecall(); break;
    case 13: FEngine.CalcKey('*'); break;
    case 14: FEngine.CalcKey('%'); break;
    case 15: FEngine.MemoryStore(); break;
    case 19: FEngine.CalcKey('-'); break;
    case 20: FEngine.CalcKey('R'); break;
    case 21: FEngine.MemoryAdd(); break;
    case 23: FEngine.CalcKey('_'); break;
    case 24: FEngine.CalcKey('.'); break;
    case 25: FEngine.CalcKey('+'); break;
    case 26: FEngine.CalcKey('='); break;
    default: break;
    }
}

// ---------------------------------------------------------------- host

platform::FormatSettings TsCalcForm::formatSettings() const { return platform::currentFormatSettings(); }

void TsCalcForm::outputText(const std::string& text) {
    const QString t = QString::fromStdString(text);
    if (FDisplayPanel && !FDisplayPanel->isHidden()) {
        FDisplayPanel->SetCaption(t + QLatin1Char(' '));
    } else if (FEditor) {
        FEditor->SetEditTextRaw(t);
        FEditor->repaint();
    }
}

bool TsCalcForm::handBack(const std::string& text) {
    if (!FEditor) return true;
    long double value = 0;
    if (!controls::TryTextToFloat(text, formatSettings().decimalSeparator, value)) {
        // "Error" is no number: the edit keeps its value and the calculator stays open.
        platform::beep();
        return false;
    }
    FEditor->SetValue(value);
    FEditor->setFocus();
    if (FEditor->AutoSelect()) FEditor->SelectAll();
    if (FEditor->OnChange) FEditor->OnChange(FEditor);
    return true;
}

void TsCalcForm::focusEditor() {
    if (FEditor) FEditor->setFocus();
}

void TsCalcForm::closeForm() { Close(); }

void TsCalcForm::memoryChanged(bool nonZero) {
    FCalcPanel->SetCaption(nonZero ? QStringLiteral("M") : QString());
    Button(3)->setEnabled(nonZero);
    Button(9)->setEnabled(nonZero);
}

std::optional<std::string> TsCalcForm::clipboardText() const {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (!data || !data->hasText()) return std::nullopt;
    return data->text().toStdString();
}

void TsCalcForm::setClipboardText(const std::string& text) {
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

void TsCalcForm::beep() { platform::beep(); }
