#include "controls/mask_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <QPointer>
#include <QTimer>

#include "platform/beep.h"
#include "platform/message_box.h"

namespace {
std::u32string ToU32(const QString& s) { return s.toStdU32String(); }
QString FromU32(const std::u32string& s) { return QString::fromStdU32String(s); }

// The character a key event types, control characters included.
QChar TypedChar(const QKeyEvent* e) {
    const Qt::KeyboardModifiers mods = e->modifiers();
    switch (e->key()) {
    case Qt::Key_Backspace: return QChar(8);
    case Qt::Key_Return:
    case Qt::Key_Enter: return QChar(13);
    case Qt::Key_Escape: return QChar(27);
    default: break;
    }
    if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier) && e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
        return QChar(e->key() - Qt::Key_A + 1);
    if (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return QChar();
    const QString t = e->text();
    if (t.size() == 1 && t[0] >= QChar(32) && t[0] != QChar(127)) return t[0];
    return QChar();
}
}  // namespace

TsMaskEdit::TsMaskEdit(QWidget* parent) : QLineEdit(parent) {
    setDragEnabled(false);
    setAcceptDrops(false);
    connect(this, &QLineEdit::textChanged, this, &TsMaskEdit::TextChangedSlot);
}

TsMaskEdit::~TsMaskEdit() = default;

void TsMaskEdit::SetEditMask(const QString& mask) {
    const QString old = Text();
    FMask.SetMask(ToU32(mask));
    if (FMask.HasMask()) {
        setMaxLength(FMask.Length());
        FMask.SetText(ToU32(old));
        SetEditTextRaw(FromU32(FMask.EditText()));
    } else {
        setMaxLength(32767);
    }
}

QString TsMaskEdit::EditMask() const { return FromU32(FMask.Mask()); }

QString TsMaskEdit::Text() const {
    if (FMask.HasMask()) return FromU32(FMask.Text());
    return QLineEdit::text();
}

void TsMaskEdit::SetText(const QString& text) {
    if (FMask.HasMask()) {
        FMask.SetText(ToU32(text));
        SetEditTextRaw(FromU32(FMask.EditText()));
    } else {
        SetEditTextRaw(text);
    }
}

void TsMaskEdit::SetEditTextRaw(const QString& text) {
    const bool modified = isModified();
    if (QLineEdit::text() != text) QLineEdit::setText(text);
    setModified(modified);
}

void TsMaskEdit::SetTextHint(const QString& hint) {
    FTextHint = hint;
    update();
}

QColor TsMaskEdit::Color() const { return palette().color(QPalette::Base); }

void TsMaskEdit::SetColor(const QColor& c) {
    QPalette p = palette();
    p.setColor(QPalette::Base, c);
    setPalette(p);
}

void TsMaskEdit::SetAlignment(Qt::Alignment a) {
    FAlignment = a;
    update();
}

void TsMaskEdit::TextChangedSlot(const QString& text) {
    // Text put in around the engine (context menu, input methods) is passed
    // through the mask again.
    if (FMask.HasMask() && !FSyncing && text != FromU32(FMask.EditText())) {
        FSyncing = true;
        const int caret = cursorPosition();
        FMask.SetText(ToU32(text));
        QLineEdit::setText(FromU32(FMask.EditText()));
        setCursorPosition(qMin(caret, FMask.Length()));
        FSyncing = false;
    }
    if (!FSyncing) Change();
}

void TsMaskEdit::Change() {
    if (OnChange) OnChange(this);
}

void TsMaskEdit::ApplyEngine(int caret) {
    FSyncing = true;
    QLineEdit::setText(FromU32(FMask.EditText()));
    setModified(true);
    setCursorPosition(caret);
    FSyncing = false;
    Change();
}

void TsMaskEdit::SelectAll() {
    if (!QLineEdit::text().isEmpty()) selectAll();
}

void TsMaskEdit::PasteFromClipboard() {
    if (isReadOnly()) return;
    const QString clip = QApplication::clipboard()->text();
    if (!FMask.HasMask()) {
        paste();
        return;
    }
    const int selStart = hasSelectedText() ? selectionStart() : cursorPosition();
    const int selLen = hasSelectedText() ? selectedText().size() : 0;
    const int caret = FMask.Paste(cursorPosition(), selStart, selLen, ToU32(clip));
    if (caret < 0) {
        platform::beep();
        return;
    }
    ApplyEngine(caret);
}

void TsMaskEdit::CutToClipboard() {
    if (isReadOnly() || !hasSelectedText()) return;
    if (!FMask.HasMask()) {
        cut();
        return;
    }
    QApplication::clipboard()->setText(selectedText());
    const int start = selectionStart(), len = selectedText().size();
    ApplyEngine(FMask.Delete(start, start, len));
}

void TsMaskEdit::KeyDown(QKeyEvent* event, bool& handled) {
    if (event->matches(QKeySequence::Paste) && event->key() == Qt::Key_Insert) {
        PasteFromClipboard();
        handled = true;
    } else if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ShiftModifier)) {
        CutToClipboard();
        handled = true;
    } else if (event->key() == Qt::Key_Insert && (event->modifiers() & Qt::ControlModifier)) {
        copy();
        handled = true;
    }
    if (handled || !FMask.HasMask()) return;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Delete:
        if (!isReadOnly()) {
            const int start = hasSelectedText() ? selectionStart() : cursorPosition();
            const int len = hasSelectedText() ? selectedText().size() : 0;
            ApplyEngine(FMask.Delete(cursorPosition(), start, len));
        }
        handled = true;
        break;
    case Qt::Key_Right:
        if (!shift && !(event->modifiers() & Qt::ControlModifier)) {
            setCursorPosition(FMask.CaretRight(cursorPosition()));
            handled = true;
        }
        break;
    case Qt::Key_Left:
        if (!shift && !(event->modifiers() & Qt::ControlModifier)) {
            setCursorPosition(FMask.CaretLeft(cursorPosition()));
            handled = true;
        }
        break;
    default: break;
    }
}

void TsMaskEdit::KeyPress(QChar& key) { Q_UNUSED(key); }

void TsMaskEdit::DefaultKeyPress(QChar key) {
    const ushort k = key.unicode();
    switch (k) {
    case 0: return;
    case 1: SelectAll(); return;
    case 3: copy(); return;
    case 22: PasteFromClipboard(); return;
    case 24: CutToClipboard(); return;
    case 26:
        if (!isReadOnly()) undo();
        return;
    case 13:
    case 27: return;
    default: break;
    }
    if (isReadOnly()) return;
    if (k == 8) {
        if (FMask.HasMask()) {
            const int start = hasSelectedText() ? selectionStart() : cursorPosition();
            const int len = hasSelectedText() ? selectedText().size() : 0;
            ApplyEngine(FMask.Backspace(cursorPosition(), start, len));
        } else {
            backspace();
        }
        return;
    }
    if (k < 32) return;
    if (FMask.HasMask()) {
        const int start = hasSelectedText() ? selectionStart() : cursorPosition();
        const int len = hasSelectedText() ? selectedText().size() : 0;
        const int caret = FMask.TypeChar(cursorPosition(), start, len, char32_t(k));
        if (caret < 0) platform::beep();
        else ApplyEngine(caret);
    } else {
        insert(QString(key));
    }
}

void TsMaskEdit::keyPressEvent(QKeyEvent* event) {
    bool handled = false;
    KeyDown(event, handled);
    if (handled) {
        event->accept();
        return;
    }
    QChar key = TypedChar(event);
    if (key.isNull()) {
        // Keys that type nothing: caret movement, selection, tab.
        if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
            event->ignore();
            return;
        }
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QChar typed = key;
    KeyPress(key);
    if (key.isNull()) {
        event->accept();
        return;
    }
    // Enter and Esc go on to the form (its default and cancel buttons).
    if (key.unicode() == 13 || key.unicode() == 27) {
        if (typed == key) QLineEdit::keyPressEvent(event);
        return;
    }
    DefaultKeyPress(key);
    event->accept();
}

void TsMaskEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // The window coming back to the front is no entry into the edit: the
    // focus never left it inside the program.
    if (event->reason() == Qt::ActiveWindowFocusReason && FEnteredBefore) {
        update();
        return;
    }
    FEnteredBefore = true;
    DoEnter();
    if (FAutoSelect && event->reason() != Qt::PopupFocusReason && event->reason() != Qt::MouseFocusReason) SelectAll();
    update();
}

void TsMaskEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason ||
        !window()->isVisible() || FInExit)
        return;
    FEnteredBefore = false;
    FInExit = true;
    try {
        DoExit();
    } catch (const std::exception& e) {
        // An error on leaving keeps the edit focused and goes to the
        // application's error reporting.
        TakeFocusBack();
        ErrorReporter()(QString::fromUtf8(e.what()));
    }
    FInExit = false;
    update();
}

void TsMaskEdit::TakeFocusBack() {
    QPointer<TsMaskEdit> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self && self->isVisible() && self->isEnabled()) self->setFocus(Qt::OtherFocusReason);
    });
}

std::function<void(const QString&)>& TsMaskEdit::ErrorReporter() {
    static std::function<void(const QString&)> reporter = [](const QString& message) {
        platform::showMessageBox(QApplication::applicationDisplayName(), message, platform::MessageIcon::Error);
    };
    return reporter;
}

void TsMaskEdit::DoEnter() {
    if (OnEnter) OnEnter(this);
}

void TsMaskEdit::DoExit() {
    try {
        ValidateEdit();
    } catch (const EDBEditError&) {
        // The check keeps the focus in the edit, caret on the first blank.
        const int missing = FMask.FirstMissing();
        if (missing >= 0) setCursorPosition(missing);
        throw;
    }
    if (OnExit) OnExit(this);
}

void TsMaskEdit::ValidateEdit() {
    if (!FCheckOnExit || !FMask.HasMask()) return;
    if (FMask.Validate()) return;
    const QString message = QStringLiteral("Invalid input value");
    if (OnValidateError) OnValidateError(this, message);
    throw EDBEditError(message.toStdString());
}

bool TsMaskEdit::PaintsOwnFace() const { return !hasFocus(); }

QRect TsMaskEdit::TextArea() const {
    const bool bordered = hasFrame();
    const int m = bordered ? 3 : 0;
    QRect r = rect().adjusted(m, m, -m, -m);
    r.setRight(r.right() - ReservedRight());
    return r;
}

void TsMaskEdit::PaintFace(QPainter& p) {
    const QRect area = TextArea();
    p.setClipRect(area);
    const QString text = PaintedText();
    Qt::Alignment align = FAlignment | Qt::AlignTop;
    if (layoutDirection() == Qt::RightToLeft) align |= Qt::AlignAbsolute;
    if (text.isEmpty() && !FTextHint.isEmpty()) {
        p.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        p.drawText(area, int(FAlignment | Qt::AlignTop), FTextHint);
        return;
    }
    if (isEnabled()) {
        p.setPen(palette().color(QPalette::Text));
        p.drawText(area, int(align), text);
    } else {
        p.setPen(palette().color(QPalette::Light));
        p.drawText(area.translated(1, 1), int(align), text);
        p.setPen(palette().color(QPalette::Dark));
        p.drawText(area, int(align), text);
    }
}

void TsMaskEdit::paintEvent(QPaintEvent* event) {
    if (!PaintsOwnFace()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter p(this);
    QStyleOptionFrame opt;
    initStyleOption(&opt);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &opt, &p, this);
    const int b = hasFrame() ? 2 : 0;
    p.fillRect(rect().adjusted(b, b, -b, -b),
               palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Base));
    p.setFont(font());
    PaintFace(p);
}

void TsMaskEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    // Paste and cut go through the mask (and the subclasses' rules).
    for (QAction* a : menu->actions()) {
        if (a->objectName() == QLatin1String("edit-paste")) {
            a->disconnect();
            connect(a, &QAction::triggered, this, [this] { PasteFromClipboard(); });
        } else if (a->objectName() == QLatin1String("edit-cut")) {
            a->disconnect();
            connect(a, &QAction::triggered, this, [this] { CutToClipboard(); });
        }
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void TsMaskEdit::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) update();
}
