#include "bridge/WordBridge.h"
#include "bridge/WordHelper.h"
#include "client/Revisor.h"

WordBridge::WordBridge() = default;

WordBridge::~WordBridge()
{
    dropAllWrappers();
}

std::shared_ptr<WordHelper> WordBridge::wrapper(HWND hWnd) const
{
    if (!hWnd)
        return nullptr;
    const auto it = m_wrappers.find(hWnd);
    return it == m_wrappers.end() ? nullptr : it->second;
}

std::shared_ptr<WordHelper> WordBridge::wrapperFor(HWND hWnd)
{
    std::shared_ptr<WordHelper>& helper = m_wrappers[hWnd];
    if (!helper) {
        helper = std::make_shared<WordHelper>();
        helper->enableErrorTip(m_errorTip);
        helper->setCheckAsYouType(m_checkAsYouType);
        connect(helper.get(), &WordHelper::findingsChanged, this, [this, hWnd] { emit findingsChanged(hWnd); });
        connect(helper.get(), &WordHelper::typingStatus, this,
                [this, hWnd](const QString& text) { emit typingStatus(hWnd, text); });
        connect(helper.get(), &WordHelper::message, this,
                [this, hWnd](const QString& text) { emit editorMessage(hWnd, text); });
    }
    return helper;
}

void WordBridge::dropWrapper(HWND hWnd)
{
    m_wrappers.erase(hWnd);
}

void WordBridge::dropAllWrappers()
{
    m_wrappers.clear();
}

QString WordBridge::getCurrentPageText(HWND hWnd)
{
    const auto helper = wrapper(hWnd);
    return helper ? helper->getCurrentPageText() : QString();
}

QString WordBridge::getAllPageText(HWND hWnd)
{
    const auto helper = wrapper(hWnd);
    return helper ? helper->getAllPageText() : QString();
}

QString WordBridge::getNextPageText(HWND hWnd, int pageCount)
{
    const auto helper = wrapper(hWnd);
    return helper ? helper->getNextPageText(pageCount) : QString();
}

bool WordBridge::hasData(HWND hWnd)
{
    const auto helper = wrapper(hWnd);
    return helper && helper->hasData();
}

void WordBridge::showErrors(const CHECK_DATAS& checkDatas, HWND hWnd)
{
    if (const auto helper = wrapper(hWnd))
        helper->showErrors(checkDatas);
}

void WordBridge::reportError(HWND hWnd)
{
    if (const auto helper = wrapper(hWnd)) {
        helper->onReportError();
        return;
    }
    if (Revisor* revisor = getRevisor())
        revisor->reportError(QString(), QString());
}

CHECK_DATAS WordBridge::getCheckDatas(HWND hWnd)
{
    const auto helper = wrapper(hWnd);
    return helper ? helper->getCheckDatas() : CHECK_DATAS();
}

void WordBridge::clearErrors(HWND hWnd)
{
    if (const auto helper = wrapper(hWnd))
        helper->clearErrors();
}

bool WordBridge::nextError(HWND hWnd)
{
    const auto helper = wrapper(hWnd);
    return helper && helper->onNext();
}

bool WordBridge::prevError(HWND hWnd)
{
    const auto helper = wrapper(hWnd);
    return helper && helper->onPrev();
}

void WordBridge::enableErrorTip(bool enable)
{
    m_errorTip = enable;
    for (auto& [hWnd, helper] : m_wrappers)
        helper->enableErrorTip(enable);
}

void WordBridge::enableCheckAsYouType(bool enable)
{
    m_checkAsYouType = enable;
    for (auto& [hWnd, helper] : m_wrappers)
        helper->setCheckAsYouType(enable);
}
