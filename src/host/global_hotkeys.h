#pragma once
// Keys taken for the whole desktop. On X11 a passive grab on the root window; without X11
// (Wayland, the offscreen platform) the keys are caught application-wide instead.

#include <functional>

class QWidget;

// Takes `virtualKey` (Windows virtual-key code: 13 Enter, 46 Delete, 37 Left, 39 Right) with
// `modifiers` (Ctrl 1, Shift 2, Alt 4). Returns false when refused (another client holds it).
// A press runs `onPress` on the GUI thread only while `owner` is the active window; while
// another window of the station is active the key goes to its focused control instead.
bool grabGlobalKey(QWidget *owner, int virtualKey, int modifiers, std::function<void()> onPress);
