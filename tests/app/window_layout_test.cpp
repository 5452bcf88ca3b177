// What a user sees of the main window: no control covers another or a group
// box's caption, and no text is cut off. Run at scale 1 and 2
// (QT_SCALE_FACTOR), where the fonts are rendered at another size.
#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>
#include <QtTest>

#include "app/main_window.h"
#include "platform/regional.h"

namespace {

QString nameOf(const QWidget* w) {
    QString text;
    if (auto* l = qobject_cast<const QLabel*>(w)) text = l->text();
    else if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
    else if (auto* g = qobject_cast<const QGroupBox*>(w)) text = g->title();
    return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(w->metaObject()->className()), text);
}

QList<QWidget*> visibleChildren(QWidget* parent) {
    QList<QWidget*> out;
    for (QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisibleTo(parent) && !w->isWindow()) out << w;
    return out;
}

QRect captionRect(QGroupBox* box) {
    QStyleOptionGroupBox opt;
    opt.initFrom(box);
    opt.text = box->title();
    opt.lineWidth = 1;
    opt.textAlignment = box->alignment();
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    return box->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
}

}  // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(platform::setProcessLocale("pt_BR.UTF-8"));
        // The look the program starts with.
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
    }

    void nothingOverlapsOrIsClipped() {
        FormStartOptions o;
        o.loadClientLibrary = false;
        TForm1 w(o);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QList<QWidget*> containers{&w};
        for (QGroupBox* g : w.findChildren<QGroupBox*>()) containers << g;
        for (QWidget* parent : containers) {
            const QList<QWidget*> children = visibleChildren(parent);
            for (int i = 0; i < children.size(); ++i) {
                QWidget* a = children[i];
                QVERIFY2(parent->rect().contains(a->geometry()), qPrintable(nameOf(a) + " leaves its parent"));
                for (int j = i + 1; j < children.size(); ++j)
                    QVERIFY2(!a->geometry().intersects(children[j]->geometry()),
                             qPrintable(nameOf(a) + " overlaps " + nameOf(children[j])));
            }
            if (auto* box = qobject_cast<QGroupBox*>(parent)) {
                const QRect caption = captionRect(box);
                QVERIFY2(box->fontMetrics().horizontalAdvance(box->title()) <= caption.width(),
                         qPrintable(nameOf(box) + " caption cut off"));
                for (QWidget* c : children)
                    QVERIFY2(!c->geometry().intersects(caption),
                             qPrintable(nameOf(c) + " covers the caption of " + nameOf(box)));
            }
        }

        // Texts fit the controls that show them.
        const int indicator = w.style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                              w.style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        for (QLabel* l : w.findChildren<QLabel*>()) {
            if (!l->isVisibleTo(&w) || l->text().isEmpty() || l->wordWrap()) continue;
            const QFontMetrics fm = l->fontMetrics();
            for (const QString& line : l->text().split(QLatin1Char('\n')))
                QVERIFY2(fm.horizontalAdvance(line) <= l->contentsRect().width(), qPrintable(nameOf(l) + " cut off"));
            QVERIFY2(fm.height() <= l->height() + 1, qPrintable(nameOf(l) + " too low for its font"));
        }
        for (QCheckBox* c : w.findChildren<QCheckBox*>())
            QVERIFY2(c->fontMetrics().horizontalAdvance(c->text()) + indicator <= c->width(),
                     qPrintable(nameOf(c) + " cut off"));
        for (QAbstractButton* b : w.findChildren<QPushButton*>())
            if (b->isVisibleTo(&w) && !b->text().isEmpty())
                QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) + 8 <= b->width(),
                         qPrintable(nameOf(b) + " cut off"));
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"
