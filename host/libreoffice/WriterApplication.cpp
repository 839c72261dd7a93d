#include "WriterApplication.h"
#include "AccessibleView.h"
#include "OfficeConnection.h"
#include "UnoSupport.h"
#include "WriterDocument.h"
#include "WriterEvents.h"
#include "WriterMarks.h"
#include "WriterSelection.h"
#include "WriterText.h"
#include "WriterWindow.h"

#include <com/sun/star/awt/XSystemDependentWindowPeer.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFramesSupplier.hpp>
#include <com/sun/star/lang/SystemDependent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/awt/SystemDependentXWindow.hpp>
#include <com/sun/star/text/XTextDocument.hpp>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

WriterApplication::WriterApplication(std::shared_ptr<OfficeConnection> connection, Reference<frame::XFrame> frame)
    : m_connection(std::move(connection))
    , m_frame(std::move(frame))
{
}

WriterApplication::~WriterApplication()
{
    m_events.reset(); // takes the listeners off the office first
}

std::shared_ptr<WriterApplication> WriterApplication::create(std::shared_ptr<OfficeConnection> connection,
                                                             Reference<frame::XFrame> frame)
{
    if (!connection || !connection->isAlive() || !frame.is())
        return nullptr;
    const Reference<frame::XModel> model = office::guarded<Reference<frame::XModel>>("reading the frame", {}, [&] {
        const Reference<frame::XController> controller = frame->getController();
        return controller.is() ? controller->getModel() : Reference<frame::XModel>();
    });
    if (!Reference<text::XTextDocument>(model, UNO_QUERY).is())
        return nullptr;
    std::shared_ptr<WriterApplication> application(new WriterApplication(connection, frame));
    application->m_containerWindow = office::guarded<Reference<awt::XWindow>>(
        "reading the frame's window", {}, [&] { return frame->getContainerWindow(); });
    application->m_document = std::make_shared<WriterDocument>(std::make_shared<WriterText>(connection, model));
    application->m_view = std::make_shared<AccessibleView>(frame);
    application->m_events = std::make_unique<WriterEvents>(*application);
    // Marks are no longer formatting: any an older version left go now.
    application->m_document->writerText()->marks().removeFormattingMarks();
    return application;
}

quintptr WriterApplication::windowIdOf(const Reference<frame::XFrame>& frame)
{
    return office::guarded<quintptr>("reading a window handle", 0, [&]() -> quintptr {
        Reference<awt::XSystemDependentWindowPeer> peer(frame->getContainerWindow(), UNO_QUERY);
        if (!peer.is())
            return 0;
        // The process id is not checked by the office; 16 bytes as it expects.
        const uno::Sequence<sal_Int8> processId(16);
        const uno::Any handle = peer->getWindowHandle(processId, lang::SystemDependent::SYSTEM_XWINDOW);
        awt::SystemDependentXWindow xwindow;
        if (handle >>= xwindow)
            return quintptr(xwindow.WindowHandle);
        sal_Int64 plain = 0;
        if (handle >>= plain)
            return quintptr(plain);
        return 0;
    });
}

Reference<frame::XFrame> WriterApplication::frameForWindow(OfficeConnection& connection, quintptr windowId)
{
    if (!connection.isAlive() || windowId == 0)
        return {};
    return office::guarded<Reference<frame::XFrame>>("finding the frame of a window", {}, [&] {
        Reference<frame::XFramesSupplier> desktop(connection.desktop(), UNO_QUERY_THROW);
        Reference<container::XIndexAccess> frames(desktop->getFrames(), UNO_QUERY_THROW);
        const sal_Int32 count = frames->getCount();
        for (sal_Int32 i = 0; i < count; ++i) {
            Reference<frame::XFrame> frame(frames->getByIndex(i), UNO_QUERY);
            if (frame.is() && windowIdOf(frame) == windowId)
                return frame;
        }
        return Reference<frame::XFrame>();
    });
}

std::shared_ptr<WriterDocument> WriterApplication::document()
{
    return m_document;
}

std::shared_ptr<automation::Document> WriterApplication::activeDocument()
{
    if (!m_connection->isAlive())
        return nullptr;
    return m_document;
}

std::shared_ptr<automation::Window> WriterApplication::activeWindow()
{
    if (!m_connection->isAlive())
        return nullptr;
    return std::make_shared<WriterWindow>(m_document->writerText(), m_view);
}

std::shared_ptr<automation::Selection> WriterApplication::selection()
{
    if (!m_connection->isAlive())
        return nullptr;
    return std::make_shared<WriterSelection>(m_document);
}

QString WriterApplication::version()
{
    if (!m_version.isEmpty() || !m_connection->isAlive())
        return m_version;
    m_version = office::guarded<QString>("reading the office's version", {}, [&] {
        const Reference<lang::XMultiServiceFactory> provider =
            configuration::theDefaultProvider::get(m_connection->context());
        beans::PropertyValue path;
        path.Name = "nodepath";
        path.Value <<= rtl::OUString("/org.openoffice.Setup/Product");
        uno::Sequence<uno::Any> arguments(1);
        arguments[0] <<= path;
        Reference<container::XNameAccess> product(
            provider->createInstanceWithArguments("com.sun.star.configuration.ConfigurationAccess", arguments),
            UNO_QUERY_THROW);
        rtl::OUString version;
        if (!(product->getByName("ooSetupVersionAboutBox") >>= version) || version.isEmpty())
            product->getByName("ooSetupVersion") >>= version;
        return office::toQString(version);
    });
    return m_version;
}

int WriterApplication::advise(const std::shared_ptr<automation::EventSink>& sink)
{
    if (!sink || !m_connection->isAlive())
        return 0;
    return m_events->advise(sink);
}

void WriterApplication::unadvise(int cookie)
{
    m_events->unadvise(cookie);
}
