#pragma once

#include "bridge/ClientHelper.h"

#include <map>
#include <memory>

class WordHelper;

// The part of an editor bridge that does not depend on the editor: one
// WordHelper per editor window, and every per-document operation of
// ClientHelper handed to the wrapper of the handle the caller passes (a handle
// without a wrapper gets the empty result). A platform's bridge derives from
// it: it recognises editor windows in focusChanged(), creates their wrappers
// with wrapperFor() and attaches them to the editor's automation objects.
class WordBridge : public ClientHelper
{
    Q_OBJECT
public:
    WordBridge();
    ~WordBridge() override;

    // The wrapper of hWnd; null when the window was never seen.
    std::shared_ptr<WordHelper> wrapper(HWND hWnd) const;

    QString getCurrentPageText(HWND hWnd) override;
    QString getAllPageText(HWND hWnd) override;
    QString getNextPageText(HWND hWnd, int pageCount) override;
    bool hasData(HWND hWnd) override;
    void showErrors(const CHECK_DATAS& checkDatas, HWND hWnd) override;
    void reportError(HWND hWnd) override;
    CHECK_DATAS getCheckDatas(HWND hWnd) override;
    void clearErrors(HWND hWnd) override;
    bool nextError(HWND hWnd) override;
    bool prevError(HWND hWnd) override;
    void enableErrorTip(bool enable) override;
    void enableCheckAsYouType(bool enable) override;

protected:
    // The wrapper of hWnd, made (not attached) when there is none yet.
    std::shared_ptr<WordHelper> wrapperFor(HWND hWnd);
    void dropWrapper(HWND hWnd);
    const std::map<HWND, std::shared_ptr<WordHelper>>& wrappers() const { return m_wrappers; }
    void dropAllWrappers();

private:
    std::map<HWND, std::shared_ptr<WordHelper>> m_wrappers;
    bool m_errorTip = true;
    bool m_checkAsYouType = false;
};
