#include "ontop.h"

#include <QGuiApplication>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#if defined(Q_OS_WIN)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#if defined(SKYJOG_HAVE_XCB)
#include <QtGui/qguiapplication_platform.h>
#if QT_CONFIG(xcb)
#include <cstdlib>
#include <cstring>
#include <vector>
#include <xcb/xcb.h>
#define SKYJOG_USE_XCB 1
#endif
#endif

namespace skyjog {

namespace {

#if defined(SKYJOG_USE_XCB)
xcb_connection_t* x11Connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!reply) return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

// The "above" state belongs to the window manager once the window is mapped: it is asked with a
// client message to the root window (EWMH). A window that is not mapped carries the wish in its
// own _NET_WM_STATE, which the manager reads when it maps the window; Qt merges its own states
// into that property instead of replacing it. Between a map request and the manager taking the
// window over, neither alone is certain to arrive, so such a window gets both.
bool x11SetAbove(QWidget* window, bool onTop) {
    xcb_connection_t* c = x11Connection();
    if (!c) return false;
    const auto win = xcb_window_t(window->winId());
    const xcb_atom_t netWmState = internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t above = internAtom(c, "_NET_WM_STATE_ABOVE");
    if (netWmState == XCB_ATOM_NONE || above == XCB_ATOM_NONE) return false;

    bool mapped = false;
    xcb_window_t root = XCB_WINDOW_NONE;
    if (auto* attrs =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, win), nullptr)) {
        mapped = attrs->map_state != XCB_MAP_STATE_UNMAPPED;
        std::free(attrs);
    }
    if (auto* geo = xcb_get_geometry_reply(c, xcb_get_geometry(c, win), nullptr)) {
        root = geo->root;
        std::free(geo);
    }

    if (!mapped) {
        std::vector<xcb_atom_t> states;
        const auto cookie = xcb_get_property(c, 0, win, netWmState, XCB_ATOM_ATOM, 0, 1024);
        if (auto* prop = xcb_get_property_reply(c, cookie, nullptr)) {
            if (prop->format == 32 && prop->type == XCB_ATOM_ATOM) {
                const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(prop));
                states.assign(data, data + xcb_get_property_value_length(prop) / 4);
            }
            std::free(prop);
        }
        std::erase(states, above);
        if (onTop) states.push_back(above);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, win, netWmState, XCB_ATOM_ATOM, 32,
                            uint32_t(states.size()), states.data());
    }
    if ((window->isVisible() || mapped) && root != XCB_WINDOW_NONE) {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = win;
        ev.type = netWmState;
        ev.data.data32[0] = onTop ? 1 : 0; // _NET_WM_STATE_ADD / _NET_WM_STATE_REMOVE
        ev.data.data32[1] = above;
        ev.data.data32[2] = 0;
        ev.data.data32[3] = 1; // the request comes from a normal application
        xcb_send_event(c, 0, root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&ev));
    }
    xcb_flush(c);
    return true;
}
#endif

} // namespace

void SetOnTop(QWidget* window, bool onTop) {
    if (!window) return;
    window = window->window();
    window->setProperty(OnTopProperty, onTop);
    // The native window is needed for its handle; creating it neither shows nor moves it.
    const WId id = window->winId();
    (void)id;
#if defined(Q_OS_WIN)
    // No SWP_NOACTIVATE: making a window topmost also activates it.
    SetWindowPos(reinterpret_cast<HWND>(id), onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
    return;
#else
#if defined(SKYJOG_USE_XCB)
    if (x11SetAbove(window, onTop)) return;
#endif
    // Elsewhere the hint goes to the native window alone: QWidget::setWindowFlags would hide and
    // re-create it.
    if (QWindow* handle = window->windowHandle()) {
        Qt::WindowFlags flags = handle->flags();
        flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
        handle->setFlags(flags);
    }
#endif
}

bool onTopRequested(const QWidget* window) {
    return window && window->window()->property(OnTopProperty).toBool();
}

void bringForward(QWidget* window) {
    if (!window) return;
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace skyjog
