#include "bridge/ClientHelper.h"
#include "bridge/FocusWatcher.h"

namespace {

// The bridge whose detection runs; the watchers of other bridges stay silent.
ClientHelper* s_detectingHelper = nullptr;

} // namespace

ClientHelper::ClientHelper()
{
    qRegisterMetaType<HWND>("HWND");
}

ClientHelper::~ClientHelper()
{
    s_detectingHelper = nullptr;
}

void ClientHelper::setForegroundEditor()
{
}

QString ClientHelper::getCurrentPageText(HWND)
{
    return QString();
}

QString ClientHelper::getAllPageText(HWND)
{
    return QString();
}

QString ClientHelper::getNextPageText(HWND, int)
{
    return QString();
}

void ClientHelper::focusChanged(HWND)
{
}

bool ClientHelper::hasData(HWND)
{
    return false;
}

void ClientHelper::showErrors(const CHECK_DATAS&, HWND)
{
}

void ClientHelper::reportError(HWND)
{
}

CHECK_DATAS ClientHelper::getCheckDatas(HWND)
{
    return {};
}

void ClientHelper::clearErrors(HWND)
{
}

bool ClientHelper::nextError(HWND)
{
    return false;
}

bool ClientHelper::prevError(HWND)
{
    return false;
}

void ClientHelper::enableCheckAsYouType(bool)
{
}

void ClientHelper::enableErrorTip(bool)
{
}

bool ClientHelper::beginDetectEditor()
{
    if (!m_watcher) {
        std::unique_ptr<FocusWatcher> watcher = FocusWatcher::create();
        const bool started = watcher && watcher->start([this](HWND hWnd) {
            if (s_detectingHelper == this)
                focusChanged(hWnd);
        });
        if (!started)
            return false;
        m_watcher = std::move(watcher);
    }
    s_detectingHelper = this;
    return true;
}

bool ClientHelper::endDetectEditor()
{
    s_detectingHelper = nullptr;
    if (!m_watcher)
        return false;
    m_watcher.reset();
    return true;
}
