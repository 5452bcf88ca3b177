#pragma once
// The library's plain panel (bevels, border, caption, aligned children) and
// the drag bar, a caption-coloured panel on top that moves its form.

#include <QColor>
#include <QPointer>
#include <QWidget>
#include <functional>

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum class TBevelCut { bvNone, bvLowered, bvRaised };

// How a child sits in its TsPanel's client area (kept as a property of the child).
void SetAlign(QWidget* child, TAlign align);
TAlign GetAlign(const QWidget* child);

// The unskinned colours the library draws with.
namespace syscolors {
QColor BtnFace();
QColor BtnHighlight();
QColor BtnShadow();
QColor WindowText();
QColor Window();
QColor Highlight();
QColor HighlightText();
QColor ActiveCaption();
QColor CaptionText();
QColor GrayText();
}  // namespace syscolors

class TsPanel : public QWidget {
    Q_OBJECT
public:
    explicit TsPanel(QWidget* parent = nullptr);

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& c);
    QColor Color() const { return FColor; }
    void SetColor(const QColor& c);
    TBevelCut BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TBevelCut b);
    TBevelCut BevelInner() const { return FBevelInner; }
    void SetBevelInner(TBevelCut b);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int w);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int w);
    // A one-pixel frame around everything (the "border style" of the panel).
    bool SingleBorder() const { return FSingleBorder; }
    void SetSingleBorder(bool on);
    Qt::Alignment CaptionAlignment() const { return FCaptionAlignment; }
    void SetCaptionAlignment(Qt::Alignment a);
    QColor FontColor() const { return FFontColor; }
    void SetFontColor(const QColor& c);

    // The area left for aligned children.
    QRect ClientArea() const;
    // Lays out the aligned children (top ones in order, then bottom, left, right, client).
    void Realign();

    std::function<void(TsPanel* sender, QPainter& p)> OnPaint;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool event(QEvent* e) override;
    void PaintPanel(QPainter& p);

    QString FCaption;
    QColor FColor;
    QColor FFontColor;
    TBevelCut FBevelOuter = TBevelCut::bvRaised;
    TBevelCut FBevelInner = TBevelCut::bvNone;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
    bool FSingleBorder = false;
    Qt::Alignment FCaptionAlignment = Qt::AlignCenter;
    bool FRealigning = false;
};

// Top-aligned, 20 pixels high, active-caption colour, bold caption text;
// a left press drags DraggedControl (the form that holds it).
class TsDragBar : public TsPanel {
    Q_OBJECT
public:
    explicit TsDragBar(QWidget* parent = nullptr);

    QPointer<QWidget> DraggedControl;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

public:
    // The month calendar takes over presses (year menu) and double clicks (today).
    std::function<void(QMouseEvent* e)> OnMouseDown;
    std::function<void(QMouseEvent* e)> OnDblClick;

private:
    bool FDragging = false;
    QPoint FDragOffset;
};
