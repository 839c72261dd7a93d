#include "WriterEvents.h"
#include "OfficeConnection.h"
#include "UnoSupport.h"
#include "WriterApplication.h"
#include "WriterDocument.h"
#include "WriterFont.h"
#include "WriterSelection.h"
#include "WriterText.h"

#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XTopWindowListener.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/awt/XWindowListener.hpp>
#include <com/sun/star/document/XDocumentEventBroadcaster.hpp>
#include <com/sun/star/document/XDocumentEventListener.hpp>
#include <com/sun/star/util/XPropertyReplace.hpp>
#include <com/sun/star/util/XReplaceDescriptor.hpp>
#include <com/sun/star/util/XReplaceable.hpp>
#include <com/sun/star/view/XSelectionChangeListener.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>
#include <cppuhelper/implbase4.hxx>
#include <rtl/byteseq.hxx>
#include <uno/threadpool.h>

#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <condition_variable>
#include <mutex>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {
// How long the office's save waits for the GUI thread to handle the
// before-save event. A GUI thread that does not come may itself be waiting for
// the office (which holds its lock while it saves): then the marks are removed
// here, in one call, and the event follows as usual.
constexpr auto kSaveWait = std::chrono::milliseconds(1500);
} // namespace

// The UNO side: called by the office on UNO's threads (or, for changes our
// own calls cause, nested in those calls on the GUI thread).
class EventListener : public cppu::WeakImplHelper4<view::XSelectionChangeListener, document::XDocumentEventListener,
                                                   awt::XTopWindowListener, awt::XWindowListener>
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
        if (QThread::currentThread() == m_events->thread() && m_text->suppressingSelectionEvents())
            return;
        post(automation::EventWindowSelectionChange, false);
    }

    void SAL_CALL documentEventOccured(const document::DocumentEvent& event) override
    {
        const rtl::OUString& name = event.EventName;
        // A copy (Save a Copy, an export such as PDF: storeToURL) is a file
        // the user saves too.
        if (name == "OnSave" || name == "OnSaveAs" || name == "OnCopyTo") {
            m_text->setSaving(true);
            beforeSave(name != "OnSave");
        } else if (name == "OnSaveDone" || name == "OnSaveAsDone" || name == "OnSaveFailed" ||
                   name == "OnSaveAsFailed" || name == "OnCopyToDone" || name == "OnCopyToFailed") {
            m_text->setSaving(false);
        } else if (name == "OnPrepareUnload") {
            m_closing = true;
            postLocked(automation::EventDocumentBeforeClose);
        } else if (name == "OnUnload" && !m_closing) {
            m_closing = true;
            postLocked(automation::EventDocumentBeforeClose);
        }
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

    // On the office's calling thread: every mark off. Where a mark was set
    // over formatting read just before, that formatting comes back; any other
    // mark leaves no underline.
    void removeMarksForSave()
    {
        m_text->formattingChanged();
        const automation::Font mark{automation::UnderlineWavyHeavy, automation::MarkColor};
        for (const auto& [cursor, original] : m_text->notedMarks()) {
            office::guarded("restoring formatting for a save", [&, &cursor = cursor, &original = original] {
                const office::RangeProperties properties{Reference<beans::XMultiPropertySet>(cursor, UNO_QUERY_THROW)};
                // Only where the mark still is: the text may have been
                // unmarked or reformatted since.
                if (office::readFont(properties) == std::optional<automation::Font>(mark))
                    office::writeFont(properties, original);
            });
        }
        office::guarded("removing the marks for a save", [&] {
            const automation::Font plain{automation::UnderlineNone, automation::ColorAutomatic};
            Reference<util::XReplaceable> replaceable(m_text->model(), UNO_QUERY_THROW);
            Reference<util::XReplaceDescriptor> descriptor = replaceable->createReplaceDescriptor();
            descriptor->setSearchString({});
            descriptor->setReplaceString({});
            Reference<util::XPropertyReplace> attributes(descriptor, UNO_QUERY_THROW);
            attributes->setValueSearch(true);
            attributes->setSearchAttributes(office::fontProperties(mark));
            attributes->setReplaceAttributes(office::fontProperties(plain));
            replaceable->replaceAll(Reference<util::XSearchDescriptor>(descriptor, UNO_QUERY_THROW));
        });
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

    struct SaveHandling
    {
        std::mutex mutex;
        std::condition_variable done;
        enum { Pending, Running, Finished, Cancelled } stage = Pending;
    };

    // Waits, with wait held, until the GUI thread has handled the save. False
    // when it has not started after kSaveWait, or sooner when it is stuck in
    // a call into the office (which cannot be answered while the save waits):
    // inside one for kStuckAfter on end.
    static bool waitForGui(SaveHandling& handling, std::unique_lock<std::mutex>& wait)
    {
        constexpr auto kPoll = std::chrono::milliseconds(5);
        constexpr auto kStuckAfter = std::chrono::milliseconds(100);
        const auto deadline = std::chrono::steady_clock::now() + kSaveWait;
        auto inCallSince = std::chrono::steady_clock::time_point::max();
        for (;;) {
            if (handling.done.wait_for(wait, kPoll, [&] { return handling.stage == SaveHandling::Finished; }))
                return true;
            const auto now = std::chrono::steady_clock::now();
            if (handling.stage != SaveHandling::Pending)
                continue; // running: it is waited for to the end
            if (office::GuiCallScope::inProgress() == 0)
                inCallSince = std::chrono::steady_clock::time_point::max();
            else if (inCallSince == std::chrono::steady_clock::time_point::max())
                inCallSince = now;
            if (now >= deadline ||
                (inCallSince != std::chrono::steady_clock::time_point::max() && now - inCallSince >= kStuckAfter))
                return false;
        }
    }

    void beforeSave(bool saveAs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_events)
            return;
        if (QThread::currentThread() == m_events->thread()) {
            // Raised by one of our own calls: handle it right here.
            QPointer<WriterEvents> events = m_events;
            lock.unlock();
            events->deliver(automation::EventDocumentBeforeSave, saveAs);
            return;
        }
        // The office waits in this call. Calls that the GUI thread makes meanwhile
        // must reach the office's waiting thread, or they wait for it for ever:
        // the GUI thread borrows this thread's UNO identity while it handles
        // the event.
        sal_Sequence* raw = nullptr;
        uno_getIdOfCurrentThread(&raw);
        const rtl::ByteSequence threadId(raw, rtl::BYTESEQ_NOACQUIRE);
        uno_releaseIdFromCurrentThread();

        auto handling = std::make_shared<SaveHandling>();
        QMetaObject::invokeMethod(
            m_events.data(),
            [events = m_events, handling, threadId, saveAs] {
                {
                    std::lock_guard<std::mutex> guard(handling->mutex);
                    if (handling->stage == SaveHandling::Cancelled)
                        return;
                    handling->stage = SaveHandling::Running;
                }
                const bool bound = uno_bindIdToCurrentThread(threadId.getHandle());
                if (events && bound)
                    events->deliver(automation::EventDocumentBeforeSave, saveAs);
                if (bound)
                    uno_releaseIdFromCurrentThread();
                std::lock_guard<std::mutex> guard(handling->mutex);
                handling->stage = SaveHandling::Finished;
                handling->done.notify_all();
            },
            Qt::QueuedConnection);
        lock.unlock();

        std::unique_lock<std::mutex> wait(handling->mutex);
        if (!waitForGui(*handling, wait)) {
            if (handling->stage == SaveHandling::Pending) {
                handling->stage = SaveHandling::Cancelled;
                wait.unlock();
                qCInfo(lcOffice) << "the program was busy: the marks are removed for the save in one call";
                removeMarksForSave();
                postLocked(automation::EventDocumentBeforeSave, saveAs);
                return;
            }
            handling->done.wait(wait, [&] { return handling->stage == SaveHandling::Finished; });
        }
    }

    std::mutex m_mutex;
    QPointer<WriterEvents> m_events;
    std::shared_ptr<WriterText> m_text;
    bool m_closing = false;
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
