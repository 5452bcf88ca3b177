#include "controls/num_edit.h"

#include <QKeyEvent>
#include <QPainter>
#include <cmath>

#include "controls/number_rules.h"
#include "platform/beep.h"
#include "platform/regional.h"

namespace {
TsCalcPopupFactory& Factory() {
    static TsCalcPopupFactory f;
    return f;
}

controls::NumberSeparators Seps() {
    const auto fs = platform::currentFormatSettings();
    return {fs.decimalSeparator, fs.thousandSeparator};
}
}  // namespace

TsCustomNumEdit::TsCustomNumEdit(QWidget* parent) : TsCustomComboEdit(parent) {
    SetAlignment(Qt::AlignRight);
    setMaxLength(32767);
    QLineEdit::setAlignment(Qt::AlignLeft);  // the window always edits left-aligned
    SetEditTextRaw(QString());
    FormatEditText();
    FPopupWidth = 216;
    FPopupHeight = 136;
}

TsCustomNumEdit::~TsCustomNumEdit() {
    if (FCalc) {
        delete FCalc->PopupForm();
        FCalc = nullptr;
    }
}

void TsCustomNumEdit::SetCalculatorFactory(TsCalcPopupFactory factory) { Factory() = std::move(factory); }

long double TsCustomNumEdit::ClampToRange(long double v) const {
    return controls::ClampToRange(v, {FMinValue, FMaxValue});
}

void TsCustomNumEdit::UpdateValueFromText() {
    FValue = controls::ValueFromText(Text().toStdString(), {FMinValue, FMaxValue}, Seps());
}

long double TsCustomNumEdit::Value() {
    try {
        UpdateValueFromText();
    } catch (const controls::EConvertError&) {
        FValue = FMinValue;
    }
    return FValue;
}

void TsCustomNumEdit::SetValue(long double v) {
    FValue = ClampToRange(v);
    FormatEditText();
    update();
}

int TsCustomNumEdit::AsInteger() { return int(std::trunc(Value())); }

QString TsCustomNumEdit::Text() const {
    return QString::fromStdString(controls::ReadableNumberText(EditText().toStdString()));
}

void TsCustomNumEdit::SetText(const QString& text) {
    const auto seps = Seps();
    const long double v = controls::TextToFloat(controls::NormalizeNumberText(text.toStdString(), seps), seps.decimal);
    FValue = ClampToRange(v);
    FormatEditText();
    update();
}

QString TsCustomNumEdit::DisplayText() const {
    if (hasFocus()) return EditText();
    const auto seps = Seps();
    long double v;
    const std::string normal = controls::NormalizeNumberText(EditText().toStdString(), seps);
    if (!controls::TryTextToFloat(normal, seps.decimal, v)) return EditText();
    return QString::fromStdString(controls::FormatDisplayText(v, FDisplayFormat.toStdString(), seps));
}

void TsCustomNumEdit::SetMinValue(long double v) {
    if (v == FMinValue) return;
    FMinValue = v;
    SetValue(FValue);
}

void TsCustomNumEdit::SetMaxValue(long double v) {
    if (v == FMaxValue) return;
    FMaxValue = v;
    SetValue(FValue);
}

void TsCustomNumEdit::SetDecimalPlaces(unsigned n) {
    if (n == FDecimalPlaces) return;
    FDecimalPlaces = n;
    FormatEditText();
    update();
}

void TsCustomNumEdit::SetDisplayFormat(const QString& f) {
    if (f == FDisplayFormat) return;
    FDisplayFormat = f;
    update();
    FormatEditText();
}

void TsCustomNumEdit::SetNumAlignment(Qt::Alignment a) {
    if (a == FNumAlignment) return;
    FNumAlignment = a;
    SetAlignment(a);
}

void TsCustomNumEdit::FormatEditText() {
    if (HasMask()) return;
    SetEditTextRaw(QString::fromStdString(controls::FormatEditText(FValue, FDecimalPlaces, Seps())));
}

void TsCustomNumEdit::Clear() { SetText(QString()); }

void TsCustomNumEdit::Reset() {
    FormatEditText();
    SelectAll();
}

bool TsCustomNumEdit::IsValidKey(QChar key) const {
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    const int len = hasSelectedText() ? int(selectedText().size()) : 0;
    return controls::IsValidKey(char32_t(key.unicode()), EditText().toStdU32String(), start, len, FDecimalPlaces,
                                {FMinValue, FMaxValue}, Seps());
}

void TsCustomNumEdit::Beep() const {
    if (FBeepOnError) platform::beep();
}

void TsCustomNumEdit::KeyPress(QChar& key) {
    if (FCalc && FCalc->PopupForm() && FCalc->PopupForm()->isVisible()) {
        FCalc->FormKeyPress(key);
        key = QChar();
        return;
    }
    const auto seps = Seps();
    if ((key == QLatin1Char(',') || key == QLatin1Char('.')) && key != QLatin1Char(seps.thousand))
        key = QLatin1Char(seps.decimal);
    TsCustomComboEdit::KeyPress(key);
    const ushort k = key.unicode();
    // Enter goes on to the form without a beep.
    if (k == 0 || k == 13 || k == 3 || k == 22) return;
    const bool hasExponent = Text().contains(QLatin1Char('E'), Qt::CaseInsensitive);
    const bool op = k == '%' || k == '*' || k == '+' || k == '/' || (k == '-' && !hasExponent);
    if (op) {
        const int selStart = hasSelectedText() ? selectionStart() : cursorPosition();
        if (selStart == 0) {
            if (k != '-') key = QChar();
            return;
        }
        if (k == '-' && Value() == 0) return;
        DoClick();
        if (FCalc && FCalc->PopupForm() && FCalc->PopupForm()->isVisible()) FCalc->FormKeyPress(key);
        key = QChar();
        return;
    }
    if (k == 8) return;
    if (k == 27) {
        Reset();
        key = QChar();
        return;
    }
    if (!IsValidKey(key)) {
        key = QChar();
        Beep();
    }
}

void TsCustomNumEdit::PasteFromClipboard() {
    const QString previous = EditText();
    TsCustomComboEdit::PasteFromClipboard();
    try {
        UpdateValueFromText();
    } catch (const controls::EConvertError&) {
        SetEditTextRaw(previous);
        selectAll();
        if (isEnabled() && isVisible()) setFocus(Qt::OtherFocusReason);
        Beep();
    }
}

void TsCustomNumEdit::Change() {
    if (FFormatting) return;
    TsCustomComboEdit::Change();
}

void TsCustomNumEdit::SetFocusedState(bool focused) {
    if (focused == FFocused) return;
    FFocused = focused;
    if (!(hasFocus() && FAutoSelect)) update();
    FFormatting = true;
    try {
        FormatEditText();
    } catch (...) {
        FFormatting = false;
        throw;
    }
    FFormatting = false;
}

void TsCustomNumEdit::DoEnter() {
    SetFocusedState(true);
    TsCustomComboEdit::DoEnter();
}

void TsCustomNumEdit::DoExit() {
    try {
        if (FCheckOnExitNum) {
            const auto seps = Seps();
            controls::TextToFloat(controls::NormalizeNumberText(EditText().toStdString(), seps), seps.decimal);
        }
        UpdateValueFromText();
    } catch (const controls::EConvertError&) {
        selectAll();
        TakeFocusBack();
        throw;
    }
    SetFocusedState(false);
    setCursorPosition(0);
    TsCustomComboEdit::DoExit();
}

QString TsCustomNumEdit::PaintedText() const { return DisplayText(); }

void TsCustomNumEdit::PaintFace(QPainter& p) { TsCustomComboEdit::PaintFace(p); }

void TsCustomNumEdit::OpenPopup() {
    if (!PopupCalculator() || !Factory()) return;
    if (FCalc) {
        QWidget* old = FCalc->PopupForm();
        FCalc = nullptr;
        SetPopupWindow(nullptr);
        delete old;
    }
    FCalc = Factory()(this);
    if (!FCalc) return;
    TacPopupForm* form = FCalc->PopupForm();
    SetPopupWindow(form);
    form->setFont(font());
    FCalc->ChangeBtnsStyle(FFlatButtons);
    FCalc->PrepareAsPopup(this);
    // Closing only hides it; it is freed at the next opening.
    form->OnClose = [](QObject*, TCloseAction&) {};
    TsCustomComboEdit::OpenPopup();
}

TsCalcEdit::TsCalcEdit(QWidget* parent) : TsCustomNumEdit(parent) { SetDefBmpID(4); }
