#include "app/gauge.h"

#include <QPainter>
#include <algorithm>

TGauge::TGauge(QWidget* parent) : QWidget(parent) {}

void TGauge::setMinValue(int v) {
    const int before = percentDone();
    min_ = v;
    if (max_ < min_) max_ = min_;
    progress_ = std::clamp(progress_, min_, max_);
    changed(before);
}

void TGauge::setMaxValue(int v) {
    const int before = percentDone();
    max_ = v;
    if (min_ > max_) min_ = max_;
    progress_ = std::clamp(progress_, min_, max_);
    changed(before);
}

void TGauge::setProgress(int v) {
    const int before = percentDone();
    progress_ = std::clamp(v, min_, max_);
    changed(before);
}

int TGauge::percentDone() const {
    if (max_ == min_) return 0;
    // 64-bit: row counts times 100 must not overflow.
    return int((long long)(progress_ - min_) * 100 / ((long long)max_ - min_));
}

void TGauge::changed(int oldPercent) {
    if (percentDone() != oldPercent) update();
}

void TGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect frame = rect();
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    p.drawRect(frame.adjusted(0, 0, -1, -1));

    const QRect inner = frame.adjusted(1, 1, -1, -1);
    const int span = max_ - min_;
    const int barWidth = span == 0 ? 0 : int((long long)(progress_ - min_) * inner.width() / span);
    const QRect bar(inner.left(), inner.top(), barWidth, inner.height());
    const QRect rest(inner.left() + barWidth, inner.top(), inner.width() - barWidth, inner.height());
    p.fillRect(bar, Qt::black);

    // The text twice: black over the white part, white over the bar.
    const QString text = QString::number(percentDone()) + QLatin1Char('%');
    p.setFont(font());
    p.setClipRect(rest);
    p.setPen(Qt::black);
    p.drawText(inner, Qt::AlignCenter, text);
    p.setClipRect(bar);
    p.setPen(Qt::white);
    p.drawText(inner, Qt::AlignCenter, text);
}
