#include "controls/calend_grid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "controls/month_calendar.h"

QColor MixColors(const QColor& a, const QColor& b, int k) {
    auto mix = [k](int x, int y) { return (x * k + y * (255 - k)) / 256; };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

TsCalendGrid::TsCalendGrid(TsMonthCalendar* owner) : QWidget(owner), FOwner(owner) {
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
}

int TsCalendGrid::ColCount() const { return FOwner->Layout().ColCount(); }
int TsCalendGrid::DefaultColWidth() const { return width() / ColCount(); }
int TsCalendGrid::DefaultRowHeight() const { return height() / 7; }

QRect TsCalendGrid::CellRect(int col, int row) const {
    int w = DefaultColWidth(), h = DefaultRowHeight();
    QRect r(col * w, row * h, w, h);
    if (col == ColCount() - 1) r.setRight(width() - 1);
    if (row == 6) r.setBottom(height() - 1);
    return r;
}

bool TsCalendGrid::MouseToCell(QPoint pos, int& col, int& row) const {
    int w = DefaultColWidth(), h = DefaultRowHeight();
    if (w <= 0 || h <= 0 || !rect().contains(pos)) return false;
    col = std::min(pos.x() / w, ColCount() - 1);
    row = std::min(pos.y() / h, 6);
    return true;
}

void TsCalendGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), FOwner->Color());
    for (int row = 0; row < RowCount - 1; ++row)
        for (int col = 0; col < ColCount(); ++col) paintCell(p, col, row);
}

void TsCalendGrid::paintCell(QPainter& p, int col, int row) {
    const controls::CalendarLayout& lay = FOwner->Layout();
    const QRect cell = CellRect(col, row);
    const QColor calColor = FOwner->Color();
    p.fillRect(cell, calColor);

    const bool weekCol = col < lay.WeekCol();
    const controls::CellPos cur = lay.CurrentCell();
    bool selected = row >= 1 && cur.col == col && cur.row == row;
    if (selected && !FOwner->ShowSelectAlways() && !hasFocus()) selected = false;
    const platform::DateTime date = lay.GetCellDate(col, row);
    const bool otherMonth = row >= 1 && !weekCol && lay.IsOtherMonth(col, row);
    const bool isToday = FOwner->ShowCurrentDate() && row >= 1 && !weekCol && !otherMonth && lay.Today &&
                         date == std::floor(lay.Today());

    QFont font = FOwner->font();
    QColor text = syscolors::WindowText();
    QRect area = cell;
    if (isToday) {
        QRectF r = QRectF(cell.adjusted(1, 0, 0, 1));
        QPainterPath path;
        path.addRoundedRect(r, 4, 4);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.fillPath(path, MixColors(FOwner->WeekendColor(), syscolors::BtnFace(), 77));
        p.setRenderHint(QPainter::Antialiasing, false);
        text = Qt::white;
        font.setBold(true);
    } else if (weekCol) {
        text = syscolors::GrayText();
        if (row == 0) {
            font = QFont(QStringLiteral("Small Fonts"));
            font.setPointSize(6);
        } else {
            font.setBold(true);
        }
        p.setPen(text);
        p.drawLine(cell.right(), cell.top(), cell.right(), cell.bottom());
        area.setRight(area.right() - 3);
    } else {
        text = lay.IsWeekendCol(col, FOwner->Weekends()) ? FOwner->WeekendColor() : syscolors::WindowText();
        if (otherMonth) text = MixColors(text, calColor, 127);
    }

    QColor background = calColor;
    if (row >= 1 && !weekCol) {
        QColor cellBg(255, 0, 255);
        if (FOwner->FOnDrawDay) FOwner->FOnDrawDay(FOwner->DrawDaySender, font, cellBg, date);
        else if (FOwner->FOnGetCellParams) FOwner->FOnGetCellParams(this, font, cellBg, date);
        if (cellBg != QColor(255, 0, 255)) {
            background = cellBg;
            if (!isToday) p.fillRect(cell, cellBg);
        }
    }

    const QString caption = FOwner->GetCellText(col, row);
    QRect selRect = cell.adjusted(2, 2, -2, -2);
    selRect.adjust(1, -1, 0, 0);
    if (selected && !caption.isEmpty()) {
        font.setBold(true);
        if (!isToday) {
            p.fillRect(selRect, syscolors::Highlight());
            text = syscolors::HighlightText();
            background = syscolors::Highlight();
        }
    }
    if (row >= 1 && !weekCol && !lay.IsValidDate(date)) text = MixColors(text, background, 77);

    p.setFont(font);
    p.setPen(text);
    p.save();
    p.setClipRect(cell);
    p.drawText(area, Qt::AlignCenter | Qt::TextSingleLine, caption);
    p.restore();

    if (selected && hasFocus()) {
        QPen pen(syscolors::WindowText(), 1, Qt::DotLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(selRect.adjusted(-1, -1, 0, 0));
    }
}

void TsCalendGrid::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    if (FOwner->InPopup && (!window()->isVisible() || Clicked)) return;
    int col, row;
    if (!MouseToCell(e->position().toPoint(), col, row)) return;
    if (col < FOwner->Layout().WeekCol() || row < 1) return;
    bool changed = FOwner->Layout().SelectCell(col, row);
    if (!changed && FOwner->Layout().IsValidDate(FOwner->Layout().GetCellDate(col, row))) FOwner->UpdateCalendar();
    FOwner->Changed(changed);
    if (!FOwner->InPopup) setFocus();
}

void TsCalendGrid::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !FOwner->InPopup) return;
    if (Clicked || !window()->isVisible() || !rect().contains(e->position().toPoint())) return;
    Clicked = true;
    if (FOwner->OnGridRelease) FOwner->OnGridRelease();
    Clicked = false;
}

void TsCalendGrid::mouseDoubleClickEvent(QMouseEvent* e) {
    // A second press inside a popup is a press like the first; outside, the
    // calendar's double-click event fires.
    if (FOwner->InPopup) {
        mousePressEvent(e);
        return;
    }
    if (FOwner->OnDblClick) FOwner->OnDblClick(FOwner);
}

void TsCalendGrid::keyPressEvent(QKeyEvent* e) {
    if (FOwner->GridKeyDown(e->key(), e->modifiers())) return;
    QString t = e->text();
    if (t.size() == 1 && FOwner->GridKeyPress(t[0])) return;
    QWidget::keyPressEvent(e);
}
