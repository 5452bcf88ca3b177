#pragma once
// The date edit: a combo edit for one date typed through the locale's date
// mask, completed into a valid date (or left empty) when the focus leaves,
// with date keys and a popup calendar.
//
// The calendar lives elsewhere and plugs in through SetDatePopupFactory, so
// that this edit needs no knowledge of its classes.

#include <QColor>
#include <QFont>
#include <QStringList>
#include <functional>

#include "controls/calendar_events.h"
#include "controls/calendar_layout.h"
#include "controls/combo_edit.h"
#include "controls/popup_form.h"
#include "platform/datetime.h"

using platform::DateTime;
using platform::NullDate;

class TsCustomDateEdit;

using controls::TCalDayOfWeek;
using controls::TDaysOfWeek;
enum class TYearDigits { dyDefault, dyFour, dyTwo };

using TsAcceptDateEvent = std::function<void(QObject* sender, DateTime& date, bool& accept)>;

// What the date edit passes on to its calendar (whenever settings change
// and before each opening).
struct TsCalendarSettings {
    TCalDayOfWeek StartOfWeek = TCalDayOfWeek::dowLocaleDefault;
    TDaysOfWeek Weekends{TCalDayOfWeek::dowSunday};
    QColor WeekendColor = QColor(255, 0, 0);
    bool ShowWeeks = false;
    bool ShowTodayBtn = true;
    TsGetCellParamsEvent OnDrawDay;
    TsGetCellParamsEvent OnGetCellParams;
    std::function<void(QObject* sender)> OnCloseUp;
    QStringList Hints;  // at most 4: previous year, previous month, next month, next year
};

// The popup calendar as the date edit sees it. The object is a TacPopupForm
// (PopupForm() returns it); the edit owns it and deletes it with itself.
class TsDatePopup {
public:
    virtual ~TsDatePopup() = default;
    virtual TacPopupForm* PopupForm() = 0;
    virtual void SetLimits(DateTime minDate, DateTime maxDate) = 0;
    virtual void SetAnimated(bool on) = 0;
    virtual void SetCalendarDate(DateTime date) = 0;
    virtual void SetShowCurrentDate(bool on) = 0;
    // Switch off the calendar's own double-click event.
    virtual void DisableDoubleClick() = 0;
    virtual void SetEditor(TsCustomDateEdit* editor) = 0;
    // Settings; also sets the popup's height (160 with the today button,
    // 144 without) and its colour.
    virtual void ApplySettings(const TsCalendarSettings& settings) = 0;
    // Keys passed on while the popup is open: Enter, Esc, Page Up/Down, the
    // arrows, keypad + and -; characters "+", "-", "T", "t".
    virtual void GridKeyDown(QKeyEvent* event) = 0;
    virtual void GridKeyPress(QChar key) = 0;
};
using TsDatePopupFactory = std::function<TsDatePopup*(TsCustomDateEdit* owner)>;

class TsCustomDateEdit : public TsCustomComboEdit {
    Q_OBJECT
public:
    explicit TsCustomDateEdit(QWidget* parent = nullptr);
    ~TsCustomDateEdit() override;

    // The calendar registers itself here (once, at start).
    static void SetDatePopupFactory(TsDatePopupFactory factory);
    // The date popup open in the program, if any.
    static TsCustomDateEdit* CurrentDatePopupOwner();

    DateTime Date() const;
    void SetDate(DateTime value);
    DateTime DateValue() const;
    void SetDateValue(DateTime value);
    QString DateText() const;
    void SetDateText(const QString& text) { FDateText = text; }
    virtual void ApplyDate(DateTime value);
    void UpdateMask();
    QString GetDateMask() const;
    QString GetFormatMask() const;
    QString DateFormat() const { return FDateFormat; }
    bool CheckValidDate(bool raiseErrors = true);

    DateTime MinDate() const { return FMinDate; }
    void SetMinDate(DateTime d);
    DateTime MaxDate() const { return FMaxDate; }
    void SetMaxDate(DateTime d);
    QChar BlanksChar() const { return FBlanksChar; }
    void SetBlanksChar(QChar c);
    TYearDigits YearDigits() const { return FYearDigits; }
    void SetYearDigits(TYearDigits d);
    bool FourDigitYear() const;
    bool DefaultToday() const { return FDefaultToday; }
    void SetDefaultToday(bool on) { FDefaultToday = on; }
    bool AssumeDefault() const { return FAssumeDefault; }
    void SetAssumeDefault(bool on) { FAssumeDefault = on; }
    bool CheckOnExitProp() const { return true; }
    void SetCheckOnExitProp(bool on) { FCheckOnExitDate = on; }
    bool Animated() const { return FAnimated; }
    void SetAnimated(bool on) { FAnimated = on; }
    bool ShowCurrentDate() const { return FShowCurrentDate; }
    void SetShowCurrentDate(bool on) { FShowCurrentDate = on; }
    QString DialogTitle() const { return FTitle; }
    void SetDialogTitle(const QString& t) { FTitle = t; }
    const TsCalendarSettings& CalendarSettings() const { return FSettings; }
    void SetStartOfWeek(TCalDayOfWeek d);
    void SetWeekends(TDaysOfWeek d);
    void SetWeekendColor(const QColor& c);
    void SetShowWeeks(bool on);
    void SetShowTodayBtn(bool on);
    void SetCalendarHints(const QStringList& hints);
    void SetOnGetCellParams(TsGetCellParamsEvent e);
    void SetOnDrawDay(TsGetCellParamsEvent e);
    void SetOnCloseUp(std::function<void(QObject*)> e);

    TsAcceptDateEvent OnAcceptDate;
    std::function<void(QObject* sender, QFont& font)> OnGetPopupFont;

    TsDatePopup* Popup() const { return FPopup; }
    void OpenPopup() override;

    // Character index (1..10, 0 right of the text) under an x position, and
    // the selection it leads to.
    int CharIndexAt(int x) const;

protected:
    void KeyDown(QKeyEvent* event, bool& handled) override;
    void KeyPress(QChar& key) override;
    void Change() override;
    void DoExit() override;
    void mousePressEvent(QMouseEvent* e) override;
    bool ClosesPopupOnFocusLoss() const override { return true; }
    bool event(QEvent* e) override;
    void PassSettings();

    bool FAssumeDefault = true;
    bool FFormatting = false;
    bool FShowCurrentDate = true;
    bool FDefaultToday = false;
    bool FCheckOnExitDate = false;
    DateTime FMinDate = 0, FMaxDate = 0, FIntDate = 0;
    QString FTitle = QStringLiteral("Date select");
    QChar FBlanksChar = QLatin1Char(' ');
    TYearDigits FYearDigits = TYearDigits::dyFour;
    QString FDateFormat;
    bool FAnimated = true;
    QString FDateText;
    TsCalendarSettings FSettings;
    TsDatePopup* FPopup = nullptr;

private:
    void TextTracking();
};

class TsDateEdit : public TsCustomDateEdit {
    Q_OBJECT
public:
    explicit TsDateEdit(QWidget* parent = nullptr);
};
