#pragma once

#include "ComDispatch.h"
#include "automation/Automation.h"

#include <map>
#include <memory>

// The automation interface over Word's or WPS's object model, late bound
// through IDispatch. Every object carries the session of its application (the
// DISPIDs learned so far and the call counts). Failed calls answer the
// interface's empty results.
namespace comword {

using SessionPtr = std::shared_ptr<com::Session>;

// Word's application events (ApplicationEvents2), which the application's
// connection-point container offers.
extern const IID DIID_ApplicationEvents2;

class ComApplication : public automation::Application
{
public:
    ComApplication(com::Ref<IDispatch> application, SessionPtr session);
    ~ComApplication() override;

    // The application behind a document window (class "_WwG"): the native
    // object model of the window through AccessibleObjectFromWindow, its
    // Application. Null when the window offers none.
    static std::shared_ptr<ComApplication> fromWindow(HWND window);

    std::shared_ptr<automation::Document> activeDocument() override;
    std::shared_ptr<automation::Window> activeWindow() override;
    std::shared_ptr<automation::Selection> selection() override;
    QString version() override;
    int advise(const std::shared_ptr<automation::EventSink>& sink) override;
    void unadvise(int cookie) override;

    com::Session& session() { return *m_session; }
    IDispatch* dispatch() const { return m_app.Get(); }

private:
    struct Connection;
    com::Ref<IDispatch> m_app;
    SessionPtr m_session;
    std::map<int, std::unique_ptr<Connection>> m_connections;
};

// Wraps an object of the model by kind; null for a null object.
std::shared_ptr<automation::Document> makeDocument(com::Ref<IDispatch> object, const SessionPtr& session);
std::shared_ptr<automation::Window> makeWindow(com::Ref<IDispatch> object, const SessionPtr& session);
std::shared_ptr<automation::Selection> makeSelection(com::Ref<IDispatch> object, const SessionPtr& session);
std::shared_ptr<automation::Range> makeRange(com::Ref<IDispatch> object, const SessionPtr& session);

QString toQString(const std::wstring& text);
std::wstring toWString(const QString& text);

} // namespace comword
