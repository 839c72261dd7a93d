#pragma once

#include <QMetaType>
#include <QtGlobal>

// The editor handle: the native window handle of a word-processor document
// window. On Windows it is the real HWND; elsewhere an opaque pointer-sized
// handle that carries the X11 window id (see handleFromWindowId).
#ifdef Q_OS_WIN
#include <windows.h>
#else
struct HWND__;
using HWND = HWND__*;
#endif

Q_DECLARE_OPAQUE_POINTER(HWND)
Q_DECLARE_METATYPE(HWND)

// Conversions between a native window id (the X11 window id) and the handle.
inline HWND handleFromWindowId(quintptr windowId)
{
    return reinterpret_cast<HWND>(windowId);
}

inline quintptr windowIdFromHandle(HWND handle)
{
    return reinterpret_cast<quintptr>(handle);
}
