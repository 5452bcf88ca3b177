#pragma once
// The date edit's popup: a borderless form holding one month calendar. A
// click on a day, Enter or the today button hands the date to the edit.

#include <QPointer>
#include <functional>

#include "controls/date_edit.h"
#include "controls/month_calendar.h"
#include "controls/popup_form.h"

class TsPopupCalendar : public TacPopupForm, public TsDatePopup {
    Q_OBJECT
public:
    explicit TsPopupCalendar(QWidget* owner = nullptr);
    ~TsPopupCalendar() override;

    // The date edit's calendar factory.
    static void Register();

    TsMonthCalendar* sMonthCalendar1 = nullptr;
    TsMonthCalendar* Calendar() const { return sMonthCalendar1; }
    TsCustomDateEdit* Editor() const { return FEditor; }

    // Accepts the calendar's date into the editor (a click, the today button).
    void CalendarClick();
    // Enter: accepts and closes even when OnAcceptDate refuses.
    void AcceptByEnter();
    // Esc: closes without a change.
    void Cancel();
    void CloseUp();
    bool IsValidDate(platform::DateTime date) const;

    // TsDatePopup
    TacPopupForm* PopupForm() override { return this; }
    void SetLimits(platform::DateTime minDate, platform::DateTime maxDate) override;
    void SetAnimated(bool on) override;
    void SetCalendarDate(platform::DateTime date) override;
    void SetShowCurrentDate(bool on) override;
    void DisableDoubleClick() override;
    void SetEditor(TsCustomDateEdit* editor) override;
    void ApplySettings(const TsCalendarSettings& settings) override;
    void GridKeyDown(QKeyEvent* event) override;
    void GridKeyPress(QChar key) override;

    std::function<void(QObject* sender)> FCloseUp;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void FormShow();
    void FormClose(TCloseAction& action);
    void FormCloseQuery(bool& canClose);
    bool FShowCurrentDateOfEditor = true;
    QPointer<TsCustomDateEdit> FEditor;
};
