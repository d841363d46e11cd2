#pragma once
// Global keys on X11: passive grabs on the root window, made on Qt's own X connection so the
// presses arrive in Qt's event stream, where a native event filter takes them.

#include <functional>

// True when the application runs on an X11 display (false on Wayland and offscreen).
bool x11KeyGrabAvailable();

// Grabs the key (Windows virtual-key code, modifier bits Ctrl 1, Shift 2, Alt 4) for the whole
// desktop, under every combination of NumLock, CapsLock and ScrollLock, the keypad's key
// included. False when another client holds the plain key (nothing stays grabbed then) or the
// code has no key. `onPress` runs inside X event processing for every press, with `keypad`
// true for the keypad's key: it must only decide and queue, never block or open a window.
bool grabX11Key(int virtualKey, int modifiers, std::function<void(bool keypad)> onPress);
