#pragma once
// The soft drop shadow of a popup: a translucent, input-transparent,
// never-activated window 9 pixels larger than its popup on every side, drawn
// from the shared shadow template and kept directly below the popup.

#include <QImage>
#include <QPointer>
#include <QWidget>

class TacShadowForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int ShadowSize = 9;

    // The template shared by all shadows (33 x 33, with alpha). Taken from the
    // library's start-up services when they provide it; tests may set another.
    static const QImage& ShadowTemplate();
    static void SetShadowTemplate(const QImage& image);

    static TacShadowForm* CreateNew(QWidget* popupForm);
    ~TacShadowForm() override;

    void UpdateShadowPos();
    void SetNewPos(int left, int top, int blend, int height, int width);
    void HideWnd();
    void KillShadow();

    // The shadow image for a popup of the given size (popup size + 18 each way).
    static QImage BuildImage(int width, int height);

    QPointer<QWidget> FOwnerForm;
    bool FDestroyed = false;
    bool Locked = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* e) override;

private:
    explicit TacShadowForm(QWidget* popupForm);
    QImage FImage;
    int FBlend = 255;
    bool FBlendsItself = false;
};
