#include "FakeClientHelper.h"

QList<FakeClientHelper::Call> FakeClientHelper::callsOf(const QString& name) const
{
    QList<Call> result;
    for (const Call& call : m_calls) {
        if (call.name == name)
            result.append(call);
    }
    return result;
}

QStringList FakeClientHelper::keptTexts(HWND hWnd) const
{
    QStringList texts;
    for (const auto& data : m_findings.value(hWnd))
        texts.append(QString::fromStdString(data->text));
    return texts;
}

void FakeClientHelper::setForegroundEditor()
{
    record(QStringLiteral("setForegroundEditor"));
}

QString FakeClientHelper::getCurrentPageText(HWND hWnd)
{
    record(QStringLiteral("getCurrentPageText"), hWnd);
    return m_currentPage.value(hWnd);
}

QString FakeClientHelper::getAllPageText(HWND hWnd)
{
    record(QStringLiteral("getAllPageText"), hWnd);
    return m_allPages.value(hWnd);
}

QString FakeClientHelper::getNextPageText(HWND hWnd, int pageCount)
{
    record(QStringLiteral("getNextPageText"), hWnd, pageCount);
    return m_nextPages.value(hWnd);
}

void FakeClientHelper::focusChanged(HWND hWnd)
{
    record(QStringLiteral("focusChanged"), hWnd);
    m_focusChanges.append(hWnd);
}

bool FakeClientHelper::hasData(HWND hWnd)
{
    record(QStringLiteral("hasData"), hWnd);
    return !m_findings.value(hWnd).empty();
}

void FakeClientHelper::showErrors(const CHECK_DATAS& checkDatas, HWND hWnd)
{
    record(QStringLiteral("showErrors"), hWnd, int(checkDatas.size()));
    // Copies the records, as a bridge keeps its own.
    CHECK_DATAS& kept = m_findings[hWnd];
    kept.clear();
    for (const auto& data : checkDatas)
        kept.push_back(std::make_shared<CCheckData>(*data));
    if (!m_marksMessage.isEmpty())
        emit editorMessage(hWnd, m_marksMessage);
}

void FakeClientHelper::reportError(HWND hWnd)
{
    record(QStringLiteral("reportError"), hWnd);
}

CHECK_DATAS FakeClientHelper::getCheckDatas(HWND hWnd)
{
    record(QStringLiteral("getCheckDatas"), hWnd);
    auto it = m_findings.find(hWnd);
    return it == m_findings.end() ? CHECK_DATAS() : it.value();
}

void FakeClientHelper::clearErrors(HWND hWnd)
{
    record(QStringLiteral("clearErrors"), hWnd);
    m_findings.remove(hWnd);
}

bool FakeClientHelper::nextError(HWND hWnd)
{
    record(QStringLiteral("nextError"), hWnd);
    return !m_findings.value(hWnd).empty();
}

bool FakeClientHelper::prevError(HWND hWnd)
{
    record(QStringLiteral("prevError"), hWnd);
    return !m_findings.value(hWnd).empty();
}

void FakeClientHelper::enableErrorTip(bool enable)
{
    record(QStringLiteral("enableErrorTip"), nullptr, enable ? 1 : 0);
}

void FakeClientHelper::enableCheckAsYouType(bool enable)
{
    record(QStringLiteral("enableCheckAsYouType"), nullptr, enable ? 1 : 0);
}

bool FakeClientHelper::beginDetectEditor()
{
    const bool started = ClientHelper::beginDetectEditor();
    record(QStringLiteral("beginDetectEditor"), nullptr, started ? 1 : 0);
    return started;
}

bool FakeClientHelper::endDetectEditor()
{
    const bool stopped = ClientHelper::endDetectEditor();
    record(QStringLiteral("endDetectEditor"), nullptr, stopped ? 1 : 0);
    return stopped;
}
