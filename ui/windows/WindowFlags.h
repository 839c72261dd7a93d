#pragma once

#include <Qt>

// Qt::BypassWindowManagerHint where the platform's window manager keeps such a
// window usable (Windows). On X11 the hint makes an override-redirect window
// that nobody can move, close or minimise, so it is left out there.
inline Qt::WindowFlags bypassWindowManagerHint()
{
#ifdef Q_OS_WIN
    return Qt::BypassWindowManagerHint;
#else
    return {};
#endif
}
