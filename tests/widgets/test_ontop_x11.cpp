// SetOnTop against a real X server (run under xvfb-run, without a window manager): what reaches
// the server is what a window manager acts on, the window's _NET_WM_STATE before it is mapped and
// a _NET_WM_STATE client message to the root window once it is.
#include "ontop.h"

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

using namespace skyjog;

namespace {

template <typename T> struct Freed {
    T* p;
    ~Freed() { std::free(p); }
    T* operator->() const { return p; }
    explicit operator bool() const { return p; }
};

xcb_connection_t* qtConnection() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    Freed<xcb_intern_atom_reply_t> r{xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr)};
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Waits until the server has handled everything the connection sent so far.
void sync(xcb_connection_t* c) {
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

struct StateMessage {
    xcb_window_t window = 0;
    uint32_t action = 99;
    xcb_atom_t first = 0;
};

} // namespace

class TestOnTopX11 : public QObject {
    Q_OBJECT
    xcb_connection_t* qt = nullptr;
    xcb_connection_t* observer = nullptr;
    xcb_atom_t netWmState = 0, above = 0;

    QList<xcb_atom_t> states(WId w) {
        Freed<xcb_get_property_reply_t> r{xcb_get_property_reply(
            qt, xcb_get_property(qt, 0, xcb_window_t(w), netWmState, XCB_ATOM_ATOM, 0, 64),
            nullptr)};
        QList<xcb_atom_t> out;
        if (r && r->format == 32) {
            const auto* v = static_cast<const xcb_atom_t*>(xcb_get_property_value(r.p));
            out = QList<xcb_atom_t>(v, v + xcb_get_property_value_length(r.p) / 4);
        }
        return out;
    }
    // The _NET_WM_STATE messages the root window received since the last call, in order. The
    // sender's requests are handled before the observer's round trip, whose reply follows every
    // event already queued for the observer.
    QList<StateMessage> stateMessages() {
        sync(qt);
        sync(observer);
        QList<StateMessage> out;
        while (xcb_generic_event_t* e = xcb_poll_for_event(observer)) {
            if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
                if (m->type == netWmState)
                    out.push_back({m->window, m->data.data32[0], m->data.data32[1]});
            }
            std::free(e);
        }
        return out;
    }

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (runs under xvfb-run)");
        qt = qtConnection();
        QVERIFY(qt);
        observer = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(observer));
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(observer)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(observer, root, XCB_CW_EVENT_MASK, &mask);
        sync(observer);
        netWmState = atom(qt, "_NET_WM_STATE");
        above = atom(qt, "_NET_WM_STATE_ABOVE");
    }
    void cleanupTestCase() {
        if (observer) xcb_disconnect(observer);
    }

    void unmappedWindowCarriesTheStateInItsProperty() {
        QWidget w;
        w.setGeometry(40, 50, 220, 120);
        SetOnTop(&w, true);
        QVERIFY(!w.isVisible());
        QVERIFY(states(w.winId()).contains(above));
        QVERIFY(stateMessages().isEmpty()); // nobody to ask yet
        SetOnTop(&w, false);
        QVERIFY(!states(w.winId()).contains(above));
        SetOnTop(&w, true);

        // Showing keeps the state: Qt merges its own states into the property.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(states(w.winId()).contains(above));
        QCOMPARE(w.geometry(), QRect(40, 50, 220, 120));
    }

    void mappedWindowAsksTheWindowManager() {
        QWidget w;
        w.setGeometry(300, 200, 180, 90);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        (void)stateMessages();
        const WId id = w.winId();

        SetOnTop(&w, true);
        QList<StateMessage> m = stateMessages();
        QCOMPARE(m.size(), 1);
        QCOMPARE(m[0].window, xcb_window_t(id));
        QCOMPARE(m[0].action, 1u); // add
        QCOMPARE(m[0].first, above);

        SetOnTop(&w, false);
        m = stateMessages();
        QCOMPARE(m.size(), 1);
        QCOMPARE(m[0].action, 0u); // remove
        QCOMPARE(m[0].first, above);

        // The same native window, in the same place and size, shown throughout.
        QCOMPARE(w.winId(), id);
        QVERIFY(w.isVisible());
        QCOMPARE(w.geometry(), QRect(300, 200, 180, 90));
    }
};

QTEST_MAIN(TestOnTopX11)
#include "test_ontop_x11.moc"
