#pragma once

// Small xcb helpers shared by the focus-watcher test and its window-making
// helper program: make a top-level window, ask the window manager to activate
// a window, read which window is active.

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace x11test {

inline xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

inline xcb_screen_t* screen(xcb_connection_t* c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data;
}

// A mapped top-level window with WM_CLASS (instance and class both wmClass),
// a title, the given _NET_WM_PID and an input hint.
inline xcb_window_t createWindow(xcb_connection_t* c, const std::string& wmClass, const std::string& title,
                                 uint32_t pid, int x)
{
    xcb_screen_t* s = screen(c);
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {s->white_pixel};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, s->root, int16_t(x), 40, 240, 120, 1,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual, XCB_CW_BACK_PIXEL, values);
    const std::string classValue = wmClass + '\0' + wmClass + '\0';
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        uint32_t(classValue.size()), classValue.data());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, uint32_t(title.size()),
                        title.data());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    const uint32_t hints[9] = {1 /* InputHint */, 1 /* takes input */, 0, 0, 0, 0, 0, 0, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
    xcb_map_window(c, window);
    xcb_flush(c);
    return window;
}

// Asks the window manager to activate window, as a pager does.
inline void activate(xcb_connection_t* c, xcb_window_t window)
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof(event));
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(c, "_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 2; // source: pager
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, screen(c)->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

inline xcb_window_t activeWindow(xcb_connection_t* c)
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, screen(c)->root, atom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1), nullptr);
    xcb_window_t result = XCB_WINDOW_NONE;
    if (reply && xcb_get_property_value_length(reply) >= 4)
        result = *static_cast<xcb_window_t*>(xcb_get_property_value(reply));
    std::free(reply);
    return result;
}

// Whether a window manager announced itself on the root window.
inline bool windowManagerRunning(xcb_connection_t* c)
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, screen(c)->root, atom(c, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    const bool running = reply && xcb_get_property_value_length(reply) >= 4;
    std::free(reply);
    return running;
}

} // namespace x11test
