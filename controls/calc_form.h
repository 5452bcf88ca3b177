#pragma once
// The calculator popup: panels, 27 buttons and the engine. As the numeric
// edit's popup it hides its display and title strip and writes every
// display text straight into the edit.

#include <QPointer>
#include <array>

#include "controls/calc_engine.h"
#include "controls/drag_bar.h"
#include "controls/num_edit.h"
#include "controls/popup_form.h"
#include "controls/speed_button.h"

// A calculator key: the classic 3-D push button (frame only under the mouse
// when flat), caption centred, embossed while disabled.
class TsCalcButton : public TsSpeedButton {
    Q_OBJECT
public:
    explicit TsCalcButton(QWidget* parent = nullptr);
    int Tag = 0;
    int Spacing = 3;

protected:
    void paintEvent(QPaintEvent* e) override;
};

class TsCalcForm : public TacPopupForm, public TsCalcPopup, public controls::CalcHost {
    Q_OBJECT
public:
    explicit TsCalcForm(QWidget* owner = nullptr);
    ~TsCalcForm() override;

    // The numeric edit's calculator factory.
    static void Register();

    controls::CalcEngine& Engine() { return FEngine; }
    void CalcKey(char key) { FEngine.CalcKey(key); }
    QString Text() const { return QString::fromStdString(FEngine.Text()); }
    long double DisplayValue() const { return FEngine.GetDisplay(); }
    void SetDisplayValue(long double v) { FEngine.SetDisplay(v); }
    TsCustomNumEdit* Editor() const { return FEditor; }

    // TsCalcPopup
    TacPopupForm* PopupForm() override { return this; }
    void ChangeBtnsStyle(bool flat) override;
    void PrepareAsPopup(TsCustomNumEdit* editor) override;
    void FormKeyPress(QChar key) override;

    // Components, named as in the form's layout.
    TsPanel* FMainPanel = nullptr;
    TsDragBar* sDragBar1 = nullptr;
    TsCalcButton* sToolButton3 = nullptr;  // "_"
    TsCalcButton* sToolButton1 = nullptr;  // "X"
    TsPanel* sPanel2 = nullptr;
    TsPanel* FDisplayPanel = nullptr;
    TsPanel* FCalculatorPanel = nullptr;
    TsPanel* FCalcPanel = nullptr;
    std::array<TsCalcButton*, 27> Buttons{};                      // sSpeedButton1..27
    TsCalcButton* Button(int n) const { return Buttons[n - 1]; }  // 1-based, as named
    // The button showing a caption, or null.
    TsCalcButton* ButtonByCaption(const QString& caption) const;

    // CalcHost
    platform::FormatSettings formatSettings() const override;
    void outputText(const std::string& text) override;
    bool hasEditor() const override { return FEditor != nullptr; }
    bool handBack(const std::string& text) override;
    void focusEditor() override;
    void closeForm() override;
    void memoryChanged(bool nonZero) override;
    std::optional<std::string> clipboardText() const override;
    void setClipboardText(const std::string& text) override;
    void beep() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void FormShow();
    void ButtonClick(int n);

    controls::CalcEngine FEngine;
    QPointer<TsCustomNumEdit> FEditor;
};
