#pragma once
// Modal message boxes. Where no display can be reached (the offscreen or
// minimal platform, or before the application object exists) nobody could
// close a box, so the text goes to stderr and the call returns as if the box
// had been closed with OK.

#include <QString>

class QWidget;

namespace platform {

enum class MessageIcon { None, Information, Warning, Error };

// True when boxes can be shown to a person.
bool canShowMessageBoxes();

// One OK button; returns when the box is closed.
void showMessageBox(const QString& caption, const QString& text, MessageIcon icon = MessageIcon::None,
                    QWidget* parent = nullptr);

}  // namespace platform
