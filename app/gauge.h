#pragma once
// A horizontal bar gauge: single-line border, black bar on white and the
// whole percent centred on it, drawn so it reads over the bar and over the
// background alike.

#include <QWidget>

class TGauge : public QWidget {
    Q_OBJECT
public:
    explicit TGauge(QWidget* parent = nullptr);

    int minValue() const { return min_; }
    int maxValue() const { return max_; }
    int progress() const { return progress_; }
    void setMinValue(int v);
    void setMaxValue(int v);
    // Clamped into the range.
    void setProgress(int v);
    void addProgress(int delta) { setProgress(progress_ + delta); }

    // Truncated (progress - min) * 100 / (max - min); 0 for an empty range.
    int percentDone() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    // Repaints only when the shown percent changes.
    void changed(int oldPercent);

    int min_ = 0;
    int max_ = 100;
    int progress_ = 0;
};
