// The xcb side of the global keys: key symbols, modifier masks, checked grabs on the root
// windows and the native event filter that takes the grabbed presses out of Qt's event stream.
#include "host/x11/x11_key_grab.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace
{

// The X key symbols of a Windows virtual-key code: the main key and the keypad's twin.
struct KeySymbols {
    int virtualKey;
    xcb_keysym_t main;
    xcb_keysym_t keypad;
    // The keypad's Delete and arrows type digits with NumLock on: grabbed only with it off.
    bool keypadNeedsNumLockOff;
};

const KeySymbols keySymbols[] = {
    {13, XK_Return, XK_KP_Enter, false},
    {46, XK_Delete, XK_KP_Delete, true},
    {37, XK_Left, XK_KP_Left, true},
    {39, XK_Right, XK_KP_Right, true},
};

struct Grab {
    xcb_window_t root;
    xcb_keycode_t keycode;
    uint16_t modifiers; // including lock modifiers
};

struct GrabbedKey {
    std::vector<xcb_keycode_t> mainCodes;
    std::vector<xcb_keycode_t> keypadCodes;
    uint16_t modifiers; // without lock modifiers
    std::function<void(bool)> onPress;
};

xcb_connection_t *qtConnection()
{
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

std::vector<xcb_window_t> rootWindows(xcb_connection_t *connection)
{
    std::vector<xcb_window_t> roots;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem;
         xcb_screen_next(&it))
        roots.push_back(it.data->root);
    return roots;
}

// The X connection's view of the keyboard, read once: the keys are taken for the whole run and
// a studio station does not remap its keyboard meanwhile. (A remap would leave the grabs on the
// old key codes; the keys would then stop working until the station restarts.)
class Keyboard
{
  public:
    explicit Keyboard(xcb_connection_t *connection)
        : symbols_(xcb_key_symbols_alloc(connection), xcb_key_symbols_free)
    {
        readModifierMasks(connection);
    }

    std::vector<xcb_keycode_t> keycodes(xcb_keysym_t keysym) const
    {
        std::vector<xcb_keycode_t> codes;
        if (!symbols_)
            return codes;
        xcb_keycode_t *list = xcb_key_symbols_get_keycode(symbols_.get(), keysym);
        for (xcb_keycode_t *code = list; code && *code != XCB_NO_SYMBOL; ++code)
            codes.push_back(*code);
        std::free(list);
        return codes;
    }

    uint16_t altMask = XCB_MOD_MASK_1;
    uint16_t superMask = XCB_MOD_MASK_4;
    uint16_t numLockMask = 0;
    uint16_t scrollLockMask = 0;

  private:
    // NumLock, ScrollLock, Alt and Super sit on whichever of Mod1..Mod5 the keyboard map puts
    // them; only CapsLock and the core modifiers have fixed masks.
    void readModifierMasks(xcb_connection_t *connection)
    {
        xcb_generic_error_t *error = nullptr;
        xcb_get_modifier_mapping_reply_t *reply = xcb_get_modifier_mapping_reply(
            connection, xcb_get_modifier_mapping(connection), &error);
        std::free(error);
        if (!reply)
            return;
        const xcb_keycode_t *map = xcb_get_modifier_mapping_keycodes(reply);
        int perModifier = reply->keycodes_per_modifier;
        auto maskOf = [&](xcb_keysym_t keysym, uint16_t fallback) -> uint16_t {
            for (xcb_keycode_t code : keycodes(keysym))
                for (int modifier = 0; modifier < 8; ++modifier)
                    for (int i = 0; i < perModifier; ++i)
                        if (map[modifier * perModifier + i] == code)
                            return static_cast<uint16_t>(1 << modifier);
            return fallback;
        };
        numLockMask = maskOf(XK_Num_Lock, 0);
        scrollLockMask = maskOf(XK_Scroll_Lock, 0);
        altMask = maskOf(XK_Alt_L, XCB_MOD_MASK_1);
        superMask = maskOf(XK_Super_L, XCB_MOD_MASK_4);
        std::free(reply);
    }

    std::unique_ptr<xcb_key_symbols_t, void (*)(xcb_key_symbols_t *)> symbols_;
};

// The modifiers a grabbed key must match exactly; the lock modifiers are on or off at will.
uint16_t realModifiers(const Keyboard &keyboard)
{
    return XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | keyboard.altMask | keyboard.superMask;
}

// Every combination of the lock modifiers the keyboard has (always including none).
std::vector<uint16_t> lockCombinations(const Keyboard &keyboard, bool withNumLock)
{
    std::vector<uint16_t> locks;
    for (uint16_t lock : {uint16_t(XCB_MOD_MASK_LOCK), keyboard.scrollLockMask,
                          withNumLock ? keyboard.numLockMask : uint16_t(0)})
        if (lock != 0 && (lock & realModifiers(keyboard)) == 0 &&
            std::find(locks.begin(), locks.end(), lock) == locks.end())
            locks.push_back(lock);
    std::vector<uint16_t> combinations{0};
    for (uint16_t lock : locks)
        for (size_t i = 0, n = combinations.size(); i < n; ++i)
            combinations.push_back(combinations[i] | lock);
    return combinations;
}

class KeyGrabs : public QAbstractNativeEventFilter
{
  public:
    explicit KeyGrabs(xcb_connection_t *connection)
        : connection_(connection), keyboard_(connection), roots_(rootWindows(connection))
    {
        qApp->installNativeEventFilter(this);
    }

    bool grab(const KeySymbols &symbols, int modifiers, std::function<void(bool)> onPress)
    {
        GrabbedKey key{
            keyboard_.keycodes(symbols.main), {}, xModifiers(modifiers), std::move(onPress)};
        if (key.mainCodes.empty())
            return false;
        for (xcb_keycode_t code : keyboard_.keycodes(symbols.keypad))
            if (std::find(key.mainCodes.begin(), key.mainCodes.end(), code) == key.mainCodes.end())
                key.keypadCodes.push_back(code);

        // All grab requests go out at once and are checked afterwards: one round trip each
        // would cost tens of them per key. A grab another client holds fails with BadAccess;
        // the check is synchronous, so the failure cannot arrive later as a stray error event.
        std::vector<Grab> requested;
        std::vector<xcb_void_cookie_t> cookies;
        auto request = [&](xcb_keycode_t code, uint16_t locks) {
            for (xcb_window_t root : roots_) {
                Grab grab{root, code, static_cast<uint16_t>(key.modifiers | locks)};
                // owner_events false: the press goes to the grab even when one of our own
                // windows has the focus, so a focused combo box never sees Left or Right.
                cookies.push_back(xcb_grab_key_checked(connection_, 0, root, grab.modifiers, code,
                                                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
                requested.push_back(grab);
            }
        };
        for (uint16_t locks : lockCombinations(keyboard_, true))
            for (xcb_keycode_t code : key.mainCodes)
                request(code, locks);
        for (uint16_t locks : lockCombinations(keyboard_, !symbols.keypadNeedsNumLockOff))
            for (xcb_keycode_t code : key.keypadCodes)
                request(code, locks);

        bool refused = false;
        std::vector<Grab> taken;
        for (size_t i = 0; i < cookies.size(); ++i) {
            xcb_generic_error_t *error = xcb_request_check(connection_, cookies[i]);
            bool plain = requested[i].modifiers == key.modifiers &&
                         std::find(key.mainCodes.begin(), key.mainCodes.end(),
                                   requested[i].keycode) != key.mainCodes.end();
            if (error && plain)
                refused = true;
            if (!error)
                taken.push_back(requested[i]);
            std::free(error);
        }
        // A lock variant or keypad twin another client holds only narrows the key; without
        // the plain key the registration is refused and must leave no grab of ours behind,
        // or the key would be lost to the desktop without working in the station.
        if (refused) {
            for (const Grab &grab : taken)
                xcb_ungrab_key(connection_, grab.keycode, grab.root, grab.modifiers);
            xcb_flush(connection_);
            return false;
        }
        keys_.push_back(std::move(key));
        return true;
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto *event = static_cast<xcb_generic_event_t *>(message);
        // The top bit marks events sent by another client (SendEvent): same layout.
        uint8_t type = event->response_type & ~0x80;
        if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
            return false;
        auto *press = reinterpret_cast<xcb_key_press_event_t *>(event);
        // Presses for our own windows come with their window; a grabbed one with the root.
        if (std::find(roots_.begin(), roots_.end(), press->event) == roots_.end())
            return false;
        uint16_t modifiers = press->state & realModifiers(keyboard_);
        for (const GrabbedKey &key : keys_) {
            if (key.modifiers != modifiers)
                continue;
            auto has = [&](const std::vector<xcb_keycode_t> &codes) {
                return std::find(codes.begin(), codes.end(), press->detail) != codes.end();
            };
            bool keypad = has(key.keypadCodes);
            if (!keypad && !has(key.mainCodes))
                continue;
            if (type == XCB_KEY_PRESS)
                key.onPress(keypad);
            return true; // releases too: nobody else should see half a key
        }
        return false;
    }

  private:
    uint16_t xModifiers(int modifiers) const
    {
        uint16_t mask = 0;
        if (modifiers & 1)
            mask |= XCB_MOD_MASK_CONTROL;
        if (modifiers & 2)
            mask |= XCB_MOD_MASK_SHIFT;
        if (modifiers & 4)
            mask |= keyboard_.altMask;
        return mask;
    }

    xcb_connection_t *connection_;
    Keyboard keyboard_;
    std::vector<xcb_window_t> roots_;
    std::vector<GrabbedKey> keys_;
};

KeyGrabs *keyGrabs()
{
    // Lives as long as the process: the grabs are never released and Qt's connection outlives
    // every station window. Created on first use, after the application object exists.
    static KeyGrabs *grabs = qtConnection() ? new KeyGrabs(qtConnection()) : nullptr;
    return grabs;
}

} // namespace

bool x11KeyGrabAvailable()
{
    return qtConnection() != nullptr;
}

bool grabX11Key(int virtualKey, int modifiers, std::function<void(bool keypad)> onPress)
{
    KeyGrabs *grabs = keyGrabs();
    if (!grabs)
        return false;
    for (const KeySymbols &symbols : keySymbols)
        if (symbols.virtualKey == virtualKey)
            return grabs->grab(symbols, modifiers, std::move(onPress));
    return false;
}
