// Chooses the back-end for the global keys and decides where a grabbed press goes. A global
// Delete must never remove a photo by accident: the owner's command runs only while the owner is
// the active window; a dialog of the station gets the key as typed; another program, nothing.
#include "host/global_hotkeys.h"

#include "host/fallback/application_key_catch.h"
#include "host/x11/x11_key_grab.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <set>
#include <utility>

namespace
{

struct QtKey {
    int virtualKey;
    Qt::Key key;
    Qt::Key keypadKey;
    const char *text;
};

const QtKey qtKeys[] = {
    {13, Qt::Key_Return, Qt::Key_Enter, "\r"},
    {46, Qt::Key_Delete, Qt::Key_Delete, ""},
    {37, Qt::Key_Left, Qt::Key_Left, ""},
    {39, Qt::Key_Right, Qt::Key_Right, ""},
};

const QtKey *findKey(int virtualKey)
{
    for (const QtKey &key : qtKeys)
        if (key.virtualKey == virtualKey)
            return &key;
    return nullptr;
}

Qt::KeyboardModifiers qtModifiers(int modifiers)
{
    Qt::KeyboardModifiers result;
    if (modifiers & 1)
        result |= Qt::ControlModifier;
    if (modifiers & 2)
        result |= Qt::ShiftModifier;
    if (modifiers & 4)
        result |= Qt::AltModifier;
    return result;
}

// Types the key into `target` as the keyboard would have: press, then release.
void typeKey(QPointer<QWidget> target, Qt::Key key, Qt::KeyboardModifiers modifiers,
             const QString &text)
{
    if (!target)
        return;
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(target, &press);
    // The press may have closed the dialog (Enter on its default button).
    if (!target)
        return;
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(target, &release);
}

// Runs inside X event processing: decides by the window active at the press, and queues the
// work so a command (which may open a message box) runs as its own event.
void deliverGrabbedPress(const QPointer<QWidget> &owner, const QtKey &key, bool keypad,
                         Qt::KeyboardModifiers modifiers, const std::function<void()> &onPress)
{
    if (!owner)
        return;
    // An open popup menu has the keyboard, whichever window Qt calls active.
    QWidget *active = QApplication::activePopupWidget();
    if (!active)
        active = QApplication::activeWindow();
    if (!active)
        return; // another program has the keyboard
    if (active == owner->window()) {
        // A modal dialog of the station blocks the owner even if the desktop activates it.
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == active) {
            QMetaObject::invokeMethod(qApp, onPress, Qt::QueuedConnection);
            return;
        }
        active = modal;
    }
    QPointer<QWidget> target = active->focusWidget() ? active->focusWidget() : active;
    Qt::Key qtKey = keypad ? key.keypadKey : key.key;
    if (keypad)
        modifiers |= Qt::KeypadModifier;
    QString text = QString::fromLatin1(key.text);
    QMetaObject::invokeMethod(
        qApp, [target, qtKey, modifiers, text] { typeKey(target, qtKey, modifiers, text); },
        Qt::QueuedConnection);
}

} // namespace

bool grabGlobalKey(QWidget *owner, int virtualKey, int modifiers, std::function<void()> onPress)
{
    const QtKey *key = findKey(virtualKey);
    if (!owner || !key)
        return false;
    // Like the desktop's own hot keys, one key combination has one registration: a second one
    // would run two commands on one press.
    static std::set<std::pair<int, int>> taken;
    if (taken.count({virtualKey, modifiers}))
        return false;

    QPointer<QWidget> guardedOwner(owner);
    Qt::KeyboardModifiers qtModifierSet = qtModifiers(modifiers);
    bool grabbed;
    if (x11KeyGrabAvailable()) {
        grabbed = grabX11Key(
            virtualKey, modifiers, [guardedOwner, key, qtModifierSet, onPress](bool keypad) {
                deliverGrabbedPress(guardedOwner, *key, keypad, qtModifierSet, onPress);
            });
    } else {
        catchApplicationKey(owner, key->key, qtModifierSet, onPress);
        if (key->keypadKey != key->key)
            catchApplicationKey(owner, key->keypadKey, qtModifierSet, onPress);
        grabbed = true;
    }
    if (grabbed)
        taken.insert({virtualKey, modifiers});
    return grabbed;
}
