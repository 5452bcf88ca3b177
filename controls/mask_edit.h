#pragma once
// A single-line edit with our own edit mask. While it does not have the
// keyboard focus it paints its own face (text, hint, embossed when disabled);
// the mask check on exit can be switched off.
//
// Keys go through two virtual steps, as subclasses need them: KeyDown for
// keys (arrows, Delete, shortcuts) and KeyPress for typed characters
// (control characters included: 1 Ctrl+A, 3 Ctrl+C, 8 Backspace, 13 Enter,
// 22 Ctrl+V, 24 Ctrl+X, 26 Ctrl+Z, 27 Esc). Setting the character to 0 or
// `handled` to true consumes it.

#include <QColor>
#include <QLineEdit>
#include <QString>
#include <functional>
#include <stdexcept>

#include "controls/mask_engine.h"

class QPainter;

// The mask error raised by the check on exit.
class EDBEditError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TDisabledKind { dkBlended = 1, dkGrayed = 2 };

class TsMaskEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TsMaskEdit(QWidget* parent = nullptr);
    ~TsMaskEdit() override;

    // Mask: empty for none; see MaskEngine for the syntax.
    void SetEditMask(const QString& mask);
    QString EditMask() const;
    bool HasMask() const { return FMask.HasMask(); }
    // The text as the program reads it (literals per the mask).
    virtual QString Text() const;
    // Puts the text in through the mask (and the subclasses' rules).
    virtual void SetText(const QString& text);
    // The text as shown, blanks included.
    QString EditText() const { return QLineEdit::text(); }
    // QLineEdit's pair would go around the mask and the subclasses' rules.
    void setText(const QString&) = delete;
    QString text() const = delete;

    bool CheckOnExit() const { return FCheckOnExit; }
    void SetCheckOnExit(bool on) { FCheckOnExit = on; }
    QString TextHint() const { return FTextHint; }
    void SetTextHint(const QString& hint);
    QColor Color() const;
    void SetColor(const QColor& c);
    Qt::Alignment Alignment() const { return FAlignment; }
    void SetAlignment(Qt::Alignment a);
    bool AutoSelect() const { return FAutoSelect; }
    void SetAutoSelect(bool on) { FAutoSelect = on; }
    bool Modified() const { return isModified(); }
    void SetModified(bool m) { setModified(m); }
    int DisabledKind = int(TDisabledKind::dkBlended);

    // The masked-input check, only when CheckOnExit is set.
    virtual void ValidateEdit();
    // Selects the whole text when it is not empty.
    virtual void SelectAll();
    virtual void PasteFromClipboard();
    virtual void CutToClipboard();

    std::function<void(QObject* sender)> OnChange;
    std::function<void(QObject* sender)> OnEnter;
    std::function<void(QObject* sender)> OnExit;
    std::function<void(QObject* sender, const QString& message)> OnValidateError;

    // Where errors raised on leaving the edit are reported (the
    // application's error reporting); by default an error box.
    static std::function<void(const QString& message)>& ErrorReporter();
    // Gives the focus back after the current focus change has ended.
    void TakeFocusBack();

    // The area the unfocused face draws its text into.
    virtual QRect TextArea() const;
    // Width kept free at the right edge (the combo edit's button).
    virtual int ReservedRight() const { return 0; }

protected:
    virtual void KeyDown(QKeyEvent* event, bool& handled);
    virtual void KeyPress(QChar& key);
    // Default handling of a typed character that survived KeyPress.
    void DefaultKeyPress(QChar key);
    // A text change (typed or set); fires OnChange.
    virtual void Change();
    virtual void DoEnter();
    virtual void DoExit();
    // Text drawn by the unfocused face.
    virtual QString PaintedText() const { return EditText(); }
    virtual void PaintFace(QPainter& p);
    // Puts text in without a change of the modified flag.
    void SetEditTextRaw(const QString& text);
    bool PaintsOwnFace() const;

    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

    controls::MaskEngine FMask;
    bool FCheckOnExit = true;
    QString FTextHint;
    Qt::Alignment FAlignment = Qt::AlignLeft;
    bool FAutoSelect = true;
    bool FSyncing = false;
    bool FInExit = false;
    bool FEnteredBefore = false;

private:
    void TextChangedSlot(const QString& text);
    void ApplyEngine(int caret);
};
