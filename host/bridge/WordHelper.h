#pragma once

#include "automation/Automation.h"
#include "bridge/CheckRecord.h"
#include "bridge/EditorHandle.h"
#include "utility/CheckData.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class AppEventListener;
class ContextShow;
class ParagraphChecker;
class QTimer;
class TypingCheck;

// The document logic behind one editor window: page texts, the marks of a
// check, stepping between them, the error popup and its actions, and the
// editor's events. Everything goes through the automation interface, so the
// same logic serves every backend. All calls on the GUI thread.
//
// A wrapper that was never attached (or whose editor has gone) answers empty
// results: empty texts, false, -1 for page numbers, null objects. Nothing is
// shown to the user for a failed automation call.
//
// The wrapper keeps one check record: the findings of the last check of its
// document, each where it was found, and the marks set for them on the marked
// page. Marks never outlive their record: dropping it (clearErrors, the
// document's close, a new check, the wrapper's end) takes every mark off.
// Where the editor draws marks itself (automation::MarkStyle::Overlay),
// checking changes nothing of the document. Where marks are formatting, every
// character's underline and colour come back as they were, and each operation
// that changes formatting is one undo step that leaves the modified flag as it
// was. Applying a suggestion edits text, as one undo step.
class WordHelper : public QObject
{
    Q_OBJECT
public:
    WordHelper();
    ~WordHelper() override;

    // Binds the wrapper to editor window hWnd and the word processor behind it:
    // keeps the application and its active document, creates the selection
    // timer and the popup and connects the application's events. False (and
    // nothing kept) without an application.
    bool attach(HWND hWnd, std::shared_ptr<automation::Application> application);
    bool isAttached() const { return m_application != nullptr; }
    HWND editorHandle() const { return m_hWnd; }
    const std::shared_ptr<automation::Application>& application() const { return m_application; }

    // --- Page texts ---
    // Each text handed out is remembered with where it starts in the
    // document: the findings of its check are marked where they were found.
    QString getCurrentPageText();
    QString getAllPageText();
    // Texts of count pages from the current one, concatenated; empty for a
    // count above 100 or an unknown current page.
    QString getNextPageText(int count);
    // The range of page n: from its first character to the first character of
    // page n + 1, or to the end of the document on the last page. Null when
    // it cannot be had.
    std::shared_ptr<automation::Range> pageRange(int page);

    // --- Findings and marks ---
    // Replaces the document's findings with checkDatas (their spans count
    // into the text last handed out) and marks the current page. An empty list
    // changes nothing.
    void showErrors(const CHECK_DATAS& checkDatas);
    bool hasData();
    // The document's findings; empty without a record.
    CHECK_DATAS getCheckDatas() const;
    // Removes the marks and drops the findings.
    void clearErrors();
    void enableErrorTip(bool enable);
    bool errorTipEnabled() const { return m_errorTipEnabled; }

    // --- Checking as the user types ---
    // Edited paragraphs are checked in the background after a pause in
    // typing, and their findings replace those they had; the popup, stepping,
    // the actions and getCheckDatas() include them. Only for editors that draw
    // the marks themselves (a formatting mark would make an undo step while
    // the user types) and raise EventDocumentChange. Off by default; takes
    // effect on attach when set before.
    void setCheckAsYouType(bool enabled);
    bool checkAsYouType() const { return m_checkAsYouType; }
    // Where paragraphs are sent (by default the process's service client).
    void setParagraphChecker(std::shared_ptr<ParagraphChecker> checker);
    // Null before attach.
    TypingCheck* typingCheck() const { return m_typing; }

    // --- The editor's events ---
    // Handles one application event; answers automation::ResultOk, or
    // ResultInvalidArg for a malformed parameter list (then nothing changes).
    long handleEvent(int eventId, const std::vector<automation::Variant>& parameters);

    // --- Queries ---
    // The attached document, else the application's active one.
    std::shared_ptr<automation::Document> currentDocument();
    std::shared_ptr<automation::Range> selectionRange();
    // 1-based page of the selection's active end; -1 when unknown.
    int currentPageNumber();
    int markedPage() const { return m_markedPage; }
    ContextShow* popup() const { return m_popup; }
    QTimer* selectionTimer() const { return m_selectionTimer; }
    // The error the popup shows (and its actions work on); null when none.
    const std::shared_ptr<automation::Range>& currentErrorRange() const { return m_currentErrorRange; }
    // The findings the popup shows, in its order: its group indices.
    const CHECK_DATAS& popupFindings() const { return m_popupFindings; }
    int shownStart() const { return m_shownStart; }
    int shownEnd() const { return m_shownEnd; }

signals:
    // Something the user should know about this editor (for the tool window's
    // message line), e.g. that it cannot show the marks now and why.
    void message(QString text);
    // The findings changed without a check of the page (a paragraph checked
    // as the user typed).
    void findingsChanged();
    // Checking as the user types paused (text says why) or went on (empty).
    void typingStatus(QString text);

public slots:
    void timeoutSelectionChange();
    void onApply(QString itemTitle, int itemIndex, QString groupTitle, int groupIndex);
    bool onNext();
    bool onPrev();
    void onHideDialog();
    void onAddToDict();
    void onReportError();
    void onIgnoreAll();
    void onIgnoreOnce();

private:
    struct MarkPass;

    std::shared_ptr<CheckRecord> currentRecord() const { return m_record; }
    automation::MarkStyle markStyle();
    static bool sameDocument(const std::shared_ptr<automation::Document>& a,
                             const std::shared_ptr<automation::Document>& b);
    static bool isMarked(const std::shared_ptr<automation::Range>& range);
    QString pageText(int page);
    // Remembers text as the text last handed out, starting at start.
    QString handOut(const QString& text, int start);

    void markCurrentPage(std::shared_ptr<CheckRecord> record = nullptr);
    void markRange(const std::shared_ptr<CheckRecord>& record, const std::shared_ptr<automation::Range>& range,
                   MarkPass& pass);
    void markOccurrence(const std::shared_ptr<CheckRecord>& record, const std::shared_ptr<CCheckData>& finding,
                        const std::shared_ptr<automation::Document>& document,
                        const std::shared_ptr<automation::Range>& range, int start, int end, MarkPass& pass);
    // Tells the user when the editor cannot show the marks.
    void reportMarkDisplay(const std::shared_ptr<automation::Document>& document);
    void clearMarks(bool keepRecord);
    bool removeMarks(const std::shared_ptr<automation::Range>& range, bool all);
    void unmark(const std::shared_ptr<automation::Range>& range);
    bool stepToError(bool forward);
    // Removes the marks of the error the popup shows: this occurrence, or
    // (all) every occurrence of its findings together with the findings.
    void ignoreCurrentError(bool all);
    // Shows the popup for range; with error tips off, navigation (forced)
    // still selects the error so that the next step moves on.
    void showPopup(std::shared_ptr<automation::Range> range, bool forced);
    void hidePopup();
    // The findings marked within range (those of its mark entries).
    CHECK_DATAS findingsIn(const std::shared_ptr<automation::Range>& range) const;
    // A paragraph checked as the user typed: its findings (spans count into
    // text) replace those of its marks.
    void replaceParagraphFindings(const std::shared_ptr<automation::Range>& paragraph, const QString& text,
                                  const CHECK_DATAS& findings);
    void updateTypingCheck();

    HWND m_hWnd = nullptr;
    std::shared_ptr<automation::Application> m_application;
    std::shared_ptr<automation::Document> m_document;
    std::shared_ptr<CheckRecord> m_record;
    // The text last handed out and where it started in the document.
    QString m_handedText;
    int m_handedStart = -1;
    // The findings the popup shows, in its order (its group indices).
    CHECK_DATAS m_popupFindings;
    QTimer* m_selectionTimer = nullptr;
    ContextShow* m_popup = nullptr;
    std::shared_ptr<automation::Range> m_currentErrorRange;
    int m_shownStart = -1;
    int m_shownEnd = -1;
    int m_markedPage = -1;
    std::shared_ptr<AppEventListener> m_eventSink;
    bool m_errorTipEnabled = true;
    bool m_checkAsYouType = false;
    std::shared_ptr<ParagraphChecker> m_paragraphChecker;
    TypingCheck* m_typing = nullptr;
    // The selection moved while the user typed: the popup waits for the pause.
    bool m_selectionDeferred = false;
    // Wrong texts the user ignored everywhere: checks while typing do not
    // bring them back.
    std::vector<std::string> m_ignoredTexts;
};
