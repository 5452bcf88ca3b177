#pragma once
// The calculator's engine: keys in, display text out. No window here; the
// form (or a test) plugs in through CalcHost and only pulls the text.

#include <functional>
#include <optional>
#include <string>

#include "platform/regional.h"

namespace controls {

enum class TsCalcState { csFirst, csValid, csError };

// What the engine needs from its surroundings. The defaults describe a
// calculator without editor, clipboard or sound.
class CalcHost {
public:
    virtual ~CalcHost() = default;
    // Locale values, read at each use.
    virtual platform::FormatSettings formatSettings() const { return platform::FormatSettings{}; }
    // The display text changed: show it on the panel or in the editor.
    virtual void outputText(const std::string& /*text*/) {}
    virtual bool hasEditor() const { return false; }
    virtual bool editorHoldsPopup() const { return true; }
    // Writes the text into the editor's value; false when the text is no number
    // (the editor then keeps its value).
    virtual bool handBack(const std::string& /*text*/) { return true; }
    virtual void focusEditor() {}
    virtual void closeForm() {}
    virtual void memoryChanged(bool /*nonZero*/) {}
    virtual std::optional<std::string> clipboardText() const { return std::nullopt; }
    virtual void setClipboardText(const std::string& /*text*/) {}
    virtual void beep() {}
};

class CalcEngine {
public:
    static constexpr char kBackspace = 8, kEnter = 13, kEsc = 27, kCopy = 3, kPaste = 22;

    explicit CalcEngine(CalcHost* host = nullptr);

    void CalcKey(char key);
    void Clear();
    void Copy();
    void Paste();
    // Memory buttons.
    void MemoryStore();   // "MS"
    void MemoryAdd();     // "MP"
    void MemoryRecall();  // "MR"
    void MemoryClear();   // "MC"
    // "OK" of the menu: reformat the display, then FOnOk.
    void Ok();

    long double GetDisplay() const;
    void SetDisplay(long double value);
    void SetText(const std::string& text);
    // Sets the text without showing it (the form's creation step).
    void InitText(const std::string& text) { FText = text; }

    const std::string& Text() const { return FText; }
    TsCalcState Status() const { return FStatus; }
    char PendingOperator() const { return FOperator; }
    long double Operand() const { return FOperand; }
    long double Memory() const { return FMemory; }
    int Precision() const { return FPrecision; }
    void SetPrecision(int digits) { FPrecision = static_cast<unsigned char>(digits); }
    int DisplayDigits() const { return FPrecision > 2 ? FPrecision : 2; }
    bool BeepOnError() const { return FBeepOnError; }
    void SetBeepOnError(bool on) { FBeepOnError = on; }
    CalcHost* host() const { return host_; }
    void setHost(CalcHost* host) { host_ = host ? host : &nullHost_; }

    std::function<void()> FOnOk, FOnError, FOnCancel, FOnResult, FOnTextChange, FOnDisplayChange;
    std::function<void(char&)> FOnCalcKey;

private:
    void CheckFirst();
    void Error();
    void OutputText();
    void UpdateMemoryLabel();
    void OperatorKey(char key);
    void HandBackResult(bool close);
    void Beep();
    char decimalSeparator() const { return host_->formatSettings().decimalSeparator; }

    CalcHost nullHost_;
    CalcHost* host_;
    long double FOperand = 0;
    std::string FText = "0";
    long double FMemory = 0;
    unsigned char FPrecision = 0;
    bool FBeepOnError = false;
    TsCalcState FStatus = TsCalcState::csFirst;
    char FOperator = 0;
};

}  // namespace controls
