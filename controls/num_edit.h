#pragma once
// The numeric edit: one floating-point value; only text that stays a number
// can be typed; shown formatted while it does not have the focus; opens a
// popup calculator from its button or when an operator is typed.
//
// The calculator lives elsewhere and plugs in through SetCalculatorFactory.

#include <functional>

#include "controls/combo_edit.h"
#include "controls/popup_form.h"

class TsCustomNumEdit;

// The calculator popup as the numeric edit sees it. The object is a
// TacPopupForm (PopupForm() returns it); the edit owns it, creates a fresh one
// at each opening and deletes the previous one.
class TsCalcPopup {
public:
    virtual ~TsCalcPopup() = default;
    virtual TacPopupForm* PopupForm() = 0;
    // Flat style of all its buttons.
    virtual void ChangeBtnsStyle(bool flat) = 0;
    // Prepares it as the edit's popup: display panel and drag bar hidden,
    // 16 significant digits, the edit as its editor (display texts go into
    // the edit's text through SetEditTextRaw), panel borders none. When shown
    // it loads the editor's Value.
    virtual void PrepareAsPopup(TsCustomNumEdit* editor) = 0;
    // A typed character forwarded by the edit while the popup is open.
    virtual void FormKeyPress(QChar key) = 0;
};
using TsCalcPopupFactory = std::function<TsCalcPopup*(TsCustomNumEdit* owner)>;

class TsCustomNumEdit : public TsCustomComboEdit {
    Q_OBJECT
public:
    explicit TsCustomNumEdit(QWidget* parent = nullptr);
    ~TsCustomNumEdit() override;

    static void SetCalculatorFactory(TsCalcPopupFactory factory);

    long double Value();
    void SetValue(long double v);
    int AsInteger();
    QString Text() const override;
    void SetText(const QString& text) override;  // raises on a non-number
    QString DisplayText() const;
    long double MinValue() const { return FMinValue; }
    void SetMinValue(long double v);
    long double MaxValue() const { return FMaxValue; }
    void SetMaxValue(long double v);
    unsigned DecimalPlaces() const { return FDecimalPlaces; }
    void SetDecimalPlaces(unsigned n);
    QString DisplayFormat() const { return FDisplayFormat; }
    void SetDisplayFormat(const QString& f);
    Qt::Alignment NumAlignment() const { return FNumAlignment; }
    void SetNumAlignment(Qt::Alignment a);
    bool BeepOnError() const { return FBeepOnError; }
    void SetBeepOnError(bool on) { FBeepOnError = on; }
    bool CheckOnExitNum() const { return FCheckOnExitNum; }
    void SetCheckOnExitNum(bool on) { FCheckOnExitNum = on; }
    bool FlatButtons() const { return FFlatButtons; }
    void SetFlatButtons(bool on) { FFlatButtons = on; }
    virtual bool PopupCalculator() const { return true; }

    void Clear();
    void Reset();
    void OpenPopup() override;
    void PasteFromClipboard() override;
    TsCalcPopup* Calculator() const { return FCalc; }

    // For the calculator: writes a display text straight into the edit text.
    void SetEditTextRaw(const QString& text) {
        TsMaskEdit::SetEditTextRaw(text);
        update();
    }

    // The edit's own rules, for tests and the calculator.
    long double ClampToRange(long double v) const;
    bool IsValidKey(QChar key) const;
    void FormatEditText();
    void UpdateValueFromText();  // raises the conversion error

protected:
    void KeyPress(QChar& key) override;
    void Change() override;
    void DoEnter() override;
    void DoExit() override;
    QString PaintedText() const override;
    void PaintFace(QPainter& p) override;
    void SetFocusedState(bool focused);

    long double FValue = 0;
    long double FMinValue = 0;
    long double FMaxValue = 0;
    bool FFocused = false;
    bool FBeepOnError = true;
    bool FCheckOnExitNum = false;
    bool FFlatButtons = false;
    bool FFormatting = false;
    Qt::Alignment FNumAlignment = Qt::AlignRight;
    unsigned FDecimalPlaces = 2;
    QString FDisplayFormat = QStringLiteral("### ### ##0.00;-### ### ##0.00;0");
    TsCalcPopup* FCalc = nullptr;

private:
    void Beep() const;
};

class TsCalcEdit : public TsCustomNumEdit {
    Q_OBJECT
public:
    explicit TsCalcEdit(QWidget* parent = nullptr);
};
