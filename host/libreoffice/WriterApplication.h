#pragma once

#include "automation/Automation.h"

#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/frame/XFrame.hpp>

#include <QtGlobal>

#include <memory>

class AccessibleView;
class OfficeConnection;
class WriterDocument;
class WriterEvents;

// LibreOffice as the application of one Writer window (a frame of the office
// that the connection reaches). Its active document is the frame's document;
// its events are those of that frame and document.
class WriterApplication : public automation::Application, public std::enable_shared_from_this<WriterApplication>
{
public:
    // Null when frame holds no Writer document.
    static std::shared_ptr<WriterApplication> create(std::shared_ptr<OfficeConnection> connection,
                                                     css::uno::Reference<css::frame::XFrame> frame);
    // The frame whose container window is the X11 window windowId; null when
    // the office has none.
    static css::uno::Reference<css::frame::XFrame> frameForWindow(OfficeConnection& connection, quintptr windowId);
    // The X11 window of the frame's container window; 0 when unknown.
    static quintptr windowIdOf(const css::uno::Reference<css::frame::XFrame>& frame);

    ~WriterApplication() override;

    const std::shared_ptr<OfficeConnection>& connection() const { return m_connection; }
    const css::uno::Reference<css::frame::XFrame>& frame() const { return m_frame; }
    const css::uno::Reference<css::awt::XWindow>& containerWindow() const { return m_containerWindow; }
    // The document at attach time, for the events (Writer keeps one document
    // per frame).
    std::shared_ptr<WriterDocument> document();

    std::shared_ptr<automation::Document> activeDocument() override;
    std::shared_ptr<automation::Window> activeWindow() override;
    std::shared_ptr<automation::Selection> selection() override;
    QString version() override;
    int advise(const std::shared_ptr<automation::EventSink>& sink) override;
    void unadvise(int cookie) override;

private:
    WriterApplication(std::shared_ptr<OfficeConnection> connection, css::uno::Reference<css::frame::XFrame> frame);

    std::shared_ptr<OfficeConnection> m_connection;
    css::uno::Reference<css::frame::XFrame> m_frame;
    // Held for the application's life: when the office closes the window, the
    // last reference must not be the one in a notification the office sends
    // us (the office then destroys the window on its writer thread while the
    // closing thread holds the lock it needs: both wait for ever).
    css::uno::Reference<css::awt::XWindow> m_containerWindow;
    std::shared_ptr<WriterDocument> m_document;
    std::shared_ptr<AccessibleView> m_view;
    std::unique_ptr<WriterEvents> m_events;
    QString m_version;
};
