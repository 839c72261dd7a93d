#include "WordClientHelper.h"
#include "ComAutomation.h"
#include "bridge/WordHelper.h"
#include "client/Revisor.h"

#include <QLoggingCategory>

#include <vector>

Q_LOGGING_CATEGORY(lcWordBridge, "quillet.bridge.word")

namespace {

const wchar_t kEditorClass[] = L"_WwG";

QString windowText(HWND window)
{
    wchar_t text[256] = {};
    const int length = GetWindowTextW(window, text, 256);
    return QString::fromWCharArray(text, length > 0 ? length : 0);
}

} // namespace

WordClientHelper::WordClientHelper() = default;

WordClientHelper::~WordClientHelper() = default;

bool WordClientHelper::isEditorWindow(HWND window)
{
    wchar_t name[261] = {};
    return window && GetClassNameW(window, name, 261) > 0 && std::wcscmp(name, kEditorClass) == 0;
}

HWND WordClientHelper::findEditorWindow(HWND window)
{
    if (!window)
        return nullptr;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindow(child))
            continue;
        if (isEditorWindow(child))
            return child;
        if (HWND found = findEditorWindow(child))
            return found;
    }
    return nullptr;
}

QString WordClientHelper::topLevelTitle(HWND window)
{
    HWND root = GetAncestor(window, GA_ROOT);
    return windowText(root ? root : window);
}

void WordClientHelper::setForegroundEditor()
{
    if (HWND editor = findEditorWindow(GetForegroundWindow()))
        focusChanged(editor);
}

void WordClientHelper::focusChanged(HWND hWnd)
{
    if (!hWnd || !isEditorWindow(hWnd))
        return;
    dropVanishedWindows();
    const std::shared_ptr<WordHelper> helper = wrapperFor(hWnd);
    if (!helper->isAttached())
        attach(helper, hWnd);
    emit editorDetected(topLevelTitle(hWnd), hWnd);
}

bool WordClientHelper::attach(const std::shared_ptr<WordHelper>& helper, HWND hWnd)
{
    std::shared_ptr<comword::ComApplication> application = comword::ComApplication::fromWindow(hWnd);
    if (!application || !helper->attach(hWnd, application)) {
        qCDebug(lcWordBridge) << "could not attach to the editor window" << hWnd;
        return false;
    }
    if (Revisor* revisor = getRevisor()) {
        const QString title = topLevelTitle(hWnd).toLower();
        revisor->setHost(title.contains(QLatin1String("wps")) ? QStringLiteral("wps") : QStringLiteral("word"),
                         application->version());
    }
    return true;
}

void WordClientHelper::dropVanishedWindows()
{
    std::vector<HWND> gone;
    for (const auto& entry : wrappers()) {
        if (!IsWindow(entry.first))
            gone.push_back(entry.first);
    }
    for (HWND window : gone)
        dropWrapper(window);
}
