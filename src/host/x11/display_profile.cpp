// The display profile an X11 colour manager publishes: the ICC profile bytes in the
// `_ICC_PROFILE` property (CARDINAL, 8-bit) of the root window of the screen Qt shows on. Read
// through Qt's own xcb connection, which is null on Wayland and offscreen: then there is none.
#include "host/colour_management.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace
{

// An ICC profile larger than this is no display's.
constexpr uint32_t largestProfile = 16u << 20;

xcb_window_t rootWindow(xcb_connection_t *connection)
{
    // Qt opens the screen that DISPLAY names.
    char *host = nullptr;
    int displayNumber = 0;
    int screenNumber = 0;
    if (xcb_parse_display(nullptr, &host, &displayNumber, &screenNumber))
        std::free(host);
    else
        screenNumber = 0;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    xcb_window_t root = it.data ? it.data->root : XCB_NONE;
    for (int i = 0; it.rem; ++i, xcb_screen_next(&it))
        if (i == screenNumber)
            root = it.data->root;
    return root;
}

xcb_atom_t existingAtom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 1, strlen(name), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

} // namespace

std::string readDisplayIccProfile()
{
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return {};
    // only_if_exists: no colour manager has run when the atom is unknown to the server.
    xcb_atom_t property = existingAtom(connection, "_ICC_PROFILE");
    xcb_window_t root = rootWindow(connection);
    if (property == XCB_ATOM_NONE || root == XCB_NONE)
        return {};
    // The property is read in pieces; offsets count 32-bit units.
    constexpr uint32_t pieceBytes = 1u << 20;
    std::string bytes;
    for (;;) {
        xcb_get_property_cookie_t cookie =
            xcb_get_property(connection, 0, root, property, XCB_ATOM_CARDINAL,
                             uint32_t(bytes.size() / 4), pieceBytes / 4);
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(connection, cookie, nullptr), std::free);
        // Another type, or another format than 8-bit, is no profile as the convention has it.
        if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 8)
            return {};
        int length = xcb_get_property_value_length(reply.get());
        bytes.append(static_cast<const char *>(xcb_get_property_value(reply.get())), length);
        if (reply->bytes_after == 0)
            return bytes;
        if (bytes.size() + reply->bytes_after > largestProfile || length < int(pieceBytes))
            return {};
    }
}
