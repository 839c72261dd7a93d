#include "bridge/FocusWatcher.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcFocus, "quillet.bridge.focus")

namespace {

template <typename T>
struct FreeDeleter
{
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter<T>>;

} // namespace

// Follows _NET_ACTIVE_WINDOW on the root window over a connection of its own,
// so that it depends neither on the Qt platform plugin nor on Qt's display
// connection. The connection's socket is read through a QSocketNotifier on the
// thread that started the watcher: no polling, no extra thread.
class FocusWatcherX11 : public FocusWatcher
{
public:
    ~FocusWatcherX11() override;

    bool start(Callback callback) override;

private:
    xcb_atom_t internAtom(const char* name);
    xcb_window_t activeWindow();
    bool isOwnWindow(xcb_window_t window);
    void readEvents();
    void activeWindowChanged();

    // Expires when the watcher is destroyed, which the callback may do.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    xcb_atom_t m_activeWindowAtom = XCB_ATOM_NONE;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
    xcb_window_t m_lastActive = XCB_WINDOW_NONE;
    std::unique_ptr<QSocketNotifier> m_notifier;
    Callback m_callback;
};

FocusWatcherX11::~FocusWatcherX11()
{
    m_notifier.reset();
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool FocusWatcherX11::start(Callback callback)
{
    if (m_connection)
        return false;

    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        qCDebug(lcFocus) << "no X display, focus watching is off";
        xcb_disconnect(connection);
        return false;
    }
    m_connection = connection;

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return false;
    }
    m_root = screens.data->root;
    m_activeWindowAtom = internAtom("_NET_ACTIVE_WINDOW");
    m_pidAtom = internAtom("_NET_WM_PID");

    const uint32_t mask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, mask);
    // The window active now is known already: only a change is news.
    m_lastActive = activeWindow();
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return false;
    }

    m_callback = std::move(callback);
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { readEvents(); });
    // Events that arrived while the requests above were answered already sit in
    // xcb's queue, where the socket notifier cannot see them.
    QTimer::singleShot(0, m_notifier.get(), [this] { readEvents(); });
    return true;
}

xcb_atom_t FocusWatcherX11::internAtom(const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name);
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t FocusWatcherX11::activeWindow()
{
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(m_connection, 0, m_root, m_activeWindowAtom, XCB_ATOM_WINDOW, 0, 1);
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, cookie, nullptr));
    if (!reply || reply->type != XCB_ATOM_WINDOW || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) < int(sizeof(xcb_window_t)))
        return XCB_WINDOW_NONE;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
}

bool FocusWatcherX11::isOwnWindow(xcb_window_t window)
{
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1);
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, cookie, nullptr));
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) < int(sizeof(uint32_t)))
        return false;
    const uint32_t pid = *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return pid == uint32_t(getpid());
}

void FocusWatcherX11::readEvents()
{
    // The replies awaited inside the loop may pull further events into xcb's
    // queue; xcb_poll_for_event hands those out before reading the socket again.
    const std::weak_ptr<bool> alive = m_alive;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
        XcbReply<xcb_generic_event_t> owned(event);
        if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY)
            continue;
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->window == m_root && notify->atom == m_activeWindowAtom) {
            activeWindowChanged();
            if (alive.expired())
                return;
        }
    }
    if (xcb_connection_has_error(m_connection)) {
        qCWarning(lcFocus) << "lost the X display, focus watching stopped";
        m_notifier->setEnabled(false);
    }
}

void FocusWatcherX11::activeWindowChanged()
{
    const xcb_window_t window = activeWindow();
    // Window managers rewrite the property with an unchanged value now and then.
    if (window == m_lastActive)
        return;
    m_lastActive = window;
    if (window == XCB_WINDOW_NONE || isOwnWindow(window))
        return;
    m_callback(handleFromWindowId(window));
}

std::unique_ptr<FocusWatcher> FocusWatcher::create()
{
    return std::make_unique<FocusWatcherX11>();
}
