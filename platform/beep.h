#pragma once
// The short system sound of a rejected keystroke.
namespace platform {
void beep();
}
