#include "controls/shadow_form.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QPainter>
#include <QShowEvent>
#include <algorithm>
#include <cmath>

#include "controls/popup_controller.h"
#include "controls/popup_form.h"
#include "graphics/bitmap32.h"
#include "graphics/startup.h"

#ifdef EDITORS_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

namespace {
// Whether translucent windows are blended with what lies below them. An X
// server without a compositing manager shows their pixels as they are (a
// black band), so the shadow then blends itself over a grab of the screen.
bool CompositingActive() {
#ifdef EDITORS_HAVE_XCB
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return true;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) return true;
    xcb_connection_t* c = x11->connection();
    const QByteArray name = "_NET_WM_CM_S0";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom) return true;
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom),
                                                                           nullptr);
    const bool active = owner && owner->owner != XCB_NONE;
    free(owner);
    free(atom);
    return active;
#else
    return true;
#endif
}

QImage& TemplateOverride() {
    static QImage image;
    return image;
}

// A soft template of the same shape for when the library's start-up has not
// run (tests of the controls alone): alpha falls off over 9 pixels.
QImage BuiltInTemplate() {
    QImage t(33, 33, QImage::Format_ARGB32);
    for (int y = 0; y < 33; ++y)
        for (int x = 0; x < 33; ++x) {
            const double dx = std::max(0, std::abs(x - 16) - 7), dy = std::max(0, std::abs(y - 16) - 7);
            const double d = std::sqrt(dx * dx + dy * dy);
            const int a = d >= 9 ? 0 : int(90 * (1.0 - d / 9.0) * (1.0 - d / 9.0));
            t.setPixel(x, y, qRgba(0, 0, 0, a));
        }
    return t;
}

graphics::TBitmap ToBitmap(const QImage& img) {
    const QImage src = img.convertToFormat(QImage::Format_ARGB32);
    graphics::TBitmap b = graphics::NewBitmap32(src.width(), src.height());
    for (int y = 0; y < src.height(); ++y) std::copy_n(src.constScanLine(y), 4 * src.width(), b.ScanLine(y));
    return b;
}

QImage ToImage(const graphics::TBitmap& b) {
    QImage img(b.Width(), b.Height(), QImage::Format_ARGB32);
    for (int y = 0; y < b.Height(); ++y) std::copy_n(b.ScanLine(y), 4 * b.Width(), img.scanLine(y));
    return img;
}
}  // namespace

const QImage& TacShadowForm::ShadowTemplate() {
    QImage& t = TemplateOverride();
    if (t.isNull()) {
        if (const graphics::TBitmap* b = vesperine::ControlLibrary::CurrentResults().PopupShadowTemplate.get();
            b && !b->Empty())
            return t = ToImage(*b);
        static const QImage builtIn = BuiltInTemplate();
        return builtIn;
    }
    return t;
}

void TacShadowForm::SetShadowTemplate(const QImage& image) { TemplateOverride() = image; }

QImage TacShadowForm::BuildImage(int width, int height) {
    const int w = width + 2 * ShadowSize, h = height + 2 * ShadowSize;
    graphics::TBitmap dst = graphics::NewBitmap32(w, h);
    if (dst.Empty()) return {};
    graphics::FillArea32(dst, graphics::Rect(0, 0, w, h), 0, 0);
    const graphics::TBitmap templ = ToBitmap(ShadowTemplate());
    const int m = (templ.Width() - 1) / 2;
    graphics::TSideModes modes{graphics::pmStretch, graphics::pmStretch, graphics::pmStretch, graphics::pmStretch};
    graphics::PaintFromTemplate(dst, templ, graphics::Rect(0, 0, w, h), false, false, modes,
                                graphics::Rect(ShadowSize, ShadowSize, ShadowSize, ShadowSize),
                                graphics::Rect(m, m, m, m), graphics::Rect(0, 0, templ.Width(), templ.Height()));
    return ToImage(dst);
}

TacShadowForm::TacShadowForm(QWidget* popupForm)
    : QWidget(popupForm ? popupForm->parentWidget() : nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus | Qt::BypassWindowManagerHint |
                  Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint),
      FOwnerForm(popupForm) {
    FBlendsItself = !CompositingActive();
    if (!FBlendsItself) setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    if (popupForm) popupForm->installEventFilter(this);
}

TacShadowForm* TacShadowForm::CreateNew(QWidget* popupForm) { return new TacShadowForm(popupForm); }

TacShadowForm::~TacShadowForm() {
    if (FOwnerForm) FOwnerForm->removeEventFilter(this);
}

void TacShadowForm::UpdateShadowPos() {
    if (Locked || !FOwnerForm || !FOwnerForm->isVisible()) return;
    const QRect r = FOwnerForm->frameGeometry();
    int blend = 255;
    if (auto* f = qobject_cast<TacPopupForm*>(FOwnerForm.data())) blend = f->BlendValue();
    SetNewPos(r.left(), r.top(), blend, r.height(), r.width());
}

void TacShadowForm::SetNewPos(int left, int top, int blend, int height, int width) {
    if (FDestroyed) return;
    FImage = BuildImage(width, height);
    FBlend = blend;
    const QRect area(left - ShadowSize, top - ShadowSize, width + 2 * ShadowSize, height + 2 * ShadowSize);
    if (FBlendsItself) {
        if (isVisible()) hide();
        QImage under;
        if (QScreen* s = QGuiApplication::screenAt(area.center()))
            under = s->grabWindow(0, area.x() - s->geometry().x(), area.y() - s->geometry().y(), area.width(),
                                  area.height())
                        .toImage();
        if (under.size() != area.size()) {
            under = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
            under.fill(palette().color(QPalette::Window));
        }
        under = under.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter p(&under);
        p.setOpacity(FBlend / 255.0);
        p.drawImage(0, 0, FImage);
        p.end();
        FImage = under;
        FBlend = 255;
        setMask(QRegion(0, 0, area.width(), area.height()) - QRegion(ShadowSize, ShadowSize, width, height));
    }
    setGeometry(area);
    if (!isVisible()) show();
    update();
    // Directly below the popup.
    if (FOwnerForm && QGuiApplication::platformName() != QLatin1String("offscreen")) FOwnerForm->raise();
}

void TacShadowForm::HideWnd() {
    hide();
    Locked = true;
}

void TacShadowForm::KillShadow() {
    if (FDestroyed) return;
    FDestroyed = true;
    if (FOwnerForm) FOwnerForm->removeEventFilter(this);
    hide();
    deleteLater();
}

bool TacShadowForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FOwnerForm || FDestroyed) return false;
    switch (event->type()) {
    case QEvent::Close:
    case QEvent::Hide: HideWnd(); break;
    case QEvent::Move:
    case QEvent::Resize:
        if (!Locked) {
            if (FOwnerForm->isVisible()) UpdateShadowPos();
            else hide();
        }
        break;
    case QEvent::Destroy: KillShadow(); break;
    default:
        if (const auto* update = TacUpdateShadowEvent::From(event)) {
            const TacShadowRect& r = update->Rect;
            Locked = false;
            if (r.Height > 0) SetNewPos(r.Left, r.Top, r.Blend & 0xFF, r.Height, r.Width);
            return true;
        }
        break;
    }
    return false;
}

void TacShadowForm::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setOpacity(FBlend / 255.0);
    p.drawImage(0, 0, FImage);
}
