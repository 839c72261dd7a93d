#pragma once

#include "automation/Automation.h"

#include <memory>

class WordHelper;

// The wrapper's sink for the application's events. Connected to an
// application, it forwards every event to its owner's handler; before an owner
// is set (or after it is cleared) events are answered with ResultFalse.
class AppEventListener : public automation::EventSink, public std::enable_shared_from_this<AppEventListener>
{
public:
    ~AppEventListener() override;

    // Connects to application's events, disconnecting first from any earlier
    // one. False when the application offers no events.
    bool connect(const std::shared_ptr<automation::Application>& application);
    void disconnect();
    bool isConnected() const { return m_cookie != 0; }

    void setOwner(WordHelper* owner) { m_owner = owner; }

    long onEvent(int eventId, const std::vector<automation::Variant>& parameters) override;

private:
    std::weak_ptr<automation::Application> m_application;
    int m_cookie = 0;
    WordHelper* m_owner = nullptr;
};
