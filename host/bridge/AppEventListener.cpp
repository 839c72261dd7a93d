#include "bridge/AppEventListener.h"
#include "bridge/WordHelper.h"

AppEventListener::~AppEventListener()
{
    disconnect();
}

bool AppEventListener::connect(const std::shared_ptr<automation::Application>& application)
{
    disconnect();
    if (!application)
        return false;
    m_cookie = application->advise(shared_from_this());
    if (m_cookie == 0)
        return false;
    m_application = application;
    return true;
}

void AppEventListener::disconnect()
{
    if (m_cookie == 0)
        return;
    if (std::shared_ptr<automation::Application> application = m_application.lock())
        application->unadvise(m_cookie);
    m_application.reset();
    m_cookie = 0;
}

long AppEventListener::onEvent(int eventId, const std::vector<automation::Variant>& parameters)
{
    if (!m_owner)
        return automation::ResultFalse;
    return m_owner->handleEvent(eventId, parameters);
}
