#include "bridge/FocusWatcher.h"

#include <QLoggingCategory>

#include <objbase.h>

Q_LOGGING_CATEGORY(lcFocusWin, "quillet.bridge.focus")

// A WinEvent hook for keyboard-focus changes (EVENT_OBJECT_FOCUS), out of
// context: the system posts each event to this thread, whose message loop (Qt's
// event loop) runs the callback, on the GUI thread. Events of this thread are
// skipped at the source, those of other threads of this process here. COM is
// initialised single-threaded on the thread for as long as the watcher runs
// (Qt's windows platform has usually done so already).
class FocusWatcherWin : public FocusWatcher
{
public:
    ~FocusWatcherWin() override;

    bool start(Callback callback) override;

private:
    static void CALLBACK onEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object, LONG child, DWORD thread,
                                 DWORD time);

    HWINEVENTHOOK m_hook = nullptr;
    bool m_comInitialised = false;
    Callback m_callback;
};

namespace {

// The running watcher: a hook procedure has no user data.
FocusWatcherWin* s_watcher = nullptr;

} // namespace

FocusWatcherWin::~FocusWatcherWin()
{
    if (s_watcher == this)
        s_watcher = nullptr;
    if (m_hook)
        UnhookWinEvent(m_hook);
    if (m_comInitialised)
        CoUninitialize();
}

bool FocusWatcherWin::start(Callback callback)
{
    if (m_hook)
        return false;
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_comInitialised = SUCCEEDED(hr); // S_FALSE too: each success is matched by CoUninitialize
    m_hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, &FocusWatcherWin::onEvent, 0, 0,
                             WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNTHREAD);
    if (!m_hook) {
        qCWarning(lcFocusWin) << "SetWinEventHook failed, focus watching is off";
        if (m_comInitialised)
            CoUninitialize();
        m_comInitialised = false;
        return false;
    }
    m_callback = std::move(callback);
    s_watcher = this;
    return true;
}

void CALLBACK FocusWatcherWin::onEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG, LONG, DWORD, DWORD)
{
    FocusWatcherWin* watcher = s_watcher;
    if (!watcher || hook != watcher->m_hook || event != EVENT_OBJECT_FOCUS || !window)
        return;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId())
        return;
    watcher->m_callback(window);
}

std::unique_ptr<FocusWatcher> FocusWatcher::create()
{
    return std::make_unique<FocusWatcherWin>();
}
