#include "X11Windows.h"

#include <QByteArrayList>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

X11Windows::X11Windows()
{
    if (!std::getenv("DISPLAY"))
        return;
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    m_root = screens.data->root;
}

X11Windows::~X11Windows()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

unsigned X11Windows::atom(const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const unsigned result = reply ? reply->atom : unsigned(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

QByteArray X11Windows::property(quintptr window, unsigned property, unsigned type, int format)
{
    if (!m_connection || !window || property == XCB_ATOM_NONE)
        return {};
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, xcb_window_t(window), property, type, 0, 1024), nullptr);
    QByteArray value;
    if (reply && reply->format == format && (type == XCB_ATOM_ANY || reply->type == type))
        value =
            QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

QString X11Windows::windowClass(quintptr window)
{
    // WM_CLASS holds instance and class, each ending in a zero byte.
    const QByteArray value = property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8);
    const QList<QByteArray> parts = value.split('\0');
    return parts.size() >= 2 ? QString::fromLatin1(parts.at(1)) : QString();
}

QString X11Windows::title(quintptr window)
{
    const QByteArray name = property(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8);
    if (!name.isEmpty())
        return QString::fromUtf8(name);
    return QString::fromLatin1(property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8));
}

quintptr X11Windows::transientFor(quintptr window)
{
    const QByteArray value = property(window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32);
    if (value.size() < int(sizeof(xcb_window_t)))
        return 0;
    xcb_window_t result = 0;
    std::memcpy(&result, value.constData(), sizeof(result));
    return result;
}

qint64 X11Windows::pid(quintptr window)
{
    const QByteArray value = property(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32);
    if (value.size() < int(sizeof(uint32_t)))
        return 0;
    uint32_t result = 0;
    std::memcpy(&result, value.constData(), sizeof(result));
    return result;
}

QString X11Windows::clientMachine(quintptr window)
{
    return QString::fromLatin1(property(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8));
}

quintptr X11Windows::activeWindow()
{
    const QByteArray value = property(m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32);
    if (value.size() < int(sizeof(xcb_window_t)))
        return 0;
    xcb_window_t result = 0;
    std::memcpy(&result, value.constData(), sizeof(result));
    return result;
}
