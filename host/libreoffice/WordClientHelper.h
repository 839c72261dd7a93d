#pragma once

#include "bridge/WordBridge.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>
#include <thread>
#include <vector>

class ConnectAbort;
class OfficeConnection;
class WordHelper;
class X11Windows;

// The editor bridge for LibreOffice Writer on X11. It recognises Writer
// document windows (WM_CLASS class "libreoffice-writer"; an office dialog
// leads to its document window through WM_TRANSIENT_FOR) when they become
// active, attaches a WordHelper to the office frame whose container window is
// that X11 window, tells the service client which word processor it talks to,
// and announces the window with editorDetected. Every per-document operation
// goes to the wrapper of the handle the caller passes (WordBridge).
//
// The office is reached without any configuration by the user: once a Writer
// window has been seen, the running office (the one that owns the window, with
// its own profile) is asked to open a pipe of this user (soffice --accept=…;
// an office already running starts no second one) and the bridge connects to
// it. No office is ever started by the bridge. The connection is made and the
// office's answer awaited on a thread of its own, so that an office that is
// slow, stopped or not an office at all never holds the user's windows. While
// no office answers, the
// bridge keeps running and attaches when a Writer window is next activated;
// when the office goes away, its wrappers are dropped and the next office is
// reached the same way.
class WordClientHelper : public WordBridge
{
    Q_OBJECT
public:
    WordClientHelper();
    ~WordClientHelper() override;

    // The pipe this user's office is asked to open ("quillet-<uid>" unless set).
    void setPipeName(const QString& name) { m_pipeName = name; }
    QString pipeName() const { return m_pipeName; }
    bool isConnected() const;

    void setForegroundEditor() override;
    void focusChanged(HWND hWnd) override;

signals:
    // The connection to an office was made (after a Writer window was seen).
    void officeConnected();

private:
    // The Writer window that window stands for (itself, or the document window
    // an office dialog belongs to); 0 when it is not one.
    quintptr writerWindow(quintptr window);
    bool attach(const std::shared_ptr<WordHelper>& helper, HWND hWnd);
    void reachOffice(quintptr window);
    // Tries the pipe on the connecting thread unless a try is under way; when
    // askWindow is set and no office answers, that window's office is asked
    // to open the pipe.
    void startConnect(quintptr askWindow = 0);
    void connectFinished(const std::shared_ptr<OfficeConnection>& connection, bool timedOut, quintptr askWindow);
    void askOfficeToListen(quintptr window);
    void connectTick();
    void officeGone();

    std::unique_ptr<X11Windows> m_x11;
    QString m_pipeName;
    std::shared_ptr<OfficeConnection> m_connection;
    QProcess m_accept;     // soffice --accept=… sent to the running office
    QTimer m_connectTimer; // tries the pipe until the office opens it
    int m_connectTries = 0;
    std::thread m_connectThread;                  // the try under way, if any
    std::shared_ptr<ConnectAbort> m_connectAbort; // set while a try is under way
    std::vector<HWND> m_reattach;                 // windows of an office that went, for the next connection
};
