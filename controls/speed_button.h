#pragma once
// TsSpeedButton: the library's small button that draws a glyph from an alpha
// image list. Without a skin it paints the glyph of its state (normal, hot,
// pressed) over its background through the library's compositing, so blend,
// grey tint and the disabled look match the rest of the library. The edit
// button of the combo edits derives from it.

#include <QWidget>
#include <string>

#include "graphics/glyph_mode.h"
#include "graphics/glyphs.h"

class TsSpeedButton : public QWidget, public vesperine::TsGlyphButtonHost {
    Q_OBJECT
public:
    explicit TsSpeedButton(QWidget* parent = nullptr);
    ~TsSpeedButton() override;

    // Glyph source and per-state images (-1: use ImageIndex).
    vesperine::TsAlphaImageList* Images() const { return glyph_.Images; }
    void SetImages(vesperine::TsAlphaImageList* list);
    int ImageIndex() const { return glyph_.ImageIndex; }
    void SetImageIndex(int value);
    int ImageIndexHot() const { return glyph_.ImageIndexHot; }
    void SetImageIndexHot(int value);
    int ImageIndexPressed() const { return glyph_.ImageIndexPressed; }
    void SetImageIndexPressed(int value);
    int ImageIndexDisabled() const { return glyph_.ImageIndexDisabled; }
    void SetImageIndexDisabled(int value);
    int ImageIndexSelected() const { return glyph_.ImageIndexSelected; }
    void SetImageIndexSelected(int value);

    int Blend() const { return glyph_.Blend; }
    void SetBlend(int value);  // kept within 0..100
    bool Grayed() const { return glyph_.Grayed; }
    void SetGrayed(bool value);
    bool Reflected() const { return glyph_.Reflected; }
    void SetReflected(bool value);
    graphics::TColor GlyphColorTone() const { return glyph_.GlyphColorTone; }
    void SetGlyphColorTone(graphics::TColor value);
    unsigned DisabledGlyphKind() const { return glyph_.DisabledGlyphKind; }
    void SetDisabledGlyphKind(unsigned value);
    unsigned DisabledKind() const { return glyph_.DisabledKind; }
    void SetDisabledKind(unsigned value);
    int NumGlyphs() const { return glyph_.NumGlyphs; }
    void SetNumGlyphs(int value);
    bool ShowCaption() const { return showCaption_; }
    void SetShowCaption(bool value);
    QString Caption() const { return caption_; }
    void SetCaption(const QString& value);
    // Latched state for buttons of a group (GroupIndex != 0).
    bool Down() const { return glyph_.Down; }
    void SetDown(bool value);
    int GroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int value);
    bool Flat() const { return flat_; }
    void SetFlat(bool value);
    // Whether the button paints its own background under the glyph.
    bool DrawsBackground() const { return drawsBackground_; }
    void SetDrawsBackground(bool value);

    // 0 normal, 1 hot (mouse over an enabled button), 2 pressed.
    int CurrentState() const;
    int CurrentImageIndex() const;
    bool MouseOver() const { return glyph_.MouseOver; }

    // Paints the button into an image of its size (what paintEvent shows);
    // used by tests and by owners that compose the button themselves.
    QImage RenderButton();

    // TsGlyphButtonHost
    int GlyphBlend() const override { return Blend(); }
    void SetGlyphBlend(int value) override { SetBlend(value); }
    bool GlyphGrayed() const override { return Grayed(); }
    void SetGlyphGrayed(bool value) override { SetGrayed(value); }
    std::string GlyphHint() const override { return toolTip().toStdString(); }
    void SetGlyphHint(const std::string& value) override { setToolTip(QString::fromStdString(value)); }
    int SystemScrollBarWidth() const override;
    void ApplyGlyphLayout(int buttonWidth, int numGlyphs) override;

signals:
    void clicked();

protected:
    // Chooses the glyph source right before painting; the edit button picks
    // its combo edit's glyph here. Changes made here do not repaint.
    virtual void BeginInitGlyph() {}
    virtual void EndInitGlyph() {}
    // True while the button's menu is shown (held in the pressed state).
    virtual bool MenuShown() const { return false; }
    // True for a drop-down arrow button of a combo edit that is dropped down.
    virtual bool DroppedDownArrow() const { return false; }
    // Size of one glyph frame; default: the list's image width / NumGlyphs.
    virtual QSize GlyphFrameSize() const;
    // Fills the bitmap (the button's size) with what lies under the glyph.
    virtual void PaintGlyphBackground(graphics::TBitmap& area);

    // Lets BeginInitGlyph change settings without a repaint.
    vesperine::GlyphButtonState& GlyphState() { return glyph_; }

    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Changed();

    vesperine::GlyphButtonState glyph_;
    bool showCaption_ = true;
    QString caption_;
    int groupIndex_ = 0;
    bool flat_ = true;
    bool drawsBackground_ = true;
    bool held_ = false;
};
