#pragma once

#include "automation/Automation.h"

#include <com/sun/star/uno/Reference.hxx>

#include <QObject>

#include <map>
#include <memory>

class EventListener;
class WriterApplication;

// Turns the office's notifications about one Writer window into the
// application events of the automation interface, delivered on the thread of
// this object (the GUI thread):
// - the view's selection changed → selection change (12);
// - the document is about to be saved (OnSave, OnSaveAs) → before save (8);
// - the document is about to close (OnPrepareUnload, or OnUnload when a close
//   skips it) → before close (6);
// - the window lost the focus → window deactivate (11);
// - the window was resized → window size (25).
// The office calls back on its own threads; every call is queued.
class WriterEvents : public QObject
{
    Q_OBJECT
public:
    explicit WriterEvents(WriterApplication& application);
    ~WriterEvents() override;

    int advise(const std::shared_ptr<automation::EventSink>& sink);
    void unadvise(int cookie);

    // From the listener.
    void deliver(int eventId, bool saveAs);

private:
    bool install();
    void uninstall();

    WriterApplication& m_application;
    std::map<int, std::shared_ptr<automation::EventSink>> m_sinks;
    int m_nextCookie = 1;
    EventListener* m_listener = nullptr;
    css::uno::Reference<css::uno::XInterface> m_listenerRef;
    bool m_installed = false;
};
