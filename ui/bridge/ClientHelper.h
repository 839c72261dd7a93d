#pragma once

#include "ScholiaGlobal.h"
#include "bridge/EditorHandle.h"
#include "utility/CheckData.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class FocusWatcher;

// The bridge between the library's windows and the editor (the word processor
// whose document is checked). The host supplies the implementation; the base
// answers every per-document operation with an empty result, so a bridge only
// overrides what its editor supports. Every per-document operation takes the
// editor handle last announced by editorDetected. The windows refer to the
// bridge; its owner is the host.
//
// The base also watches which window of the desktop becomes active: between
// beginDetectEditor() and endDetectEditor() every newly active window of another
// process reaches focusChanged(), on the GUI thread. Only the bridge that
// started detecting most recently receives these calls.
class SCHOLIA_EXPORT ClientHelper : public QObject
{
    Q_OBJECT
public:
    ClientHelper();
    ~ClientHelper() override;

    // Brings the attached editor window to the front.
    virtual void setForegroundEditor();
    // Text of the page that holds the caret; empty when it cannot be read.
    virtual QString getCurrentPageText(HWND hWnd);
    // Text of the whole document; empty when it cannot be read.
    virtual QString getAllPageText(HWND hWnd);
    // Text of pageCount pages from the current one on; empty when it cannot be read.
    virtual QString getNextPageText(HWND hWnd, int pageCount);
    // A window took the focus; implementations announce the editors among them
    // with editorDetected.
    virtual void focusChanged(HWND hWnd);
    // Whether the document holds findings.
    virtual bool hasData(HWND hWnd);
    // Marks the findings in the document; the bridge copies what it keeps.
    virtual void showErrors(const CHECK_DATAS& checkDatas, HWND hWnd);
    // Reports the error at the caret as a false alarm.
    virtual void reportError(HWND hWnd);
    // The document's findings (shared with the bridge, which keeps its own list);
    // empty when it has none.
    virtual CHECK_DATAS getCheckDatas(HWND hWnd);
    // Removes the document's marks and findings.
    virtual void clearErrors(HWND hWnd);
    // Moves the caret to the next or previous marked error; false when there is none.
    virtual bool nextError(HWND hWnd);
    virtual bool prevError(HWND hWnd);
    // Switches the error popup on or off.
    virtual void enableErrorTip(bool enable);
    // Switches checking as the user types on or off, for every editor (only
    // editors that draw the marks themselves can do it).
    virtual void enableCheckAsYouType(bool enable);

    // Starts watching the active window. False when the window system cannot
    // be reached; then nothing changes.
    virtual bool beginDetectEditor();
    // Stops watching; false when this bridge was not watching. Either way no
    // bridge receives focus changes afterwards until one begins again.
    virtual bool endDetectEditor();

signals:
    // An editor window took the focus: title of its top-level window, and the
    // editor window itself.
    void editorDetected(QString editorName, HWND hWnd);
    // Something the user should know about the editor hWnd, for the tool
    // window's message line (plain text), e.g. that it cannot show the marks.
    void editorMessage(HWND hWnd, QString message);
    // The findings of hWnd's document changed without a check of the tool
    // window's (checked as the user typed).
    void findingsChanged(HWND hWnd);
    // Checking as the user types in hWnd paused (message says why, plain
    // text) or went on again (empty).
    void typingStatus(HWND hWnd, QString message);

private:
    std::unique_ptr<FocusWatcher> m_watcher;
};
