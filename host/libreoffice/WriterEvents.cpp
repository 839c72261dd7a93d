#include "WriterEvents.h"
#include "OfficeConnection.h"
#include "UnoSupport.h"
#include "WriterApplication.h"
#include "WriterDocument.h"
#include "WriterSelection.h"
#include "WriterText.h"

#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XTopWindowListener.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/awt/XWindowListener.hpp>
#include <com/sun/star/document/XDocumentEventBroadcaster.hpp>
#include <com/sun/star/document/XDocumentEventListener.hpp>
#include <com/sun/star/util/XModifyBroadcaster.hpp>
#include <com/sun/star/util/XModifyListener.hpp>
#include <com/sun/star/view/XSelectionChangeListener.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>
#include <cppuhelper/implbase5.hxx>

#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <mutex>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

// The UNO side: called by the office on UNO's threads (or, for changes our
// own calls cause, nested in those calls on the GUI thread).
class EventListener : public cppu::WeakImplHelper5<view::XSelectionChangeListener, document::XDocumentEventListener,
                                                   awt::XTopWindowListener, awt::XWindowListener, util::XModifyListener>
{
public:
    EventListener(WriterEvents* events, std::shared_ptr<WriterText> text)
        : m_events(events)
        , m_text(std::move(text))
    {
    }

    void detach()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events = nullptr;
    }

    void SAL_CALL selectionChanged(const lang::EventObject&) override
    {
        // Our own hidden moves of the view cursor (page lookups) arrive nested
        // in our calls on the GUI thread: not the user's.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_events)
            return;
        if (QThread::currentThread() == m_events->thread()) {
            const std::shared_ptr<WriterText> text = m_text.lock();
            if (text && text->suppressingSelectionEvents())
                return;
        }
        post(automation::EventWindowSelectionChange, false);
    }

    void SAL_CALL documentEventOccured(const document::DocumentEvent& event) override
    {
        const rtl::OUString& name = event.EventName;
        // The marks are not part of the document: a save need not wait for us.
        if (name == "OnSave" || name == "OnSaveAs") {
            postLocked(automation::EventDocumentBeforeSave, name == "OnSaveAs");
        } else if (name == "OnPrepareUnload") {
            m_closing = true;
            postLocked(automation::EventDocumentBeforeClose);
        } else if (name == "OnUnload" && !m_closing) {
            m_closing = true;
            postLocked(automation::EventDocumentBeforeClose);
        }
    }

    // Every change of the document's content, typed or not. One delivery at
    // a time is queued: the logic only needs to know that text changed.
    void SAL_CALL modified(const lang::EventObject&) override
    {
        if (m_changePosted.exchange(true))
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_events) {
            m_changePosted = false;
            return;
        }
        QMetaObject::invokeMethod(
            m_events.data(),
            [this, events = m_events, self = Reference<uno::XInterface>(static_cast<cppu::OWeakObject*>(this))] {
                m_changePosted = false;
                if (events)
                    events->deliver(automation::EventDocumentChange, false);
            },
            Qt::QueuedConnection);
    }

    void SAL_CALL windowDeactivated(const lang::EventObject&) override
    {
        postLocked(automation::EventWindowDeactivate);
    }
    void SAL_CALL windowResized(const awt::WindowEvent&) override { postLocked(automation::EventWindowSize); }

    void SAL_CALL windowOpened(const lang::EventObject&) override {}
    void SAL_CALL windowClosing(const lang::EventObject&) override {}
    void SAL_CALL windowClosed(const lang::EventObject&) override {}
    void SAL_CALL windowMinimized(const lang::EventObject&) override {}
    void SAL_CALL windowNormalized(const lang::EventObject&) override {}
    void SAL_CALL windowActivated(const lang::EventObject&) override {}
    void SAL_CALL windowMoved(const awt::WindowEvent&) override {}
    void SAL_CALL windowShown(const lang::EventObject&) override {}
    void SAL_CALL windowHidden(const lang::EventObject&) override {}
    void SAL_CALL disposing(const lang::EventObject&) override {}

private:
    void postLocked(int eventId, bool saveAs = false)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        post(eventId, saveAs);
    }

    // With m_mutex held.
    void post(int eventId, bool saveAs)
    {
        if (!m_events)
            return;
        QMetaObject::invokeMethod(
            m_events.data(),
            [events = m_events, eventId, saveAs] {
                if (events)
                    events->deliver(eventId, saveAs);
            },
            Qt::QueuedConnection);
    }

    std::mutex m_mutex;
    QPointer<WriterEvents> m_events;
    // Not owned: the office may release this listener last, on one of its
    // threads, and the document's state must then not go with it there.
    std::weak_ptr<WriterText> m_text;
    bool m_closing = false;
    std::atomic<bool> m_changePosted{false};
};

WriterEvents::WriterEvents(WriterApplication& application)
    : m_application(application)
{
    m_listener = new EventListener(this, application.document()->writerText());
    m_listenerRef.set(static_cast<cppu::OWeakObject*>(m_listener));
}

WriterEvents::~WriterEvents()
{
    m_listener->detach();
    uninstall();
}

int WriterEvents::advise(const std::shared_ptr<automation::EventSink>& sink)
{
    if (!m_installed && !install())
        return 0;
    const int cookie = m_nextCookie++;
    m_sinks[cookie] = sink;
    return cookie;
}

void WriterEvents::unadvise(int cookie)
{
    m_sinks.erase(cookie);
    if (m_sinks.empty())
        uninstall();
}

bool WriterEvents::install()
{
    const std::shared_ptr<WriterText>& text = m_application.document()->writerText();
    if (!text->isAlive())
        return false;
    const Reference<frame::XModel> model = text->model();
    const Reference<frame::XController> controller = text->controller();
    bool any = false;
    any |= office::guarded("listening to the selection", false, [&] {
        Reference<view::XSelectionSupplier>(controller, UNO_QUERY_THROW)
            ->addSelectionChangeListener(Reference<view::XSelectionChangeListener>(m_listener));
        return true;
    });
    any |= office::guarded("listening to the document", false, [&] {
        Reference<document::XDocumentEventBroadcaster>(model, UNO_QUERY_THROW)
            ->addDocumentEventListener(Reference<document::XDocumentEventListener>(m_listener));
        return true;
    });
    office::guarded("listening to changes of the document", [&] {
        Reference<util::XModifyBroadcaster>(model, UNO_QUERY_THROW)
            ->addModifyListener(Reference<util::XModifyListener>(m_listener));
    });
    office::guarded("listening to the window", [&] {
        const Reference<awt::XWindow>& window = m_application.containerWindow();
        window->addWindowListener(Reference<awt::XWindowListener>(m_listener));
        Reference<awt::XTopWindow> top(window, UNO_QUERY);
        if (top.is())
            top->addTopWindowListener(Reference<awt::XTopWindowListener>(m_listener));
    });
    m_installed = any;
    return any;
}

void WriterEvents::uninstall()
{
    if (!m_installed)
        return;
    m_installed = false;
    const std::shared_ptr<WriterText>& text = m_application.document()->writerText();
    if (!text->isAlive())
        return;
    office::guarded("removing the selection listener", [&] {
        Reference<view::XSelectionSupplier>(text->controller(), UNO_QUERY_THROW)
            ->removeSelectionChangeListener(Reference<view::XSelectionChangeListener>(m_listener));
    });
    office::guarded("removing the document listener", [&] {
        Reference<document::XDocumentEventBroadcaster>(text->model(), UNO_QUERY_THROW)
            ->removeDocumentEventListener(Reference<document::XDocumentEventListener>(m_listener));
    });
    office::guarded("removing the change listener", [&] {
        Reference<util::XModifyBroadcaster>(text->model(), UNO_QUERY_THROW)
            ->removeModifyListener(Reference<util::XModifyListener>(m_listener));
    });
    office::guarded("removing the window listeners", [&] {
        const Reference<awt::XWindow>& window = m_application.containerWindow();
        window->removeWindowListener(Reference<awt::XWindowListener>(m_listener));
        Reference<awt::XTopWindow> top(window, UNO_QUERY);
        if (top.is())
            top->removeTopWindowListener(Reference<awt::XTopWindowListener>(m_listener));
    });
}

void WriterEvents::deliver(int eventId, bool saveAs)
{
    if (m_sinks.empty())
        return;
    std::shared_ptr<automation::Object> document = m_application.document();
    std::vector<automation::Variant> parameters;
    switch (eventId) {
    case automation::EventWindowSelectionChange:
        if (m_application.document()->writerText()->viewMovedRecently())
            return;
        parameters = {std::shared_ptr<automation::Object>(m_application.selection())};
        break;
    case automation::EventDocumentBeforeSave:
        parameters = {false, saveAs, document};
        break;
    case automation::EventDocumentBeforeClose:
        parameters = {false, document};
        break;
    case automation::EventDocumentChange:
        parameters = {document};
        break;
    case automation::EventWindowDeactivate:
    case automation::EventWindowSize:
        parameters = {std::shared_ptr<automation::Object>(m_application.activeWindow()), document};
        break;
    default:
        return;
    }
    // A sink may unadvise while it handles the event.
    const auto sinks = m_sinks;
    for (const auto& [cookie, sink] : sinks)
        sink->onEvent(eventId, parameters);
}
