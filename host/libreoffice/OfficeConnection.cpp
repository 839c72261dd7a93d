#include "OfficeConnection.h"
#include "OfficePipe.h"
#include "UnoSupport.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>

#include <QMetaObject>
#include <QPointer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

// Failed office calls are routine (a closed document, a dead office): debug
// messages only when asked for.
Q_LOGGING_CATEGORY(lcOffice, "quillet.office", QtInfoMsg)

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// Where the UNO runtime finds its bootstrap file: without it the first UNO
// call of the process crashes.
constexpr char kUreBootstrap[] = "vnd.sun.star.pathname:/usr/lib/libreoffice/program/fundamentalrc";

Reference<uno::XComponentContext> localContext()
{
    static const Reference<uno::XComponentContext> context = [] {
        return office::guarded<Reference<uno::XComponentContext>>("UNO bootstrap", {}, [] {
            const QByteArray fromEnvironment = qgetenv("URE_BOOTSTRAP");
            rtl::Bootstrap::set("URE_BOOTSTRAP", fromEnvironment.isEmpty()
                                                     ? rtl::OUString::createFromAscii(kUreBootstrap)
                                                     : rtl::OUString::fromUtf8(fromEnvironment.constData()));
            return cppu::defaultBootstrap_InitialComponentContext();
        });
    }();
    return context;
}

// The pipe to the office over a socket checked by OfficePipe, counting the
// messages this process sends over it (one a call, plus the releases of
// references it held): the benchmark's measure of round trips. close() shuts
// the socket down (a read waiting on it returns); the descriptor is closed
// with the object, so that no other file can take its number meanwhile.
class SocketConnection : public cppu::WeakImplHelper1<connection::XConnection>
{
public:
    SocketConnection(int fd, const QString& pipeName, std::shared_ptr<std::atomic<quint64>> sent)
        : m_fd(fd)
        , m_description(office::toOUString(QStringLiteral("pipe,name=") + pipeName))
        , m_sent(std::move(sent))
    {
    }
    ~SocketConnection() override { ::close(m_fd); }

    sal_Int32 SAL_CALL read(uno::Sequence<sal_Int8>& bytes, sal_Int32 count) override
    {
        if (count < 0)
            throw io::IOException("negative read", static_cast<cppu::OWeakObject*>(this));
        bytes.realloc(count);
        sal_Int32 done = 0;
        while (done < count) {
            const ssize_t n = ::recv(m_fd, bytes.getArray() + done, size_t(count - done), 0);
            if (n == 0)
                break;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw io::IOException("reading from the office failed", static_cast<cppu::OWeakObject*>(this));
            }
            done += sal_Int32(n);
        }
        if (done < count)
            bytes.realloc(done);
        return done;
    }
    void SAL_CALL write(const uno::Sequence<sal_Int8>& bytes) override
    {
        ++*m_sent;
        size_t done = 0;
        const size_t size = size_t(bytes.getLength());
        while (done < size) {
            const ssize_t n = ::send(m_fd, bytes.getConstArray() + done, size - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw io::IOException("writing to the office failed", static_cast<cppu::OWeakObject*>(this));
            done += size_t(n);
        }
    }
    void SAL_CALL flush() override {}
    void SAL_CALL close() override { ::shutdown(m_fd, SHUT_RDWR); }
    rtl::OUString SAL_CALL getDescription() override { return m_description; }

private:
    const int m_fd;
    const rtl::OUString m_description;
    std::shared_ptr<std::atomic<quint64>> m_sent;
};

} // namespace

// Learns of the bridge's end on one of UNO's threads and hands it to the
// connection's thread.
class BridgeWatch : public cppu::WeakImplHelper1<lang::XEventListener>
{
public:
    explicit BridgeWatch(OfficeConnection* owner)
        : m_owner(owner)
    {
    }

    void detach()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_owner = nullptr;
    }

    void SAL_CALL disposing(const lang::EventObject&) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_owner)
            QMetaObject::invokeMethod(
                m_owner, [owner = m_owner] { owner->bridgeDisposed(); }, Qt::QueuedConnection);
    }

private:
    std::mutex m_mutex;
    QPointer<OfficeConnection> m_owner;
};

bool OfficeConnection::bootstrap()
{
    // Writing to the pipe of an office that has just died raises SIGPIPE,
    // which would end this program: the write fails and the bridge reports
    // the office's end instead.
    static const bool ignoringSigpipe = [] {
        struct sigaction action = {};
        action.sa_handler = SIG_IGN;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGPIPE, &action, nullptr) == 0;
    }();
    Q_UNUSED(ignoringSigpipe)
    return localContext().is();
}

OfficeConnection::OfficeConnection(const QString& pipeName)
    : m_pipeName(pipeName)
{
}

void ConnectAbort::abort()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aborted = true;
    if (m_pipe.is())
        m_pipe->close();
}

bool ConnectAbort::isAborted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_aborted;
}

bool ConnectAbort::setPipe(const Reference<connection::XConnection>& pipe)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pipe = pipe;
    if (m_aborted)
        m_pipe->close();
    return !m_aborted;
}

bool ConnectAbort::release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pipe.clear();
    return !m_aborted;
}

std::shared_ptr<OfficeConnection> OfficeConnection::connect(const QString& pipeName,
                                                            const std::shared_ptr<ConnectAbort>& abort)
{
    if (!bootstrap() || pipeName.isEmpty())
        return nullptr;
    const Reference<uno::XComponentContext> local = localContext();
    if (!local.is())
        return nullptr;

    QString reason;
    const int fd = OfficePipe::connect(pipeName, &reason);
    if (fd < 0) {
        qCDebug(lcOffice) << "not connecting:" << reason;
        return nullptr;
    }
    std::shared_ptr<OfficeConnection> connection(new OfficeConnection(pipeName));
    const Reference<connection::XConnection> pipe(
        static_cast<connection::XConnection*>(new SocketConnection(fd, pipeName, connection->m_messagesSent)));
    if (abort && !abort->setPipe(pipe))
        return nullptr;
    const bool ok = office::guarded("connecting to the office", false, [&] {
        const Reference<bridge::XBridgeFactory2> factory = bridge::BridgeFactory::create(local);
        connection->m_bridge = factory->createBridge("", "urp", pipe, {});
        connection->m_watch = new BridgeWatch(connection.get());
        connection->m_watchRef.set(static_cast<lang::XEventListener*>(connection->m_watch));
        Reference<lang::XComponent>(connection->m_bridge, UNO_QUERY_THROW)->addEventListener(connection->m_watchRef);
        connection->m_context.set(connection->m_bridge->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
        connection->m_desktop = frame::Desktop::create(connection->m_context);
        return true;
    });
    if (!ok || (abort && !abort->release()))
        return nullptr;
    connection->m_alive = true;
    return connection;
}

std::shared_ptr<OfficeConnection> OfficeConnection::connect(const QString& pipeName, int timeoutMs, bool* timedOut,
                                                            const std::shared_ptr<ConnectAbort>& givenAbort)
{
    *timedOut = false;
    const auto abort = givenAbort ? givenAbort : std::make_shared<ConnectAbort>();
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    // The watchdog shuts the socket down when the time is up: the call waiting
    // for the office's answer then fails at once.
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return finished; })) {
            *timedOut = true;
            abort->abort();
        }
    });
    std::shared_ptr<OfficeConnection> connection = connect(pipeName, abort);
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    done.notify_one();
    watchdog.join();
    if (*timedOut)
        return nullptr;
    return connection;
}

OfficeConnection::~OfficeConnection()
{
    if (m_watch)
        m_watch->detach();
    m_desktop.clear();
    m_context.clear();
    if (m_bridge.is()) {
        office::guarded("closing the office connection", [&] {
            Reference<lang::XComponent> component(m_bridge, UNO_QUERY);
            if (component.is()) {
                component->removeEventListener(m_watchRef);
                component->dispose();
            }
        });
    }
}

quint64 OfficeConnection::messagesSent() const
{
    return *m_messagesSent;
}

bool OfficeConnection::isAlive() const
{
    return m_alive;
}

void OfficeConnection::bridgeDisposed()
{
    if (!m_alive)
        return;
    m_alive = false;
    qCInfo(lcOffice) << "the office on pipe" << m_pipeName << "went away";
    emit disconnected();
}
