#pragma once
// Global keys without X11 (Wayland, the offscreen platform): no program may take keys for the
// whole desktop there, so the keys are caught application-wide, before any widget sees them,
// while they are typed into the owner's window. Other windows get them as usual.

#include <Qt>
#include <functional>

class QWidget;

// Catches `key` with exactly `modifiers` (Shift, Control, Alt, Meta compared; the keypad flag
// ignored) on its way to any widget of `owner`'s window; a press runs `onPress` on the GUI thread.
void catchApplicationKey(QWidget *owner, Qt::Key key, Qt::KeyboardModifiers modifiers,
                         std::function<void()> onPress);
