#include "controls/month_calendar.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "controls/calend_grid.h"
#include "graphics/startup.h"
#include "platform/datetime.h"

using controls::CalendarLayout;
using platform::DateTime;

namespace {

void drawTriangle(QPainter& p, QPointF tip, double h, bool left) {
    // An arrow head h high, its tip at `tip`.
    double w = h / 2;
    QPainterPath path;
    path.moveTo(tip);
    path.lineTo(tip.x() + (left ? w : -w), tip.y() - h / 2);
    path.lineTo(tip.x() + (left ? w : -w), tip.y() + h / 2);
    path.closeSubpath();
    p.fillPath(path, p.pen().color());
}

void drawFlatFrame(QPainter& p, const QRect& r, bool down) {
    p.setPen(down ? syscolors::BtnShadow() : syscolors::BtnHighlight());
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(down ? syscolors::BtnHighlight() : syscolors::BtnShadow());
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

}  // namespace

// Shows the old and the new grid side by side while the month slides. Clicks
// go through to the grid beneath.
class TsMonthCalendar::SlideOverlay : public QWidget {
public:
    explicit SlideOverlay(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    QPixmap oldImage, newImage;
    int x = 0;
    bool forward = true;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const int w = width();
        if (forward) {
            p.drawPixmap(-x, 0, oldImage);
            p.drawPixmap(w - x, 0, newImage);
        } else {
            p.drawPixmap(x, 0, oldImage);
            p.drawPixmap(x - w, 0, newImage);
        }
    }
};

// ---------------------------------------------------------------- buttons

TsTimerSpeedButton::TsTimerSpeedButton(Arrow arrow, QWidget* parent) : TsSpeedButton(parent), FArrow(arrow) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    SetFlat(true);
    QFont f = font();
    f.setPointSize(10);
    setFont(f);
}

void TsTimerSpeedButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    const bool down = CurrentState() == 2;
    if (isEnabled() && (down || MouseOver())) drawFlatFrame(p, r.adjusted(0, 0, -1, -1), down);
    p.setPen(isEnabled() ? syscolors::CaptionText() : syscolors::GrayText());
    p.setRenderHint(QPainter::Antialiasing, true);
    const double h = std::max(5.0, std::min(r.height() - 8.0, 9.0));
    const QPointF centre = QRectF(r).center() + QPointF(down ? 1 : 0, down ? 1 : 0);
    const bool left = FArrow == Arrow::PrevYear || FArrow == Arrow::PrevMonth;
    const bool twice = FArrow == Arrow::PrevYear || FArrow == Arrow::NextYear;
    const double w = h / 2;
    if (twice) {
        double tip = left ? centre.x() - w : centre.x() + w;
        drawTriangle(p, {tip, centre.y()}, h, left);
        drawTriangle(p, {left ? tip + w : tip - w, centre.y()}, h, left);
    } else {
        drawTriangle(p, {left ? centre.x() - w / 2 : centre.x() + w / 2, centre.y()}, h, left);
    }
}

TsCalendarTodayButton::TsCalendarTodayButton(QWidget* parent) : TsSpeedButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    SetFlat(true);
    QFont f = font();
    f.setBold(true);
    setFont(f);
}

void TsCalendarTodayButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const bool down = CurrentState() == 2;
    if (isEnabled() && (down || MouseOver())) drawFlatFrame(p, rect().adjusted(0, 0, -1, -1), down);
    p.setPen(isEnabled() ? syscolors::WindowText() : syscolors::GrayText());
    p.setFont(font());
    QRect r = rect();
    if (down) r.translate(1, 1);
    p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, Caption());
}

// ---------------------------------------------------------------- calendar

TsMonthCalendar::TsMonthCalendar(QWidget* parent) : TsPanel(parent) {
    resize(178, 139);
    FBevelWidth = 1;
    FBorderWidth = 3;
    FCaption = QStringLiteral(" ");

    FDragBar = new TsDragBar(this);
    FDragBar->resize(width(), 20);
    FDragBar->SetCaption(QStringLiteral(" "));
    FDragBar->OnMouseDown = [this](QMouseEvent* e) { TitleMouseDown(e); };
    FDragBar->OnDblClick = [this](QMouseEvent*) {
        if (FLayout.GoToday()) Changed(true);
    };

    const TsTimerSpeedButton::Arrow arrows[4] = {
        TsTimerSpeedButton::Arrow::PrevYear, TsTimerSpeedButton::Arrow::PrevMonth, TsTimerSpeedButton::Arrow::NextMonth,
        TsTimerSpeedButton::Arrow::NextYear};
    for (int i = 0; i < 4; ++i) {
        FBtns[i] = new TsTimerSpeedButton(arrows[i], FDragBar);
        FBtns[i]->resize(FDragBar->height() - 4, FDragBar->height());
    }
    connect(FBtns[0], &TsSpeedButton::clicked, this, [this] { SlideStep(0, -1); });
    connect(FBtns[1], &TsSpeedButton::clicked, this, [this] { SlideStep(-1, 0); });
    connect(FBtns[2], &TsSpeedButton::clicked, this, [this] { SlideStep(+1, 0); });
    connect(FBtns[3], &TsSpeedButton::clicked, this, [this] { SlideStep(0, +1); });

    FSpacer = new TsPanel(this);
    FSpacer->SetBevelOuter(TBevelCut::bvNone);
    FSpacer->resize(width(), 3);
    SetAlign(FSpacer, TAlign::alTop);

    FTodayBtn = new TsCalendarTodayButton(this);
    FTodayBtn->resize(width(), 18);
    SetAlign(FTodayBtn, TAlign::alBottom);
    FTodayBtn->hide();
    connect(FTodayBtn, &TsSpeedButton::clicked, this, [this] {
        if (FLayout.GoToday()) Changed(true);
        if (OnTodayClick) OnTodayClick();
    });

    FGrid = new TsCalendGrid(this);
    SetAlign(FGrid, TAlign::alClient);

    // One frame of the slide every 12 ms.
    FSlideTimer = new QTimer(this);
    FSlideTimer->setTimerType(Qt::PreciseTimer);
    FSlideTimer->setInterval(12);
    connect(FSlideTimer, &QTimer::timeout, this, [this] { ShowSlideFrame(); });

    UpdateTodayCaption();
    FontChanged();
    UpdateCalendar();
}

TsMonthCalendar::~TsMonthCalendar() = default;

void TsMonthCalendar::UpdateTodayCaption() {
    std::string caption = vesperine::ControlLibrary::CurrentResults().TodayCaption;
    if (caption.empty()) caption = "Today: ";
    const platform::FormatSettings fs = platform::currentFormatSettings();
    caption += platform::formatDateTime(" mmmm d, yyyy", platform::today(), fs);
    FTodayBtn->SetCaption(QString::fromStdString(caption));
}

void TsMonthCalendar::FontChanged() {
    QFontMetrics fm(font());
    const int h = fm.height() + 4;
    const int bw = fm.horizontalAdvance(QLatin1Char('W')) + 10;
    FDragBar->resize(FDragBar->width(), h);
    FTodayBtn->resize(FTodayBtn->width(), h);
    for (auto* b : FBtns) b->resize(bw, h);
    Realign();
    LayoutTitleButtons();
}

void TsMonthCalendar::changeEvent(QEvent* e) {
    TsPanel::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        QFont bold = font();
        bold.setBold(true);
        FDragBar->setFont(bold);
        FTodayBtn->setFont(bold);
        FontChanged();
    }
}

void TsMonthCalendar::resizeEvent(QResizeEvent* e) {
    TsPanel::resizeEvent(e);
    LayoutTitleButtons();
}

void TsMonthCalendar::LayoutTitleButtons() {
    const int h = FDragBar->height();
    int left = 0, right = FDragBar->width();
    for (int i : {0, 1}) {
        FBtns[i]->setGeometry(left, 0, FBtns[i]->width(), h);
        if (!FBtns[i]->isHidden()) left += FBtns[i]->width();
    }
    for (int i : {3, 2}) {
        FBtns[i]->setGeometry(right - FBtns[i]->width(), 0, FBtns[i]->width(), h);
        if (!FBtns[i]->isHidden()) right -= FBtns[i]->width();
    }
}

void TsMonthCalendar::mouseDoubleClickEvent(QMouseEvent* e) {
    if (!InPopup && OnDblClick) OnDblClick(this);
    TsPanel::mouseDoubleClickEvent(e);
}

QString TsMonthCalendar::GetCellText(int col, int row) const {
    return QString::fromStdString(FLayout.GetCellText(col, row, platform::currentFormatSettings()));
}

DateTime TsMonthCalendar::MousePosToDate(QPoint pos) const {
    int col, row;
    if (!FGrid->MouseToCell(FGrid->mapFrom(this, pos), col, row)) return 0;
    return FLayout.GetCellDate(col, row);
}

void TsMonthCalendar::UpdateTitle() {
    const platform::FormatSettings fs = platform::currentFormatSettings();
    const int m = FLayout.Month();
    FDragBar->SetCaption(QString::fromStdString(fs.longMonthNames[m - 1]) + QLatin1Char(' ') +
                         QString::number(FLayout.Year()));
}

void TsMonthCalendar::UpdateCalendar() {
    FUpdating = true;
    FLayout.UpdateCalendar();
    UpdateTitle();
    FUpdating = false;
    FGrid->update();
}

void TsMonthCalendar::Changed(bool dateChanged) {
    if (dateChanged) {
        UpdateTitle();
        if (FOnChange) FOnChange(this);
    }
    FGrid->update();
}

void TsMonthCalendar::SetCalendarDate(DateTime date) { Changed(FLayout.SetCalendarDate(date)); }
void TsMonthCalendar::SetDay(int d) { Changed(FLayout.SetDay(d)); }
void TsMonthCalendar::SetMonth(int m) { Changed(FLayout.SetMonth(m)); }
void TsMonthCalendar::SetYear(int y) { Changed(FLayout.SetYear(y)); }
void TsMonthCalendar::PrevMonth() { Changed(FLayout.PrevMonth()); }
void TsMonthCalendar::NextMonth() { Changed(FLayout.NextMonth()); }
void TsMonthCalendar::PrevYear() { Changed(FLayout.PrevYear()); }
void TsMonthCalendar::NextYear() { Changed(FLayout.NextYear()); }

void TsMonthCalendar::SetShowTitle(bool on) {
    FShowTitle = on;
    FDragBar->setVisible(on);
    Realign();
}

void TsMonthCalendar::SetShowWeeks(bool on) {
    FLayout.ShowWeeks = on;
    UpdateCalendar();
}

void TsMonthCalendar::SetShowTodayBtn(bool on) {
    FShowTodayBtn = on;
    FTodayBtn->setVisible(on);
    Realign();
}

void TsMonthCalendar::SetShowYearBtns(bool on) {
    FShowYearBtns = on;
    FBtns[0]->setVisible(on);
    FBtns[3]->setVisible(on);
    LayoutTitleButtons();
}

void TsMonthCalendar::SetShowMonthBtns(bool on) {
    FShowMonthBtns = on;
    FBtns[1]->setVisible(on);
    FBtns[2]->setVisible(on);
    LayoutTitleButtons();
}

void TsMonthCalendar::SetShowCurrentDate(bool on) {
    FShowCurrentDate = on;
    FGrid->update();
}

void TsMonthCalendar::SetWeekendColor(const QColor& c) {
    FWeekendColor = c;
    FGrid->update();
}

void TsMonthCalendar::SetWeekends(controls::TDaysOfWeek w) {
    FWeekends = w;
    UpdateCalendar();
}

void TsMonthCalendar::SetStartOfWeek(controls::TCalDayOfWeek d) {
    FLayout.StartOfWeek = d;
    UpdateCalendar();
}

bool TsMonthCalendar::GridKeyDown(int key, Qt::KeyboardModifiers mods) {
    const Qt::KeyboardModifiers m = mods & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const bool keypad = mods & Qt::KeypadModifier;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (InPopup && OnAcceptRequest) OnAcceptRequest();
        return InPopup;
    case Qt::Key_Escape:
        if (InPopup && OnCancelRequest) OnCancelRequest();
        return InPopup;
    case Qt::Key_PageUp: Changed(m & Qt::ControlModifier ? FLayout.PrevYear() : FLayout.PrevMonth()); return true;
    case Qt::Key_PageDown: Changed(m & Qt::ControlModifier ? FLayout.NextYear() : FLayout.NextMonth()); return true;
    case Qt::Key_Left:
        if (m) return false;
        Changed(FLayout.StepDays(-1));
        return true;
    case Qt::Key_Right:
        if (m) return false;
        Changed(FLayout.StepDays(+1));
        return true;
    case Qt::Key_Minus:
        if (!keypad || m) return false;
        Changed(FLayout.StepDays(-1));
        return true;
    case Qt::Key_Plus:
        if (!keypad || m) return false;
        Changed(FLayout.StepDays(+1));
        return true;
    case Qt::Key_Up: Changed(FLayout.StepDays(-7)); return true;
    case Qt::Key_Down: Changed(FLayout.StepDays(+7)); return true;
    default: return false;
    }
}

bool TsMonthCalendar::GridKeyPress(QChar ch) {
    if (ch == QLatin1Char('T') || ch == QLatin1Char('t')) {
        Changed(FLayout.GoToday());
        return true;
    }
    return false;
}

void TsMonthCalendar::SlideStep(int months, int years) {
    FinishSlide();
    auto apply = [&] {
        if (months) return FLayout.StepMonth(months);
        return FLayout.StepYear(years);
    };
    const bool forward = months > 0 || years > 0;
    if (!FAnimated || !FGrid->isVisible() || FGrid->width() <= 0) {
        Changed(apply());
        return;
    }
    QPixmap oldImage = FGrid->grab();
    FGrid->setUpdatesEnabled(false);
    const bool changed = apply();
    FGrid->setUpdatesEnabled(true);
    if (!changed) return;
    UpdateTitle();
    FDragBar->repaint();

    FSlideOverlay = new SlideOverlay(this);
    FSlideOverlay->setGeometry(FGrid->geometry());
    FSlideOverlay->oldImage = oldImage;
    FSlideOverlay->newImage = FGrid->grab();
    FSlideOverlay->forward = forward;
    FSlideOverlay->show();
    FSlideFrames = controls::SlideOffsets(FGrid->width());
    FSlideFrame = 0;
    ShowSlideFrame();
    FSlideTimer->start();
}

bool TsMonthCalendar::Sliding() const { return FSlideOverlay != nullptr; }

void TsMonthCalendar::ShowSlideFrame() {
    if (!FSlideOverlay) return;
    if (FSlideFrame >= FSlideFrames.size()) {
        FinishSlide();
        return;
    }
    FSlideOverlay->x = FSlideFrames[FSlideFrame++];
    FSlideOverlay->repaint();
}

void TsMonthCalendar::FinishSlide() {
    FSlideTimer->stop();
    if (!FSlideOverlay) return;
    delete FSlideOverlay.data();
    FSlideFrames.clear();
    if (FOnChange) FOnChange(this);
    FGrid->update();
}

void TsMonthCalendar::hideEvent(QHideEvent* e) {
    FinishSlide();
    TsPanel::hideEvent(e);
}

void TsMonthCalendar::TitleMouseDown(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !FLayout.AllowChangeMonth) return;
    if (!PopMenu) BuildYearMenu();
    else RenewMenuChecks();
    FMenuOpen = true;
    PopMenu->exec(e->globalPosition().toPoint());
    FMenuOpen = false;
}

void TsMonthCalendar::BuildYearMenu() {
    PopMenu = new QMenu(this);
    const platform::FormatSettings fs = platform::currentFormatSettings();
    auto addYear = [&](QMenu* parent, int year) {
        QMenu* sub = parent->addMenu(QString::number(year));
        sub->menuAction()->setData(year);
        sub->menuAction()->setCheckable(true);
        for (int m = 1; m <= 12; ++m) {
            QAction* a = sub->addAction(QString::fromStdString(fs.longMonthNames[m - 1]));
            a->setCheckable(true);
            a->setData(year * 100 + m);
            connect(a, &QAction::triggered, this, [this, year, m] {
                bool changed = FLayout.SetYear(year);
                changed = FLayout.SetMonth(m) || changed;
                Changed(changed);
            });
        }
    };
    for (const auto& entry : controls::YearMenuLayout(FLayout.Year())) {
        if (entry.first == entry.last) {
            addYear(PopMenu, entry.first);
        } else {
            QMenu* group = PopMenu->addMenu(QStringLiteral("%1..%2").arg(entry.first).arg(entry.last));
            for (int y = entry.first; y <= entry.last; ++y) addYear(group, y);
        }
    }
    RenewMenuChecks();
}

void TsMonthCalendar::RenewMenuChecks() {
    const int year = FLayout.Year(), month = FLayout.Month();
    std::function<void(QMenu*)> walk = [&](QMenu* menu) {
        menu->setDefaultAction(nullptr);
        for (QAction* a : menu->actions()) {
            if (QMenu* sub = a->menu()) {
                if (a->isCheckable()) {
                    const bool current = a->data().toInt() == year;
                    a->setChecked(current);
                    QFont f = a->font();
                    f.setBold(current);
                    a->setFont(f);
                }
                walk(sub);
            } else if (a->isCheckable()) {
                const bool current = a->data().toInt() == year * 100 + month;
                a->setChecked(current);
                if (current) menu->setDefaultAction(a);
            }
        }
    };
    walk(PopMenu);
}
