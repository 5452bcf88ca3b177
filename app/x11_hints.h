#pragma once
// Window manager hints on X11: no taskbar button (while a tray icon can bring
// the window back), and no Move function in the window menu. Nothing happens
// on other platforms or without an X connection.

class QWidget;

namespace app {

// Call before the window is mapped (showEvent) and again while it is shown.
void applyX11WindowHints(QWidget* window, bool skipTaskbar = true);

}  // namespace app
