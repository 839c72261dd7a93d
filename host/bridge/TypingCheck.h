#pragma once

#include "automation/Automation.h"
#include "utility/CheckData.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

// Sends paragraphs to the checking service in the background. The default
// goes through the process's service client (its login, options and
// dictionary); tests put their own in.
class ParagraphChecker
{
public:
    enum class Status { Checked, LoginExpired, Failed };
    struct Outcome
    {
        Status status = Status::Failed;
        CHECK_DATAS findings; // spans count into the text sent
        QString problem;      // Failed: what went wrong, for the user
    };
    using Done = std::function<void(const Outcome&)>;

    virtual ~ParagraphChecker() = default;
    // Starts checking text; done is called once, later. 0 when nothing may be
    // sent now (nobody is logged in): done is then never called.
    virtual quint64 start(const QString& text, Done done) = 0;
    // Stops a check: its done is not called.
    virtual void cancel(quint64 id) = 0;
};

// The checker of the process's service client.
std::shared_ptr<ParagraphChecker> serviceParagraphChecker();

// Checking as the user types, for one document. Every change of the
// document's text restarts a pause; when the pause runs out, the paragraphs
// that changed since the last pause (found by comparing the document's
// paragraphs with those it had then) are checked one at a time, in the
// background. Only edited paragraphs are sent: opening a document or moving
// through it sends nothing.
//
// A newer edit of a paragraph supersedes its check in flight or queued, and a
// reply is handed on only while its paragraph still holds the text that was
// sent. When the service cannot be reached or answers an error, checking
// pauses (status() says so) and tries again by itself after a while; when it
// refuses the login, nothing is sent until the user logs in again.
class TypingCheck : public QObject
{
    Q_OBJECT
public:
    // document gives the document whose paragraphs are checked.
    TypingCheck(std::function<std::shared_ptr<automation::Document>()> document,
                std::shared_ptr<ParagraphChecker> checker);
    ~TypingCheck() override;

    // Off: nothing is sent, the pause and the queue are dropped and a check in
    // flight is stopped. On: the document's paragraphs as they stand now are
    // the base later edits are compared with.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    void setPauseMs(int ms);
    void setRetryMs(int ms) { m_retryMs = ms; }
    int pauseMs() const;

    // The document's text changed. Only restarts the pause: no call into the
    // editor, nothing sent.
    void noteChange();
    // Forgets the checks waiting and stops the one in flight (the user took
    // every mark off): only later edits are checked.
    void dropPending();
    // Ends the pause now, as if it had run out (nothing happens when no change
    // waits for it).
    void endPause();
    // Whether the user typed within the pause.
    bool isTyping() const;
    // Queues the paragraph that holds position (in the document as it was at
    // the last pause) unless it is queued or in flight already. For use while
    // paused() is handled.
    void checkParagraphAt(int position);
    // Empty while checking goes on; else why it paused.
    const QString& status() const { return m_status; }
    // Checks waiting or in flight.
    int pendingCount() const { return static_cast<int>(m_queue.size()) + (m_inFlight ? 1 : 0); }

signals:
    // A paragraph was checked and still holds text: its findings (spans count
    // into text) replace those it had.
    void checked(std::shared_ptr<automation::Range> paragraph, QString text, CHECK_DATAS findings);
    // The pause after the last change ran out (the popup waits for it); the
    // edited paragraphs are queued, not yet sent.
    void paused();
    // Checking paused (text says why) or went on again (empty text).
    void statusChanged(QString text);

private:
    struct Item
    {
        std::shared_ptr<automation::Range> range; // follows edits
        QString text;                             // the paragraph's text when the edit was seen
    };

    QStringList readParagraphs(int* base);
    void onPause();
    void enqueue(const std::shared_ptr<automation::Document>& document, int start, const QString& text);
    void sendNext();
    void onOutcome(const ParagraphChecker::Outcome& outcome);
    void setStatus(const QString& text);
    // Whether item's paragraph still is exactly the text queued.
    bool holdsText(const Item& item);
    static bool overlaps(const std::shared_ptr<automation::Range>& a, int start, int end);

    std::function<std::shared_ptr<automation::Document>()> m_document;
    std::shared_ptr<ParagraphChecker> m_checker;
    QTimer* m_pause = nullptr;
    QTimer* m_retry = nullptr;
    int m_retryMs = 15000;
    bool m_enabled = false;
    bool m_known = false;
    QStringList m_paragraphs; // the document's paragraphs at the last pause
    int m_base = 0;           // where the first of them starts
    std::deque<Item> m_queue;
    // Paragraphs whose check was dropped because they changed again: the
    // next pause checks them.
    std::vector<std::shared_ptr<automation::Range>> m_owed;
    std::unique_ptr<Item> m_inFlight;
    quint64 m_inFlightId = 0;
    quint64 m_sequence = 0; // counts checks started: only the latest one's answer counts
    QString m_status;
};
