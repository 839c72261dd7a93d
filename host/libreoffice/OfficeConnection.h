#pragma once

#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

class BridgeWatch;

// Lets another thread cut a connection attempt short: its socket is shut
// down, so that a call waiting for the office's answer fails at once, and the
// attempt returns no connection.
class ConnectAbort
{
public:
    void abort();
    bool isAborted() const;

private:
    friend class OfficeConnection;
    // Holds pipe for abort(); false (and pipe shut down) when already aborted.
    bool setPipe(const css::uno::Reference<css::connection::XConnection>& pipe);
    // The attempt is over: abort() no longer touches the pipe. False when it
    // was aborted before.
    bool release();

    mutable std::mutex m_mutex;
    bool m_aborted = false;
    css::uno::Reference<css::connection::XConnection> m_pipe;
};

// A connection to a running LibreOffice over a named pipe (the office's
// --accept=pipe,name=...;urp; listener): only to the pipe of an office of this
// user (see OfficePipe), so that a socket another user put in its place gets
// no byte from this program. The connection tells when the office
// goes away (quit, killed, crashed): from then on isAlive() is false, every
// call through objects obtained from it fails (and is caught by the backend),
// and disconnected() is emitted once, on the thread that owns the connection.
class OfficeConnection : public QObject
{
    Q_OBJECT
public:
    // Connects to the office listening on pipeName; null when none answers,
    // when the pipe is not one of this user's office, or when abort (if given)
    // is used from another thread. It waits for the office's answer.
    static std::shared_ptr<OfficeConnection> connect(const QString& pipeName,
                                                     const std::shared_ptr<ConnectAbort>& abort = nullptr);
    // The same, giving up (and setting *timedOut) when the office has not
    // answered within timeoutMs: a stopped or hung office, or a peer that only
    // listens, holds the calling thread no longer than that.
    static std::shared_ptr<OfficeConnection> connect(const QString& pipeName, int timeoutMs, bool* timedOut,
                                                     const std::shared_ptr<ConnectAbort>& abort = nullptr);
    ~OfficeConnection() override;

    bool isAlive() const;
    QString pipeName() const { return m_pipeName; }
    css::uno::Reference<css::uno::XComponentContext> context() const { return m_context; }
    css::uno::Reference<css::frame::XDesktop2> desktop() const { return m_desktop; }
    // How many messages this process has sent to the office: each call is
    // one, and so is each batch of released references.
    quint64 messagesSent() const;

    // Sets up the UNO runtime of this process (once); false when it cannot be
    // had. connect() calls it.
    static bool bootstrap();

signals:
    void disconnected();

private:
    friend class BridgeWatch;
    explicit OfficeConnection(const QString& pipeName);
    void bridgeDisposed();

    QString m_pipeName;
    css::uno::Reference<css::bridge::XBridge> m_bridge;
    css::uno::Reference<css::uno::XComponentContext> m_context;
    css::uno::Reference<css::frame::XDesktop2> m_desktop;
    css::uno::Reference<css::lang::XEventListener> m_watchRef;
    BridgeWatch* m_watch = nullptr;
    std::shared_ptr<std::atomic<quint64>> m_messagesSent = std::make_shared<std::atomic<quint64>>(0);
    bool m_alive = false;
};
