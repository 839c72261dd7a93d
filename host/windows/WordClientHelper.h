#pragma once

#include "bridge/WordBridge.h"

#include <QString>

#include <memory>

class WordHelper;

// The editor bridge for Microsoft Word and WPS Office on Windows. A window
// that takes the keyboard focus (the WinEvent hook of ClientHelper) is an
// editor when its class is "_WwG" (Word's document window; WPS uses the same
// class). Its wrapper is attached to the application behind the window's
// native object model (AccessibleObjectFromWindow with OBJID_NATIVEOM, then
// Window.Application), the service client is told the host ("wps" when the
// top-level window's title says so, else "word") and the application's
// version, and the window is announced with editorDetected. Every
// per-document operation goes to the wrapper of the handle the caller passes
// (WordBridge).
//
// A window whose attachment failed (the editor busy starting up) is attached
// again the next time it takes the focus; the wrappers of windows that no
// longer exist are dropped, so that a handle the system hands out again meets
// a fresh wrapper.
class WordClientHelper : public WordBridge
{
    Q_OBJECT
public:
    WordClientHelper();
    ~WordClientHelper() override;

    void setForegroundEditor() override;
    void focusChanged(HWND hWnd) override;

    // The first window of class "_WwG" among the descendants of window
    // (depth first); null when there is none.
    static HWND findEditorWindow(HWND window);
    // The text of window's top-level window.
    static QString topLevelTitle(HWND window);
    static bool isEditorWindow(HWND window);

private:
    bool attach(const std::shared_ptr<WordHelper>& helper, HWND hWnd);
    void dropVanishedWindows();
};
