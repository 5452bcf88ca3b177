#pragma once
// The borderless form that the editors open as their popup (calendar,
// calculator). It never takes the activation: the keyboard focus stays in
// the edit that opened it, which forwards the keys meant for the popup.

#include <QWidget>
#include <functional>

enum class TCloseAction { caNone, caHide, caFree, caMinimize };

class TacPopupForm : public QWidget {
    Q_OBJECT
public:
    // The owner keeps the form alive (it is deleted with it) but the form is a
    // top-level window of its own.
    explicit TacPopupForm(QWidget* owner = nullptr);

    // Runs the close query and the close handler, then hides or frees the form
    // as the handler decided. Also reached through QWidget::close().
    void Close();

    // Close handler: starts with caHide; caNone keeps the form open.
    std::function<void(QObject* sender, TCloseAction& action)> OnClose;
    // Close query: clearing canClose refuses the close.
    std::function<void(QObject* sender, bool& canClose)> OnCloseQuery;
    std::function<void(QObject* sender)> OnShow;

    bool AlphaBlend = false;
    int AlphaBlendValue = 255;
    bool StayOnTop = false;

    // The blend value the shadow uses: the alpha-blend value when on, else 255.
    int BlendValue() const { return AlphaBlend ? AlphaBlendValue : 255; }

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    bool FInClose = false;
};
