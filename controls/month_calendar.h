#pragma once
// The month calendar: a title bar with month and year between four
// navigation buttons, the day grid and an optional today button.

#include <QColor>
#include <QFont>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <array>
#include <functional>
#include <vector>

#include "controls/calendar_events.h"
#include "controls/calendar_layout.h"
#include "controls/drag_bar.h"
#include "controls/speed_button.h"

class TsCalendGrid;
class QKeyEvent;

// Navigation button: a flat speed button whose arrow is drawn by hand; one
// step per click.
class TsTimerSpeedButton : public TsSpeedButton {
    Q_OBJECT
public:
    enum class Arrow { PrevYear, PrevMonth, NextMonth, NextYear };
    TsTimerSpeedButton(Arrow arrow, QWidget* parent);
    bool AllowTimer = true;  // kept for compatibility; a held button does not repeat
    Arrow arrow() const { return FArrow; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    Arrow FArrow;
};

// Today button at the bottom: a flat speed button with a bold caption.
class TsCalendarTodayButton : public TsSpeedButton {
    Q_OBJECT
public:
    explicit TsCalendarTodayButton(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* e) override;
};

class TsMonthCalendar : public TsPanel {
    Q_OBJECT
public:
    explicit TsMonthCalendar(QWidget* parent = nullptr);
    ~TsMonthCalendar() override;

    // The date arithmetic the widget paints from.
    controls::CalendarLayout& Layout() { return FLayout; }
    const controls::CalendarLayout& Layout() const { return FLayout; }

    platform::DateTime CalendarDate() const { return FLayout.CalendarDate(); }
    void SetCalendarDate(platform::DateTime date);
    int Day() const { return FLayout.Day(); }
    int Month() const { return FLayout.Month(); }
    int Year() const { return FLayout.Year(); }
    void SetDay(int d);
    void SetMonth(int m);
    void SetYear(int y);
    platform::DateTime MinDate() const { return FLayout.MinDate; }
    platform::DateTime MaxDate() const { return FLayout.MaxDate; }
    void SetMinDate(platform::DateTime d) {
        FLayout.MinDate = d;
        update();
    }
    void SetMaxDate(platform::DateTime d) {
        FLayout.MaxDate = d;
        update();
    }
    bool IsValidDate(platform::DateTime d) const { return FLayout.IsValidDate(d); }

    void PrevMonth();
    void NextMonth();
    void PrevYear();
    void NextYear();
    void UpdateCalendar();
    platform::DateTime GetCellDate(int col, int row) const { return FLayout.GetCellDate(col, row); }
    QString GetCellText(int col, int row) const;
    // The date of the cell under a point of the calendar, 0 outside the grid.
    platform::DateTime MousePosToDate(QPoint pos) const;

    bool ReadOnly() const { return FLayout.ReadOnly; }
    void SetReadOnly(bool on) { FLayout.ReadOnly = on; }
    bool ShowTitle() const { return FShowTitle; }
    void SetShowTitle(bool on);
    bool ShowWeeks() const { return FLayout.ShowWeeks; }
    void SetShowWeeks(bool on);
    bool ShowTodayBtn() const { return FShowTodayBtn; }
    void SetShowTodayBtn(bool on);
    bool ShowYearBtns() const { return FShowYearBtns; }
    void SetShowYearBtns(bool on);
    bool ShowMonthBtns() const { return FShowMonthBtns; }
    void SetShowMonthBtns(bool on);
    bool ShowSelectAlways() const { return FShowSelectAlways; }
    void SetShowSelectAlways(bool on) {
        FShowSelectAlways = on;
        update();
    }
    bool AllowChangeMonth() const { return FLayout.AllowChangeMonth; }
    void SetAllowChangeMonth(bool on) { FLayout.AllowChangeMonth = on; }
    bool ShowCurrentDate() const { return FShowCurrentDate; }
    void SetShowCurrentDate(bool on);
    bool UseCurrentDate() const { return FLayout.UseCurrentDate; }
    QColor WeekendColor() const { return FWeekendColor; }
    void SetWeekendColor(const QColor& c);
    controls::TDaysOfWeek Weekends() const { return FWeekends; }
    void SetWeekends(controls::TDaysOfWeek w);
    controls::TCalDayOfWeek StartOfWeek() const { return FLayout.StartOfWeek; }
    void SetStartOfWeek(controls::TCalDayOfWeek d);
    bool Animated() const { return FAnimated; }
    void SetAnimated(bool on) { FAnimated = on; }

    TsCalendGrid* Grid() const { return FGrid; }
    TsDragBar* DragBar() const { return FDragBar; }
    TsCalendarTodayButton* TodayBtn() const { return FTodayBtn; }
    TsTimerSpeedButton* Btn(int i) const { return FBtns[i]; }
    QMenu* YearMenu() const { return PopMenu; }
    bool YearMenuOpen() const { return FMenuOpen; }

    // Keys of the grid (the popup and the date edit pass theirs here).
    // True when the key was used.
    bool GridKeyDown(int key, Qt::KeyboardModifiers mods);
    bool GridKeyPress(QChar ch);

    // A month or year step with the slide when Animated. The slide runs from
    // a timer, so the popup keeps answering clicks and keys meanwhile; a new
    // step, or hiding the calendar, ends the running slide first.
    void SlideStep(int months, int years);
    bool Sliding() const;

    TsGetCellParamsEvent FOnDrawDay;        // sender: the editor
    TsGetCellParamsEvent FOnGetCellParams;  // sender: the grid
    QObject* DrawDaySender = nullptr;
    std::function<void(QObject* sender)> FOnChange;
    std::function<void(QObject* sender)> OnDblClick;
    // Set by a popup: Enter/Esc and the mouse release accept or cancel there.
    std::function<void()> OnAcceptRequest;
    std::function<void()> OnGridRelease;
    std::function<void()> OnCancelRequest;
    bool InPopup = false;
    // The today button, after it set today.
    std::function<void()> OnTodayClick;

protected:
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    friend class TsCalendGrid;
    class SlideOverlay;
    void ShowSlideFrame();
    void FinishSlide();
    void Changed(bool dateChanged);
    void UpdateTitle();
    void UpdateTodayCaption();
    void FontChanged();
    void LayoutTitleButtons();
    void TitleMouseDown(QMouseEvent* e);
    void BuildYearMenu();
    void RenewMenuChecks();

    controls::CalendarLayout FLayout;
    bool FUpdating = false;
    bool FShowTitle = true;
    bool FShowTodayBtn = false;
    bool FShowYearBtns = true;
    bool FShowMonthBtns = true;
    bool FShowSelectAlways = true;
    bool FShowCurrentDate = true;
    QColor FWeekendColor = QColor(255, 0, 0);
    controls::TDaysOfWeek FWeekends{controls::TCalDayOfWeek::dowSunday};
    bool FAnimated = true;
    bool FMenuOpen = false;
    QMenu* PopMenu = nullptr;
    TsCalendGrid* FGrid = nullptr;
    TsDragBar* FDragBar = nullptr;
    TsPanel* FSpacer = nullptr;
    TsCalendarTodayButton* FTodayBtn = nullptr;
    std::array<TsTimerSpeedButton*, 4> FBtns{};
    QPointer<SlideOverlay> FSlideOverlay;
    std::vector<int> FSlideFrames;
    std::size_t FSlideFrame = 0;
    QTimer* FSlideTimer = nullptr;
};
