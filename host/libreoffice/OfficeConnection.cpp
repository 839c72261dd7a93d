#include "OfficeConnection.h"
#include "UnoSupport.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/connection/XConnector.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QPointer>

#include <mutex>

#include <signal.h>

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

// The pipe to the office, counting the messages this process sends over it
// (one a call, plus the releases of references it held): the benchmark's
// measure of round trips.
class CountingConnection : public cppu::WeakImplHelper1<connection::XConnection>
{
public:
    CountingConnection(Reference<connection::XConnection> pipe, std::shared_ptr<std::atomic<quint64>> sent)
        : m_pipe(std::move(pipe))
        , m_sent(std::move(sent))
    {
    }

    sal_Int32 SAL_CALL read(uno::Sequence<sal_Int8>& bytes, sal_Int32 count) override
    {
        return m_pipe->read(bytes, count);
    }
    void SAL_CALL write(const uno::Sequence<sal_Int8>& bytes) override
    {
        ++*m_sent;
        m_pipe->write(bytes);
    }
    void SAL_CALL flush() override { m_pipe->flush(); }
    void SAL_CALL close() override { m_pipe->close(); }
    rtl::OUString SAL_CALL getDescription() override { return m_pipe->getDescription(); }

private:
    Reference<connection::XConnection> m_pipe;
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

namespace office {

std::atomic<int>& GuiCallScope::inProgress()
{
    static std::atomic<int> calls{0};
    return calls;
}

GuiCallScope::GuiCallScope()
{
    // Whether this thread is the GUI thread, found out once per thread (and
    // not before the application exists).
    static thread_local int gui = -1;
    if (gui < 0) {
        const QCoreApplication* application = QCoreApplication::instance();
        if (!application)
            return;
        gui = QThread::currentThread() == application->thread() ? 1 : 0;
    }
    if (gui == 1) {
        ++inProgress();
        m_counted = true;
    }
}

} // namespace office

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

std::shared_ptr<OfficeConnection> OfficeConnection::connect(const QString& pipeName)
{
    if (!bootstrap() || pipeName.isEmpty())
        return nullptr;
    const Reference<uno::XComponentContext> local = localContext();
    if (!local.is())
        return nullptr;

    std::shared_ptr<OfficeConnection> connection(new OfficeConnection(pipeName));
    const bool ok = office::guarded("connecting to the office", false, [&] {
        const Reference<connection::XConnector> connector = connection::Connector::create(local);
        const Reference<connection::XConnection> pipe(static_cast<connection::XConnection*>(new CountingConnection(
            connector->connect("pipe,name=" + office::toOUString(pipeName)), connection->m_messagesSent)));
        const Reference<bridge::XBridgeFactory2> factory = bridge::BridgeFactory::create(local);
        connection->m_bridge = factory->createBridge("", "urp", pipe, {});
        connection->m_watch = new BridgeWatch(connection.get());
        connection->m_watchRef.set(static_cast<lang::XEventListener*>(connection->m_watch));
        Reference<lang::XComponent>(connection->m_bridge, UNO_QUERY_THROW)->addEventListener(connection->m_watchRef);
        connection->m_context.set(connection->m_bridge->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
        connection->m_desktop = frame::Desktop::create(connection->m_context);
        return true;
    });
    if (!ok)
        return nullptr;
    connection->m_alive = true;
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
