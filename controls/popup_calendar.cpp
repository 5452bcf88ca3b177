#include "controls/popup_calendar.h"

#include <QKeyEvent>

#include "controls/calend_grid.h"

using platform::DateTime;

TsPopupCalendar::TsPopupCalendar(QWidget* owner) : TacPopupForm(owner) {
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    setFont(f);
    setProperty("tag", -98);
    resize(189, 132);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, syscolors::BtnFace());
    setPalette(pal);

    sMonthCalendar1 = new TsMonthCalendar(this);
    sMonthCalendar1->SetBorderWidth(3);
    sMonthCalendar1->SetBevelWidth(1);
    sMonthCalendar1->SetCaption(QStringLiteral(" "));
    sMonthCalendar1->setGeometry(rect());
    sMonthCalendar1->InPopup = true;
    sMonthCalendar1->OnAcceptRequest = [this] { AcceptByEnter(); };
    sMonthCalendar1->OnCancelRequest = [this] { Cancel(); };
    // A release over the grid accepts as a click does (no close on refusal).
    sMonthCalendar1->OnGridRelease = [this] { CalendarClick(); };
    sMonthCalendar1->Grid()->setFocusPolicy(Qt::NoFocus);
    sMonthCalendar1->OnTodayClick = [this] { CalendarClick(); };

    OnShow = [this](QObject*) { FormShow(); };
    OnClose = [this](QObject*, TCloseAction& action) { FormClose(action); };
    OnCloseQuery = [this](QObject*, bool& canClose) { FormCloseQuery(canClose); };
}

TsPopupCalendar::~TsPopupCalendar() = default;

void TsPopupCalendar::Register() {
    TsCustomDateEdit::SetDatePopupFactory([](TsCustomDateEdit* owner) -> TsDatePopup* {
        return new TsPopupCalendar(owner);
    });
}

void TsPopupCalendar::resizeEvent(QResizeEvent* e) {
    TacPopupForm::resizeEvent(e);
    sMonthCalendar1->setGeometry(rect());  // the calendar fills the form
}

bool TsPopupCalendar::IsValidDate(DateTime date) const {
    if (!FEditor) return true;
    return (FEditor->MinDate() == 0 || FEditor->MinDate() <= date) &&
           (FEditor->MaxDate() == 0 || date <= FEditor->MaxDate());
}

void TsPopupCalendar::CloseUp() {
    if (FCloseUp) FCloseUp(FEditor.data());
}

void TsPopupCalendar::CalendarClick() {
    if (!FEditor) {
        Close();
        return;
    }
    DateTime date = sMonthCalendar1->CalendarDate();
    if (!IsValidDate(date)) return;
    bool accept = true;
    if (FEditor->OnAcceptDate) FEditor->OnAcceptDate(FEditor, date, accept);
    if (!accept) return;
    TsCustomDateEdit* editor = FEditor;
    editor->SetDate(date);
    // The edit holds its change event back while the popup is open.
    if (editor->OnChange) editor->OnChange(editor);
    Close();
    if (editor->isVisible() && editor->isEnabled()) editor->setFocus();
    CloseUp();
    if (editor->hasFocus() && editor->AutoSelect()) editor->SelectAll();
}

void TsPopupCalendar::AcceptByEnter() {
    if (!FEditor) {
        Close();
        CloseUp();
        return;
    }
    DateTime date = sMonthCalendar1->CalendarDate();
    if (!IsValidDate(date)) return;
    bool accept = true;
    if (FEditor->OnAcceptDate) FEditor->OnAcceptDate(FEditor, date, accept);
    TsCustomDateEdit* editor = FEditor;
    if (accept) {
        editor->SetDate(date);
        if (editor->OnChange) editor->OnChange(editor);
    }
    editor->setFocus();
    if (editor->AutoSelect()) editor->SelectAll();
    Close();
    CloseUp();
}

void TsPopupCalendar::Cancel() {
    if (FEditor && FEditor->isVisible()) FEditor->setFocus();
    Close();
    CloseUp();
}

void TsPopupCalendar::SetLimits(DateTime minDate, DateTime maxDate) {
    sMonthCalendar1->SetMinDate(minDate);
    sMonthCalendar1->SetMaxDate(maxDate);
}

void TsPopupCalendar::SetAnimated(bool on) { sMonthCalendar1->SetAnimated(on); }

void TsPopupCalendar::SetCalendarDate(DateTime date) { sMonthCalendar1->SetCalendarDate(date); }

void TsPopupCalendar::SetShowCurrentDate(bool on) { FShowCurrentDateOfEditor = on; }

void TsPopupCalendar::DisableDoubleClick() { sMonthCalendar1->OnDblClick = nullptr; }

void TsPopupCalendar::SetEditor(TsCustomDateEdit* editor) {
    FEditor = editor;
    sMonthCalendar1->DrawDaySender = editor;
}

void TsPopupCalendar::ApplySettings(const TsCalendarSettings& s) {
    sMonthCalendar1->SetStartOfWeek(s.StartOfWeek);
    sMonthCalendar1->SetWeekends(s.Weekends);
    sMonthCalendar1->SetWeekendColor(s.WeekendColor);
    sMonthCalendar1->SetShowWeeks(s.ShowWeeks);
    sMonthCalendar1->SetShowTodayBtn(s.ShowTodayBtn);
    resize(width(), s.ShowTodayBtn ? 160 : 144);
    sMonthCalendar1->FOnDrawDay = s.OnDrawDay;
    sMonthCalendar1->FOnGetCellParams = s.OnGetCellParams;
    FCloseUp = s.OnCloseUp;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, syscolors::BtnFace());
    setPalette(pal);
    for (int i = 0; i < 4; ++i) sMonthCalendar1->Btn(i)->setToolTip(i < s.Hints.size() ? s.Hints[i] : QString());
}

void TsPopupCalendar::GridKeyDown(QKeyEvent* event) { sMonthCalendar1->GridKeyDown(event->key(), event->modifiers()); }

void TsPopupCalendar::GridKeyPress(QChar key) { sMonthCalendar1->GridKeyPress(key); }

void TsPopupCalendar::keyPressEvent(QKeyEvent* e) {
    // The form previews keys (only when it has the focus itself).
    if (sMonthCalendar1->GridKeyDown(e->key(), e->modifiers())) return;
    const QString t = e->text();
    if (t.size() == 1 && sMonthCalendar1->GridKeyPress(t[0])) return;
    TacPopupForm::keyPressEvent(e);
}

void TsPopupCalendar::FormShow() {
    sMonthCalendar1->DragBar()->setCursor(Qt::ArrowCursor);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, syscolors::BtnFace());
    setPalette(pal);
    sMonthCalendar1->SetShowCurrentDate(FShowCurrentDateOfEditor);
}

void TsPopupCalendar::FormClose(TCloseAction&) { sMonthCalendar1->Grid()->Clicked = false; }

void TsPopupCalendar::FormCloseQuery(bool& canClose) {
    if (sMonthCalendar1->YearMenuOpen()) canClose = false;
}
