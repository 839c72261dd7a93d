#pragma once

#include "bridge/ClientHelper.h"

#include <QHash>
#include <QList>
#include <QString>

// An editor bridge without a word processor: page texts are set per handle,
// findings are kept per handle as showErrors() hands them over (each call
// replaces the handle's list), and every call of a virtual operation is
// recorded in order.
class FakeClientHelper : public ClientHelper
{
    Q_OBJECT
public:
    struct Call
    {
        QString name;        // the operation, e.g. "getNextPageText"
        HWND hWnd = nullptr; // its handle argument, if any
        int number = 0;      // its int or bool argument, or the count of findings given
    };

    // Texts the operations return for hWnd (empty by default).
    void setCurrentPageText(HWND hWnd, const QString& text) { m_currentPage[hWnd] = text; }
    void setNextPageText(HWND hWnd, const QString& text) { m_nextPages[hWnd] = text; }
    void setAllPageText(HWND hWnd, const QString& text) { m_allPages[hWnd] = text; }

    // Announces an editor window as the word processor's bridge would.
    void announce(const QString& title, HWND hWnd) { emit editorDetected(title, hWnd); }
    // What showErrors says about the editor (as a bridge whose editor cannot
    // show the marks does); nothing when empty.
    void setMarksMessage(const QString& message) { m_marksMessage = message; }

    QList<Call> calls() const { return m_calls; }
    QList<Call> callsOf(const QString& name) const;
    void clearCalls() { m_calls.clear(); }
    // Wrong texts of the findings kept for hWnd.
    QStringList keptTexts(HWND hWnd) const;
    QList<HWND> focusChanges() const { return m_focusChanges; }

    void setForegroundEditor() override;
    QString getCurrentPageText(HWND hWnd) override;
    QString getAllPageText(HWND hWnd) override;
    QString getNextPageText(HWND hWnd, int pageCount) override;
    void focusChanged(HWND hWnd) override;
    bool hasData(HWND hWnd) override;
    void showErrors(const CHECK_DATAS& checkDatas, HWND hWnd) override;
    void reportError(HWND hWnd) override;
    CHECK_DATAS getCheckDatas(HWND hWnd) override;
    void clearErrors(HWND hWnd) override;
    bool nextError(HWND hWnd) override;
    bool prevError(HWND hWnd) override;
    void enableErrorTip(bool enable) override;
    void enableCheckAsYouType(bool enable) override;
    // Recorded, then left to the base: the real focus watcher runs.
    bool beginDetectEditor() override;
    bool endDetectEditor() override;

private:
    void record(const QString& name, HWND hWnd = nullptr, int number = 0) { m_calls.append({name, hWnd, number}); }

    QHash<HWND, QString> m_currentPage;
    QHash<HWND, QString> m_nextPages;
    QHash<HWND, QString> m_allPages;
    QHash<HWND, CHECK_DATAS> m_findings;
    QList<Call> m_calls;
    QList<HWND> m_focusChanges;
    QString m_marksMessage;
};
