#include "controls/date_edit.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <cmath>

#include "controls/date_edit_logic.h"
#include "controls/date_utils.h"
#include "controls/number_rules.h"
#include "controls/popup_controller.h"
#include "graphics/startup.h"

namespace {
// One flag for all date edits: while set, writing Date does not rewrite the
// text, so typing never moves the caret.
bool gDateTextRewrite = false;
TsDatePopupFactory& Factory() {
    static TsDatePopupFactory f;
    return f;
}
QPointer<TsCustomDateEdit> gCurrentDatePopup;

platform::FormatSettings Settings() { return platform::currentFormatSettings(); }

platform::DateParts TodayParts() {
    platform::DateParts p;
    platform::tryDecodeDate(platform::today(), p);
    return p;
}

QString FormatDate(const QString& format, DateTime value) {
    // The edit's formats are upper case; the formatter reads lower case.
    return QString::fromStdString(platform::formatDateTime(format.toLower().toStdString(), value, Settings()));
}

bool NoModifiers(const QKeyEvent* e) {
    return !(e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}
}  // namespace

TsCustomDateEdit::TsCustomDateEdit(QWidget* parent) : TsCustomComboEdit(parent) {
    SetDefBmpID(2);
    resize(86, height());
    FDateFormat = QString::fromStdString(controls::DefaultDateFormat(true, Settings())).left(10);
}

TsCustomDateEdit::~TsCustomDateEdit() {
    if (gCurrentDatePopup == this) gCurrentDatePopup = nullptr;
    if (FPopup) {
        FPopup->SetEditor(nullptr);
        delete FPopup->PopupForm();
        FPopup = nullptr;
    }
}

void TsCustomDateEdit::SetDatePopupFactory(TsDatePopupFactory factory) { Factory() = std::move(factory); }

TsCustomDateEdit* TsCustomDateEdit::CurrentDatePopupOwner() { return gCurrentDatePopup; }

bool TsCustomDateEdit::FourDigitYear() const {
    return FYearDigits == TYearDigits::dyFour ||
           (FYearDigits == TYearDigits::dyDefault && vesperine::ControlLibrary::CurrentResults().DefaultFourDigitYear);
}

QString TsCustomDateEdit::GetDateMask() const {
    return QString::fromStdString(controls::DefaultDateMask(char(FBlanksChar.unicode()), FourDigitYear(), Settings()));
}

QString TsCustomDateEdit::GetFormatMask() const {
    const QChar s = QLatin1Char(Settings().dateSeparator);
    return QStringLiteral("dd") + s + QStringLiteral("mm") + s + QStringLiteral("yyyy");
}

void TsCustomDateEdit::UpdateMask() {
    const DateTime d = Date();
    const QString oldFormat = FDateFormat;
    FDateFormat = QString::fromStdString(controls::DefaultDateFormat(FourDigitYear(), Settings())).left(10);
    const QString mask = GetDateMask();
    if (mask != EditMask() || FDateFormat != oldFormat) {
        SetEditMask(QString());
        SetEditMask(mask);
    }
    PassSettings();
    SetDate(d);
}

void TsCustomDateEdit::SetBlanksChar(QChar c) {
    if (c.unicode() < 32) c = QLatin1Char(' ');
    FBlanksChar = c;
    UpdateMask();
}

void TsCustomDateEdit::SetYearDigits(TYearDigits d) {
    FYearDigits = d;
    UpdateMask();
}

DateTime TsCustomDateEdit::Date() const {
    if (!Text().contains(QLatin1Char(' ')) && FIntDate != NullDate) return FIntDate;
    return FDefaultToday ? platform::today() : NullDate;
}

void TsCustomDateEdit::SetDate(DateTime value) {
    if (controls::ValidDate(value) && value != NullDate) FIntDate = value;
    else FIntDate = FDefaultToday ? platform::today() : NullDate;
    const DateTime old = Date();
    if (!gDateTextRewrite) {
        gDateTextRewrite = true;
        SetText(FIntDate == NullDate ? QString() : FormatDate(FDateFormat, FIntDate));
        gDateTextRewrite = false;
    }
    SetModified(Date() != old);
    update();
}

DateTime TsCustomDateEdit::DateValue() const {
    const DateTime deflt = FDefaultToday ? platform::today() : NullDate;
    const QString text = Text();
    if (text.contains(QLatin1Char(' '))) return NullDate;
    return controls::StrToDateByFormatDef(FDateFormat.toStdString(), text.toStdString(), deflt, Settings(),
                                          controls::CurrentYear());
}

void TsCustomDateEdit::SetDateValue(DateTime value) {
    const DateTime old = Date();
    SetText(value == NullDate ? QString() : FormatDate(FDateFormat, value));
    SetModified(Date() != old);
}

QString TsCustomDateEdit::DateText() const { return FormatDate(QStringLiteral("dd/mm/yyyy"), Date()); }

void TsCustomDateEdit::ApplyDate(DateTime value) {
    SetDate(value);
    SelectAll();
}

void TsCustomDateEdit::TextTracking() {
    if (gDateTextRewrite) return;
    gDateTextRewrite = true;
    const QString text = Text();
    const QChar sep = QLatin1Char(Settings().dateSeparator);
    bool meaningful = false;
    for (QChar c : text)
        if (c != QChar(0) && c != QLatin1Char(' ') && c != sep && c != FBlanksChar) meaningful = true;
    if (!text.isEmpty() && !text.contains(QLatin1Char(' ')) && meaningful)
        SetDate(controls::StrToDateByFormatDef(FDateFormat.toStdString(), text.toStdString(), Date(), Settings(),
                                               controls::CurrentYear()));
    else SetDate(NullDate);
    gDateTextRewrite = false;
}

void TsCustomDateEdit::Change() {
    TextTracking();
    if (FFormatting) return;
    TsCustomComboEdit::Change();
}

void TsCustomDateEdit::DoExit() {
    const auto fs = Settings();
    const controls::DateFieldOrder order{controls::GetDateOrder(FDateFormat.toStdString()), fs.dateSeparator};
    const std::string completed = controls::CompleteOnExit(Text().toStdString(), order, TodayParts());
    if (!completed.empty()) SetText(QString::fromStdString(completed));
    SetDate(controls::GetDateInStr(Text().toStdString(), order, TodayParts().year));
    update();
    TsCustomComboEdit::DoExit();
}

bool TsCustomDateEdit::CheckValidDate(bool raiseErrors) {
    const QString text = Text();
    const QChar sep = QLatin1Char(Settings().dateSeparator);
    bool onlyBlanks = true;
    for (QChar c : text)
        if (c != QLatin1Char(' ') && c != sep && c != FBlanksChar) onlyBlanks = false;
    if (onlyBlanks) return false;
    FFormatting = true;
    const std::string withYear = controls::CompleteYearField(text.toStdString(), controls::CurrentYear());
    if (withYear != text.toStdString()) SetText(QString::fromStdString(withYear));
    FFormatting = false;
    const auto d = platform::strToDate(Text().toStdString(), Settings());
    if (d) {
        SetDate(*d);
        return true;
    }
    if (!raiseErrors) return false;
    QString caption = QString::fromStdString(vesperine::ControlLibrary::CurrentResults().InvalidDateText);
    if (caption.isEmpty()) caption = QStringLiteral("Invalid date");
    caption.replace(QStringLiteral("%s"), Text());
    if (isEnabled() && isVisible()) setFocus(Qt::OtherFocusReason);
    throw controls::EConvertError(caption.toStdString());
}

void TsCustomDateEdit::SetMinDate(DateTime d) {
    if (d == FMinDate || (FMaxDate != 0 && d > FMaxDate)) return;
    FMinDate = d;
    if (Date() < FMinDate) SetDate(FMinDate);
}

void TsCustomDateEdit::SetMaxDate(DateTime d) {
    if (d == FMaxDate || (d != 0 && d < FMinDate)) return;
    FMaxDate = d;
    if (FMaxDate != 0 && Date() > FMaxDate) SetDate(FMaxDate);
}

void TsCustomDateEdit::SetStartOfWeek(TCalDayOfWeek d) {
    FSettings.StartOfWeek = d;
    PassSettings();
}
void TsCustomDateEdit::SetWeekends(TDaysOfWeek d) {
    FSettings.Weekends = d;
    PassSettings();
}
void TsCustomDateEdit::SetWeekendColor(const QColor& c) {
    FSettings.WeekendColor = c;
    PassSettings();
}
void TsCustomDateEdit::SetShowWeeks(bool on) {
    FSettings.ShowWeeks = on;
    PassSettings();
}
void TsCustomDateEdit::SetShowTodayBtn(bool on) {
    FSettings.ShowTodayBtn = on;
    PassSettings();
}
void TsCustomDateEdit::SetCalendarHints(const QStringList& hints) {
    FSettings.Hints = hints;
    while (FSettings.Hints.size() > 4) FSettings.Hints.removeLast();
    PassSettings();
}
void TsCustomDateEdit::SetOnGetCellParams(TsGetCellParamsEvent e) {
    FSettings.OnGetCellParams = std::move(e);
    PassSettings();
}
void TsCustomDateEdit::SetOnDrawDay(TsGetCellParamsEvent e) {
    FSettings.OnDrawDay = std::move(e);
    PassSettings();
}
void TsCustomDateEdit::SetOnCloseUp(std::function<void(QObject*)> e) {
    FSettings.OnCloseUp = std::move(e);
    PassSettings();
}

void TsCustomDateEdit::PassSettings() {
    if (FPopup) FPopup->ApplySettings(FSettings);
}

void TsCustomDateEdit::OpenPopup() {
    TsCustomDateEdit* other = gCurrentDatePopup;
    if (other && other != this && other->DroppedDown()) other->ClosePopup();
    if (!FPopup) {
        if (!Factory()) return;  // no calendar registered
        FPopup = Factory()(this);
        if (!FPopup) return;
        SetPopupWindow(FPopup->PopupForm());
    }
    gCurrentDatePopup = this;
    QFont f = font();
    if (OnGetPopupFont) OnGetPopupFont(this, f);
    FPopup->PopupForm()->setFont(f);
    FPopup->SetLimits(FMinDate, FMaxDate);
    FPopup->SetAnimated(FAnimated);
    FPopup->SetCalendarDate(Date() == NullDate ? platform::today() : Date());
    FPopup->DisableDoubleClick();
    FPopup->SetEditor(this);
    FPopup->SetShowCurrentDate(FShowCurrentDate);
    PassSettings();
    TsCustomComboEdit::OpenPopup();
}

void TsCustomDateEdit::KeyDown(QKeyEvent* event, bool& handled) {
    const int k = event->key();
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    const bool keypadPlus = keypad && k == Qt::Key_Plus, keypadMinus = keypad && k == Qt::Key_Minus;
    if (FPopup && DroppedDown()) {
        switch (k) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (k == Qt::Key_Down && (event->modifiers() & Qt::AltModifier)) break;  // the click key
            FPopup->GridKeyDown(event);
            handled = true;
            return;
        default:
            if (keypadPlus || keypadMinus) {
                FPopup->GridKeyDown(event);
                handled = true;
                return;
            }
            break;
        }
    } else if (NoModifiers(event) && FDirectInput && !FReadOnly) {
        int step = 0;
        if (k == Qt::Key_Up || keypadPlus) step = 1;
        if (k == Qt::Key_Down || keypadMinus) step = -1;
        if (step != 0) {
            ApplyDate(controls::StepDate(Date(), step, platform::now()));
            handled = true;
            return;
        }
    }
    TsCustomComboEdit::KeyDown(event, handled);
}

void TsCustomDateEdit::KeyPress(QChar& key) {
    const bool dateChar = key == QLatin1Char('+') || key == QLatin1Char('-') || key == QLatin1Char('T') ||
                          key == QLatin1Char('t');
    if (dateChar && FPopup && DroppedDown()) {
        FPopup->GridKeyPress(key);
        key = QChar();
        return;
    }
    if (dateChar && FDirectInput && !FReadOnly) {
        if (key == QLatin1Char('T') || key == QLatin1Char('t')) ApplyDate(platform::today());
        key = QChar();
        return;
    }
    TsCustomComboEdit::KeyPress(key);
}

int TsCustomDateEdit::CharIndexAt(int x) const {
    const QFontMetrics fm(font());
    const int digit = fm.horizontalAdvance(QLatin1Char('0'));
    const int comma = fm.horizontalAdvance(QLatin1Char(','));
    int right = contentsRect().left() + textMargins().left();
    for (int i = 1; i <= 10; ++i) {
        right += (i == 3 || i == 6) ? comma : digit;
        if (right > x) return i;
    }
    return 0;
}

void TsCustomDateEdit::mousePressEvent(QMouseEvent* e) {
    TsCustomComboEdit::mousePressEvent(e);
    if (e->button() != Qt::LeftButton) return;
    const int index = CharIndexAt(int(e->position().x()));
    if (!FAutoSelect || index != Text().size()) {
        const controls::Segment s = controls::SegmentForChar(index, controls::GetDateOrder(FDateFormat.toStdString()));
        setSelection(s.start, s.length);
    }
}

bool TsCustomDateEdit::event(QEvent* e) {
    if (TacPopupClosedEvent::From(e)) {
        if (gCurrentDatePopup == this) gCurrentDatePopup = nullptr;
    }
    if (e->type() == QEvent::LocaleChange) UpdateMask();
    return TsCustomComboEdit::event(e);
}

TsDateEdit::TsDateEdit(QWidget* parent) : TsCustomDateEdit(parent) {
    SetEditMask(QStringLiteral("!90/90/0000;1; "));
    UpdateMask();
}
