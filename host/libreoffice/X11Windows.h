#pragma once

#include <QString>
#include <QtGlobal>

struct xcb_connection_t;

// The few X11 window properties the Writer bridge reads, over a connection of
// its own. Every query answers an empty value when there is no display.
class X11Windows
{
public:
    X11Windows();
    ~X11Windows();
    X11Windows(const X11Windows&) = delete;
    X11Windows& operator=(const X11Windows&) = delete;

    bool isConnected() const { return m_connection != nullptr; }
    // The class part of WM_CLASS.
    QString windowClass(quintptr window);
    // _NET_WM_NAME, else WM_NAME.
    QString title(quintptr window);
    quintptr transientFor(quintptr window);
    qint64 pid(quintptr window);
    // WM_CLIENT_MACHINE: the host the window's program runs on, as it says.
    QString clientMachine(quintptr window);
    // _NET_ACTIVE_WINDOW of the root window.
    quintptr activeWindow();

private:
    unsigned atom(const char* name);
    QByteArray property(quintptr window, unsigned property, unsigned type, int format);

    xcb_connection_t* m_connection = nullptr;
    unsigned m_root = 0;
};
