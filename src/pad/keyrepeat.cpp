#include "keyrepeat.h"

#include <QGuiApplication>

#if defined(SKYJOG_HAVE_XCB_XKB)
#include <QtGui/qguiapplication_platform.h>
#if QT_CONFIG(xcb)
#include <cstdlib>
#include <xcb/xcb.h>
// The header names a field "explicit", a keyword in C++.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit
#define SKYJOG_USE_XCB_XKB 1
#endif
#endif

namespace skyjog {

bool enableDetectableAutoRepeat() {
#if defined(SKYJOG_USE_XCB_XKB)
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return false;
    // A request of an extension the server lacks would close the connection: ask first.
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_xkb_id);
    if (!ext || !ext->present) return false;
    // The extension has to be taken up on a connection before its requests are honoured; the
    // platform plugin has normally done so already, and asking again changes nothing.
    auto* use = xcb_xkb_use_extension_reply(
        c, xcb_xkb_use_extension(c, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr);
    const bool usable = use && use->supported;
    std::free(use);
    if (!usable) return false;
    // Only this one flag changes; the ones the platform plugin set stay as they are.
    const uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    auto* reply = xcb_xkb_per_client_flags_reply(
        c, xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr);
    const bool on = reply && (reply->value & flag);
    std::free(reply);
    return on;
#else
    return false;
#endif
}

} // namespace skyjog
