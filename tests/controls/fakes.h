#pragma once
// Stand-ins for the calendar and the calculator, recording what the edits
// hand them.

#include <QKeyEvent>
#include <QStringList>

#include "controls/date_edit.h"
#include "controls/num_edit.h"

class FakeCalendar : public TacPopupForm, public TsDatePopup {
public:
    explicit FakeCalendar(TsCustomDateEdit* owner) : TacPopupForm(owner) {}
    TacPopupForm* PopupForm() override { return this; }
    void SetLimits(DateTime mn, DateTime mx) override { Min = mn, Max = mx; }
    void SetAnimated(bool on) override { Animated = on; }
    void SetCalendarDate(DateTime d) override { CalendarDate = d; }
    void SetShowCurrentDate(bool) override {}
    void DisableDoubleClick() override {}
    void SetEditor(TsCustomDateEdit* e) override { Editor = e; }
    void ApplySettings(const TsCalendarSettings& s) override { Settings = s; }
    void GridKeyDown(QKeyEvent* e) override {
        Keys << QString::number(e->key(), 16);
        // Enter accepts the shown date, as the calendar does.
        if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && Editor) {
            Editor->SetDate(CalendarDate);
            Close();
        }
    }
    void GridKeyPress(QChar c) override { Keys << QString(c); }

    DateTime Min = -1, Max = -1, CalendarDate = -1;
    bool Animated = false;
    TsCustomDateEdit* Editor = nullptr;
    TsCalendarSettings Settings;
    QStringList Keys;
};

class FakeCalculator : public TacPopupForm, public TsCalcPopup {
public:
    explicit FakeCalculator(TsCustomNumEdit* owner) : TacPopupForm(owner) { ++Created; }
    ~FakeCalculator() override { ++Destroyed; }
    TacPopupForm* PopupForm() override { return this; }
    void ChangeBtnsStyle(bool flat) override { Flat = flat; }
    void PrepareAsPopup(TsCustomNumEdit* editor) override {
        Editor = editor;
        ShownValue = double(editor->Value());
    }
    void FormKeyPress(QChar key) override { Keys += key; }

    TsCustomNumEdit* Editor = nullptr;
    bool Flat = false;
    double ShownValue = -1;
    QString Keys;
    static inline int Created = 0, Destroyed = 0;
};
