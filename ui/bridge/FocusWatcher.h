#pragma once

#include "ScholiaGlobal.h"
#include "bridge/EditorHandle.h"

#include <functional>
#include <memory>

// Tells which window of the desktop became the active one. One implementation
// per platform; create() returns the one of the platform this library is built
// for. A watcher reports on the GUI thread, through the Qt event loop, and
// stops when it is destroyed.
class SCHOLIA_EXPORT FocusWatcher
{
public:
    using Callback = std::function<void(HWND)>;

    virtual ~FocusWatcher() = default;

    // Starts watching and calls callback with every window that becomes active,
    // except the windows of this process. False when the window system cannot be
    // reached; the watcher then reports nothing.
    virtual bool start(Callback callback) = 0;

    static std::unique_ptr<FocusWatcher> create();
};
