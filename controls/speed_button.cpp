#include "controls/speed_button.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

TsSpeedButton::TsSpeedButton(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_Hover, false);
    setMouseTracking(false);
    glyph_.NumGlyphs = 1;
}

TsSpeedButton::~TsSpeedButton() = default;

void TsSpeedButton::Changed() { update(); }

void TsSpeedButton::SetImages(vesperine::TsAlphaImageList* list) {
    glyph_.Images = list;
    Changed();
}
void TsSpeedButton::SetImageIndex(int value) {
    glyph_.ImageIndex = value;
    Changed();
}
void TsSpeedButton::SetImageIndexHot(int value) {
    glyph_.ImageIndexHot = value;
    Changed();
}
void TsSpeedButton::SetImageIndexPressed(int value) {
    glyph_.ImageIndexPressed = value;
    Changed();
}
void TsSpeedButton::SetImageIndexDisabled(int value) {
    glyph_.ImageIndexDisabled = value;
    Changed();
}
void TsSpeedButton::SetImageIndexSelected(int value) {
    glyph_.ImageIndexSelected = value;
    Changed();
}
void TsSpeedButton::SetBlend(int value) {
    glyph_.Blend = std::clamp(value, 0, 100);
    Changed();
}
void TsSpeedButton::SetGrayed(bool value) {
    glyph_.Grayed = value;
    Changed();
}
void TsSpeedButton::SetReflected(bool value) {
    glyph_.Reflected = value;
    Changed();
}
void TsSpeedButton::SetGlyphColorTone(graphics::TColor value) {
    glyph_.GlyphColorTone = value;
    Changed();
}
void TsSpeedButton::SetDisabledGlyphKind(unsigned value) {
    glyph_.DisabledGlyphKind = value;
    Changed();
}
void TsSpeedButton::SetDisabledKind(unsigned value) {
    glyph_.DisabledKind = value;
    Changed();
}
void TsSpeedButton::SetNumGlyphs(int value) {
    glyph_.NumGlyphs = std::max(1, value);
    Changed();
}
void TsSpeedButton::SetShowCaption(bool value) {
    showCaption_ = value;
    Changed();
}
void TsSpeedButton::SetCaption(const QString& value) {
    caption_ = value;
    Changed();
}
void TsSpeedButton::SetDown(bool value) {
    glyph_.Down = value;
    Changed();
}
void TsSpeedButton::SetGroupIndex(int value) {
    groupIndex_ = value;
    glyph_.InGroup = value != 0;
    Changed();
}
void TsSpeedButton::SetFlat(bool value) {
    flat_ = value;
    Changed();
}
void TsSpeedButton::SetDrawsBackground(bool value) {
    drawsBackground_ = value;
    Changed();
}

int TsSpeedButton::CurrentState() const {
    vesperine::GlyphButtonState st = glyph_;
    st.Enabled = isEnabled();
    st.HeldDown = held_ || MenuShown();
    st.DroppedDownArrow = DroppedDownArrow();
    return vesperine::CurrentState(st);
}

int TsSpeedButton::CurrentImageIndex() const {
    vesperine::GlyphButtonState st = glyph_;
    st.Enabled = isEnabled();
    st.HeldDown = held_ || MenuShown();
    return vesperine::CurrentImageIndex(st);
}

int TsSpeedButton::SystemScrollBarWidth() const { return style()->pixelMetric(QStyle::PM_ScrollBarExtent); }

void TsSpeedButton::ApplyGlyphLayout(int buttonWidth, int numGlyphs) {
    glyph_.NumGlyphs = std::max(1, numGlyphs);
    if (width() != buttonWidth) resize(buttonWidth, height());
    update();
}

QSize TsSpeedButton::GlyphFrameSize() const {
    if (!glyph_.Images) return {};
    return {glyph_.Images->Width() / std::max(1, glyph_.NumGlyphs), glyph_.Images->Height()};
}

void TsSpeedButton::PaintGlyphBackground(graphics::TBitmap& area) {
    const QColor c = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, backgroundRole());
    const graphics::TColor value = graphics::TColor(c.red()) | graphics::TColor(c.green()) << 8 |
                                   graphics::TColor(c.blue()) << 16;
    graphics::FillArea32(area, graphics::Rect(0, 0, area.Width(), area.Height()), value, 255);
}

QImage TsSpeedButton::RenderButton() {
    QImage out(size(), QImage::Format_ARGB32);
    out.fill(Qt::transparent);
    BeginInitGlyph();
    {
        QPainter p(&out);
        if (drawsBackground_) {
            graphics::TBitmap area = graphics::NewBitmap32(width(), height());
            PaintGlyphBackground(area);
            if (!flat_) {
                // A raised panel under the glyph, drawn by the platform style.
                QImage bg(reinterpret_cast<const uchar*>(area.ScanLine(0)), area.Width(), area.Height(),
                          int(area.Stride()), QImage::Format_ARGB32);
                QImage panel = bg.copy();
                QPainter pp(&panel);
                QStyleOption opt;
                opt.initFrom(this);
                opt.state |= CurrentState() == 2 ? QStyle::State_Sunken : QStyle::State_Raised;
                style()->drawPrimitive(QStyle::PE_PanelButtonTool, &opt, &pp, this);
                pp.end();
                for (int y = 0; y < area.Height(); ++y)
                    std::copy_n(panel.constScanLine(y), 4 * area.Width(), area.ScanLine(y));
            }
            vesperine::GlyphButtonState st = glyph_;
            st.Enabled = isEnabled();
            st.HeldDown = held_ || MenuShown();
            st.DroppedDownArrow = DroppedDownArrow();
            const QSize frame = GlyphFrameSize();
            if (frame.isValid() && !frame.isEmpty())
                vesperine::DrawButtonGlyph(area, st, vesperine::CurrentImageIndex(st), frame.width(), frame.height());
            // B, G, R, A bytes are Format_ARGB32 on a little-endian machine.
            QImage img(reinterpret_cast<const uchar*>(area.ScanLine(0)), area.Width(), area.Height(),
                       int(area.Stride()), QImage::Format_ARGB32);
            p.drawImage(0, 0, img);
        }
        if (showCaption_ && !caption_.isEmpty()) {
            p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
            QRect r = rect();
            if (CurrentState() == 2) r.translate(1, 1);
            p.drawText(r, Qt::AlignCenter, caption_);
        }
    }
    EndInitGlyph();
    return out;
}

void TsSpeedButton::paintEvent(QPaintEvent*) {
    if (width() <= 0 || height() <= 0) return;
    const QImage img = RenderButton();
    QPainter p(this);
    p.drawImage(0, 0, img);
}

void TsSpeedButton::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    if (isEnabled() && !glyph_.MouseOver) {
        glyph_.MouseOver = true;
        update();
    }
}

void TsSpeedButton::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (glyph_.MouseOver || held_) {
        glyph_.MouseOver = false;
        held_ = false;  // leaving while held returns to the up state
        update();
    }
}

void TsSpeedButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(event);
        return;
    }
    held_ = true;
    update();
}

void TsSpeedButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !held_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    held_ = false;
    const bool inside = rect().contains(event->position().toPoint());
    if (inside && groupIndex_ != 0) glyph_.Down = !glyph_.Down;
    update();
    if (inside) emit clicked();
}

void TsSpeedButton::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled()) {
            glyph_.MouseOver = false;
            held_ = false;
        }
        update();
    }
}
