#include "host/fallback/application_key_catch.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <vector>

namespace
{

struct CaughtKey {
    QPointer<QWidget> owner;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::function<void()> onPress;
};

const Qt::KeyboardModifiers realModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

// The top-level window a key event is on its way to, whether it is still at the window or at
// one of its widgets.
QWidget *targetWindow(QObject *receiver)
{
    if (auto *widget = qobject_cast<QWidget *>(receiver))
        return widget->window();
    if (auto *window = qobject_cast<QWindow *>(receiver))
        for (QWidget *topLevel : QApplication::topLevelWidgets())
            if (topLevel->windowHandle() == window)
                return topLevel;
    return nullptr;
}

// An application-wide event filter runs before the receiver's own filters and handlers, so it
// sees a key before the focused widget (a combo box would change its folder on Left or Right).
class KeyCatch : public QObject
{
  public:
    std::vector<CaughtKey> keys;

    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease &&
            type != QEvent::ShortcutOverride)
            return false;
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        for (const CaughtKey &caught : keys) {
            if (!caught.owner || keyEvent->key() != caught.key ||
                (keyEvent->modifiers() & realModifiers) != caught.modifiers ||
                targetWindow(receiver) != caught.owner->window())
                continue;
            if (type == QEvent::ShortcutOverride) {
                // Accepted, the key skips the shortcut map and comes as a press, caught here.
                event->accept();
            } else if (type == QEvent::KeyPress) {
                // The command runs as its own event, not inside the key's delivery.
                QMetaObject::invokeMethod(qApp, caught.onPress, Qt::QueuedConnection);
            }
            return true;
        }
        return false;
    }
};

KeyCatch *keyCatch()
{
    static KeyCatch *filter = [] {
        auto *created = new KeyCatch;
        qApp->installEventFilter(created);
        return created;
    }();
    return filter;
}

} // namespace

void catchApplicationKey(QWidget *owner, Qt::Key key, Qt::KeyboardModifiers modifiers,
                         std::function<void()> onPress)
{
    keyCatch()->keys.push_back({owner, key, modifiers & realModifiers, std::move(onPress)});
}
