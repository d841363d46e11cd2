#pragma once
// Keys taken for the whole desktop. On X11 a passive grab on the root window; without X11
// (Wayland, the offscreen platform) the keys are caught application-wide instead, before any
// widget of the owner window sees them.

#include <functional>

class QWidget;

// Takes `virtualKey` (Windows virtual-key code: 13 Enter, 46 Delete, 37 Left, 39 Right; the
// keypad's keys included) with `modifiers` (Ctrl 1, Shift 2, Alt 4). Returns false when refused:
// another client holds the key, this process has taken it already, the code is not one of the
// four, or `owner` is null. The key stays taken until the process ends.
// Each press is handled on the GUI thread as its own event, by the window active at the press:
// `owner` runs `onPress`; another window of the station gets the key typed into its focused
// control (Enter presses a dialog's default button); another program's window gets nothing.
bool grabGlobalKey(QWidget *owner, int virtualKey, int modifiers, std::function<void()> onPress);
