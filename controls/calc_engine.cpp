#include "controls/calc_engine.h"

#include <cmath>

#include "controls/number_format.h"
#include "controls/number_rules.h"

namespace controls {

CalcEngine::CalcEngine(CalcHost* host) : host_(host ? host : &nullHost_) {}

void CalcEngine::Beep() {
    if (FBeepOnError) host_->beep();
}

long double CalcEngine::GetDisplay() const {
    if (FStatus == TsCalcState::csError) return 0;
    long double value = 0;
    return TryTextToFloat(FText, decimalSeparator(), value) ? value : 0;
}

void CalcEngine::SetDisplay(long double value) {
    // An overflow has no number to show; treat it like the other undefined results.
    if (!std::isfinite(value)) {
        Error();
        return;
    }
    std::string text = FormatGeneral(value, DisplayDigits(), decimalSeparator());
    if (text != FText) {
        SetText(text);
        if (FOnDisplayChange) FOnDisplayChange();
    }
}

void CalcEngine::SetText(const std::string& text) {
    if (text == FText) return;
    FText = text;
    OutputText();
}

void CalcEngine::OutputText() {
    host_->outputText(FText);
    if (FOnTextChange) FOnTextChange();
}

void CalcEngine::CheckFirst() {
    if (FStatus == TsCalcState::csFirst) {
        FStatus = TsCalcState::csValid;
        SetText("0");
    }
}

void CalcEngine::Clear() {
    FStatus = TsCalcState::csFirst;
    SetDisplay(0);
    FOperator = '=';
}

void CalcEngine::Error() {
    FStatus = TsCalcState::csError;
    SetText("Error");
    Beep();
    if (FOnError) FOnError();
}

void CalcEngine::UpdateMemoryLabel() { host_->memoryChanged(FMemory != 0); }

void CalcEngine::Copy() { host_->setClipboardText(FText); }

void CalcEngine::Paste() {
    auto clip = host_->clipboardText();
    if (!clip) return;
    std::string text = *clip;
    const std::string currency = host_->formatSettings().currencyString;
    if (!currency.empty())
        for (size_t p; (p = text.find(currency)) != std::string::npos;) text.erase(p, currency.size());
    if (long double value = 0; TryTextToFloat(text, decimalSeparator(), value)) SetDisplay(value);
    else SetText("0");
}

void CalcEngine::Ok() {
    if (FStatus != TsCalcState::csError) {
        SetDisplay(GetDisplay());
        if (FOnOk) FOnOk();
    } else {
        Beep();
    }
}

void CalcEngine::MemoryStore() {
    if (FStatus == TsCalcState::csError) return;
    FStatus = TsCalcState::csFirst;
    FMemory = GetDisplay();
    UpdateMemoryLabel();
}

void CalcEngine::MemoryAdd() {
    if (FStatus == TsCalcState::csError) return;
    FStatus = TsCalcState::csFirst;
    FMemory = FMemory + GetDisplay();
    UpdateMemoryLabel();
}

void CalcEngine::MemoryRecall() {
    if (FStatus == TsCalcState::csError) return;
    FStatus = TsCalcState::csFirst;
    CheckFirst();
    SetDisplay(FMemory);
}

void CalcEngine::MemoryClear() {
    FMemory = 0;
    UpdateMemoryLabel();
}

void CalcEngine::HandBackResult(bool close) {
    if (!host_->handBack(FText)) return;  // "Error" and the like: the editor keeps its value
    if (close) host_->closeForm();
}

void CalcEngine::CalcKey(char key) {
    if (key >= 'a' && key <= 'z') key = static_cast<char>(key - 'a' + 'A');
    if (FStatus == TsCalcState::csError && key != 'C') key = 0;
    if (FOnCalcKey) FOnCalcKey(key);

    switch (key) {
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
        CheckFirst();
        if (FText == "0") SetText("");
        if (FText.find('E') != std::string::npos) return;
        size_t limit = DisplayDigits() + (FText.find('-') != std::string::npos ? 1 : 0);
        if (FText.size() < limit) SetText(FText + key);
        else Beep();
        return;
    }
    case '.':
    case ',': {
        CheckFirst();
        const char sep = decimalSeparator();
        if (FText.find(sep) == std::string::npos) SetText(FText + sep);
        return;
    }
    case kBackspace:
        CheckFirst();
        if (FText.size() == 1 || (FText.size() == 2 && FText[0] == '-')) SetText("0");
        else if (!FText.empty()) SetText(FText.substr(0, FText.size() - 1));
        else SetText("0");
        return;
    case 'E':
        CheckFirst();
        SetText("0");
        return;
    case 'C': Clear(); return;
    case '_': SetDisplay(-GetDisplay()); return;
    case 'Q':
        if (FStatus == TsCalcState::csError) return;
        FStatus = TsCalcState::csFirst;
        if (GetDisplay() < 0) Error();
        else SetDisplay(std::sqrt(GetDisplay()));
        return;
    case 'R':
        if (FStatus == TsCalcState::csError) return;
        FStatus = TsCalcState::csFirst;
        if (GetDisplay() == 0) Error();
        else SetDisplay(1 / GetDisplay());
        return;
    case '+':
    case '-':
    case '*':
    case '/':
    case '%':
    case '=':
    case kEnter: OperatorKey(key); return;
    case kEsc:
        if (FText != "0") {
            Clear();
        } else {
            if (host_->hasEditor()) host_->focusEditor();
            host_->closeForm();
        }
        return;
    case kCopy: Copy(); return;
    case kPaste: Paste(); return;
    default: return;
    }
}

void CalcEngine::OperatorKey(char k) {
    if (k == kEnter && FStatus == TsCalcState::csFirst) {
        if (host_->hasEditor()) HandBackResult(true);
        return;
    }
    if (FStatus == TsCalcState::csValid) {
        FStatus = TsCalcState::csFirst;
        long double v = GetDisplay();
        if (k == '%') {
            if (FOperator == '*' || FOperator == '/') v = v / 100;
            else if (FOperator == '+' || FOperator == '-') v = FOperand * v / 100;
        }
        switch (FOperator) {
        case '+': SetDisplay(FOperand + v); break;
        case '-': SetDisplay(FOperand - v); break;
        case '*': SetDisplay(FOperand * v); break;
        case '/':
            if (v == 0) Error();
            else SetDisplay(FOperand / v);
            break;
        default: break;
        }
    }
    FOperator = k;
    FOperand = GetDisplay();
    if (k == kEnter || k == '%' || k == '=')
        if (FOnResult) FOnResult();
    if (k == '=' && host_->hasEditor()) HandBackResult(host_->editorHoldsPopup());
}

}  // namespace controls
