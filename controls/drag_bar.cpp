#include "controls/drag_bar.h"

#include <QChildEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVariant>

namespace {
constexpr const char* kAlignProperty = "acAlign";
}

void SetAlign(QWidget* child, TAlign align) {
    child->setProperty(kAlignProperty, static_cast<int>(align));
    if (auto* panel = qobject_cast<TsPanel*>(child->parentWidget())) panel->Realign();
}

TAlign GetAlign(const QWidget* child) {
    QVariant v = child->property(kAlignProperty);
    return v.isValid() ? static_cast<TAlign>(v.toInt()) : TAlign::alNone;
}

namespace syscolors {
// The classic desktop scheme, so the controls look the same on every machine.
QColor BtnFace() { return QColor(240, 240, 240); }
QColor BtnHighlight() { return QColor(255, 255, 255); }
QColor BtnShadow() { return QColor(160, 160, 160); }
QColor WindowText() { return QColor(0, 0, 0); }
QColor Window() { return QColor(255, 255, 255); }
QColor Highlight() { return QColor(0, 120, 215); }
QColor HighlightText() { return QColor(255, 255, 255); }
QColor ActiveCaption() { return QColor(153, 180, 209); }
QColor CaptionText() { return QColor(0, 0, 0); }
QColor GrayText() { return QColor(109, 109, 109); }
}  // namespace syscolors

TsPanel::TsPanel(QWidget* parent) : QWidget(parent), FColor(syscolors::BtnFace()), FFontColor(syscolors::WindowText()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TsPanel::SetCaption(const QString& c) {
    if (c == FCaption) return;
    FCaption = c;
    update();
}

void TsPanel::SetColor(const QColor& c) {
    FColor = c;
    update();
}

void TsPanel::SetFontColor(const QColor& c) {
    FFontColor = c;
    update();
}

void TsPanel::SetBevelOuter(TBevelCut b) {
    FBevelOuter = b;
    Realign();
    update();
}

void TsPanel::SetBevelInner(TBevelCut b) {
    FBevelInner = b;
    Realign();
    update();
}

void TsPanel::SetBevelWidth(int w) {
    FBevelWidth = w;
    Realign();
    update();
}

void TsPanel::SetBorderWidth(int w) {
    FBorderWidth = w;
    Realign();
    update();
}

void TsPanel::SetSingleBorder(bool on) {
    FSingleBorder = on;
    Realign();
    update();
}

void TsPanel::SetCaptionAlignment(Qt::Alignment a) {
    FCaptionAlignment = a;
    update();
}

QRect TsPanel::ClientArea() const {
    int inset = FBorderWidth + (FSingleBorder ? 1 : 0);
    if (FBevelOuter != TBevelCut::bvNone) inset += FBevelWidth;
    if (FBevelInner != TBevelCut::bvNone) inset += FBevelWidth;
    return rect().adjusted(inset, inset, -inset, -inset);
}

void TsPanel::Realign() {
    if (FRealigning) return;
    FRealigning = true;
    QRect area = ClientArea();
    const QObjectList kids = children();
    auto place = [&](TAlign which) {
        for (QObject* o : kids) {
            auto* w = qobject_cast<QWidget*>(o);
            if (!w || w->isWindow() || w->isHidden() || GetAlign(w) != which) continue;
            switch (which) {
            case TAlign::alTop:
                w->setGeometry(area.left(), area.top(), area.width(), w->height());
                area.setTop(area.top() + w->height());
                break;
            case TAlign::alBottom:
                w->setGeometry(area.left(), area.bottom() + 1 - w->height(), area.width(), w->height());
                area.setBottom(area.bottom() - w->height());
                break;
            case TAlign::alLeft:
                w->setGeometry(area.left(), area.top(), w->width(), area.height());
                area.setLeft(area.left() + w->width());
                break;
            case TAlign::alRight:
                w->setGeometry(area.right() + 1 - w->width(), area.top(), w->width(), area.height());
                area.setRight(area.right() - w->width());
                break;
            case TAlign::alClient: w->setGeometry(area); break;
            case TAlign::alNone: break;
            }
        }
    };
    for (TAlign a : {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient}) place(a);
    FRealigning = false;
}

void TsPanel::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Realign();
}

bool TsPanel::event(QEvent* e) {
    bool r = QWidget::event(e);
    // A child shown, hidden or resized moves its aligned siblings.
    if (e->type() == QEvent::LayoutRequest || e->type() == QEvent::ChildAdded || e->type() == QEvent::ChildRemoved)
        Realign();
    return r;
}

static void drawBevel(QPainter& p, QRect& r, TBevelCut cut, int width) {
    if (cut == TBevelCut::bvNone) return;
    QColor topLeft = cut == TBevelCut::bvRaised ? syscolors::BtnHighlight() : syscolors::BtnShadow();
    QColor bottomRight = cut == TBevelCut::bvRaised ? syscolors::BtnShadow() : syscolors::BtnHighlight();
    for (int i = 0; i < width; ++i) {
        p.setPen(topLeft);
        p.drawLine(r.left(), r.top(), r.right(), r.top());
        p.drawLine(r.left(), r.top(), r.left(), r.bottom());
        p.setPen(bottomRight);
        p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        p.drawLine(r.right(), r.top(), r.right(), r.bottom());
        r.adjust(1, 1, -1, -1);
    }
}

void TsPanel::PaintPanel(QPainter& p) {
    QRect r = rect();
    p.fillRect(r, FColor);
    if (FSingleBorder) {
        p.setPen(syscolors::WindowText());
        p.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }
    drawBevel(p, r, FBevelOuter, FBevelWidth);
    r.adjust(FBorderWidth, FBorderWidth, -FBorderWidth, -FBorderWidth);
    drawBevel(p, r, FBevelInner, FBevelWidth);
    if (!FCaption.isEmpty()) {
        p.setPen(FFontColor);
        p.setFont(font());
        p.drawText(r, int(FCaptionAlignment) | Qt::TextSingleLine, FCaption);
    }
}

void TsPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintPanel(p);
    if (OnPaint) OnPaint(this, p);
}

TsDragBar::TsDragBar(QWidget* parent) : TsPanel(parent) {
    SetAlign(this, TAlign::alTop);
    resize(width(), 20);
    FColor = syscolors::ActiveCaption();
    FFontColor = syscolors::CaptionText();
    FBevelOuter = TBevelCut::bvNone;
    QFont f = font();
    f.setBold(true);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
}

void TsDragBar::mousePressEvent(QMouseEvent* e) {
    if (OnMouseDown) {
        OnMouseDown(e);
        return;
    }
    QWidget* target = DraggedControl ? DraggedControl.data() : window();
    if (e->button() == Qt::LeftButton && target) {
        FDragging = true;
        FDragOffset = e->globalPosition().toPoint() - target->frameGeometry().topLeft();
    }
}

void TsDragBar::mouseMoveEvent(QMouseEvent* e) {
    QWidget* target = DraggedControl ? DraggedControl.data() : window();
    if (FDragging && target) target->move(e->globalPosition().toPoint() - FDragOffset);
}

void TsDragBar::mouseReleaseEvent(QMouseEvent*) { FDragging = false; }

void TsDragBar::mouseDoubleClickEvent(QMouseEvent* e) {
    if (OnDblClick) OnDblClick(e);
}
