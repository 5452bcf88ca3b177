#pragma once
// The day grid of the month calendar: a fixed row of day names, six weeks,
// every cell painted by paintCell from the calendar's layout.

#include <QWidget>

class TsMonthCalendar;

// Per channel (a·k + b·(255 − k)) div 256.
QColor MixColors(const QColor& a, const QColor& b, int k);

class TsCalendGrid : public QWidget {
    Q_OBJECT
public:
    explicit TsCalendGrid(TsMonthCalendar* owner);

    TsMonthCalendar* FOwner;
    bool Clicked = false;  // a click is being handled

    int ColCount() const;
    static constexpr int RowCount = 8;  // row 7 is never drawn
    int DefaultColWidth() const;
    int DefaultRowHeight() const;
    // The cell's rectangle; the last column reaches the right edge, row 6 the bottom.
    QRect CellRect(int col, int row) const;
    // False outside the cells.
    bool MouseToCell(QPoint pos, int& col, int& row) const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void paintCell(QPainter& p, int col, int row);
};
