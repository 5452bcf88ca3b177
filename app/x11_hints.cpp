#include "app/x11_hints.h"

#include <QGuiApplication>
#include <QWidget>

#ifdef EXPORTAR_HAVE_XCB
#include <qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>
#endif

namespace app {

#ifdef EXPORTAR_HAVE_XCB
namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    xcb_atom_t a = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return a;
}

std::vector<uint32_t> readProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type) {
    std::vector<uint32_t> out;
    auto cookie = xcb_get_property(c, 0, w, prop, type, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (reply && reply->format == 32 && reply->type == type) {
        const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        out.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return out;
}

}  // namespace
#endif

void applyX11WindowHints(QWidget* window, bool skipTaskbarButton) {
#ifdef EXPORTAR_HAVE_XCB
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !window || QGuiApplication::platformName() != QLatin1String("xcb")) return;
    xcb_connection_t* c = x11->connection();
    if (!c) return;
    const xcb_window_t w = xcb_window_t(window->winId());
    const xcb_atom_t netState = internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t motif = internAtom(c, "_MOTIF_WM_HINTS");
    if (netState == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE) return;

    // Unmapped: the window manager reads the property when the window maps.
    std::vector<uint32_t> states = readProperty(c, w, netState, XCB_ATOM_ATOM);
    bool present = false;
    for (uint32_t s : states) present = present || s == skipTaskbar;
    if (!skipTaskbarButton) {
        // Without a tray the taskbar button is the way back to the window.
    } else if (!present) {
        states.push_back(skipTaskbar);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netState, XCB_ATOM_ATOM, 32, uint32_t(states.size()),
                            states.data());
    }
    // Mapped: ask the window manager (_NET_WM_STATE_ADD = 1, source = normal application).
    if (skipTaskbarButton && window->isVisible()) {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = netState;
        ev.data.data32[0] = 1;
        ev.data.data32[1] = skipTaskbar;
        ev.data.data32[3] = 1;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&ev));
    }

    // Motif hints: flags, functions, decorations, input mode, status. Drop the
    // Move function and keep everything else the toolkit asked for.
    if (motif != XCB_ATOM_NONE) {
        std::vector<uint32_t> hints = readProperty(c, w, motif, motif);
        hints.resize(5, 0);
        constexpr uint32_t kFunctionsValid = 1, kDecorationsValid = 2;
        constexpr uint32_t kFuncAll = 1, kFuncResize = 2, kFuncMove = 4, kFuncMinimize = 8, kFuncMaximize = 16,
                           kFuncClose = 32;
        if (!(hints[0] & kFunctionsValid)) hints[1] = kFuncResize | kFuncMinimize | kFuncMaximize | kFuncClose;
        else if (hints[1] & kFuncAll) hints[1] |= kFuncMove;  // "all but" the listed ones
        else hints[1] &= ~kFuncMove;
        if (!(hints[0] & kDecorationsValid)) hints[2] = 0;
        hints[0] |= kFunctionsValid;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, motif, motif, 32, 5, hints.data());
    }
    xcb_flush(c);
#else
    (void)window;
    (void)skipTaskbarButton;
#endif
}

}  // namespace app
