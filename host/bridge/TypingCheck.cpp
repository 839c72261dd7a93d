#include "bridge/TypingCheck.h"
#include "client/Revisor.h"

#include <QTimer>

using namespace automation;

namespace {

// From the last keystroke to the check of what was typed.
const int kPauseMs = 800;
// Most paragraphs one pause queues (a large paste): the page check is there
// for more.
const int kMaxQueued = 50;

class ServiceChecker : public ParagraphChecker
{
public:
    quint64 start(const QString& text, Done done) override
    {
        Revisor* revisor = getRevisor();
        if (!revisor)
            return 0;
        return revisor->checkInBackground(text, [done = std::move(done)](const BackgroundCheckResult& result) {
            Outcome outcome;
            switch (result.status) {
            case BackgroundCheckResult::Checked:
                outcome.status = Status::Checked;
                break;
            case BackgroundCheckResult::LoginExpired:
                outcome.status = Status::LoginExpired;
                break;
            case BackgroundCheckResult::Failed:
                outcome.status = Status::Failed;
                break;
            }
            outcome.findings = result.findings;
            outcome.problem = result.problem;
            done(outcome);
        });
    }
    void cancel(quint64 id) override
    {
        if (Revisor* revisor = getRevisor())
            revisor->cancelBackgroundCheck(id);
    }
};

bool isParagraphEnd(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0x2029) || c == QChar(0x0007);
}

// Whether text holds a Chinese character: only such paragraphs are worth a
// check.
bool hasHan(const QString& text)
{
    for (int i = 0; i < text.size(); ++i) {
        const uint c = text.at(i).unicode();
        if ((c >= 0x3400 && c <= 0x9fff) || (c >= 0xf900 && c <= 0xfaff) || text.at(i).isHighSurrogate())
            return true;
    }
    return false;
}

} // namespace

std::shared_ptr<ParagraphChecker> serviceParagraphChecker()
{
    return std::make_shared<ServiceChecker>();
}

TypingCheck::TypingCheck(std::function<std::shared_ptr<Document>()> document, std::shared_ptr<ParagraphChecker> checker)
    : m_document(std::move(document))
    , m_checker(std::move(checker))
    , m_pause(new QTimer(this))
    , m_retry(new QTimer(this))
{
    m_pause->setSingleShot(true);
    m_pause->setInterval(kPauseMs);
    connect(m_pause, &QTimer::timeout, this, &TypingCheck::onPause);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &TypingCheck::sendNext);
}

TypingCheck::~TypingCheck()
{
    if (m_inFlight && m_checker)
        m_checker->cancel(m_inFlightId);
}

void TypingCheck::setPauseMs(int ms)
{
    m_pause->setInterval(ms);
}

int TypingCheck::pauseMs() const
{
    return m_pause->interval();
}

void TypingCheck::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    m_retry->stop();
    m_queue.clear();
    m_owed.clear();
    if (m_inFlight) {
        m_checker->cancel(m_inFlightId);
        m_inFlight.reset();
    }
    m_known = false;
    m_paragraphs.clear();
    setStatus(QString());
    if (!enabled)
        return;
    m_paragraphs = readParagraphs(&m_base);
    m_known = !m_paragraphs.isEmpty();
}

void TypingCheck::noteChange()
{
    m_pause->start();
}

void TypingCheck::dropPending()
{
    m_queue.clear();
    m_owed.clear();
    if (m_inFlight) {
        m_checker->cancel(m_inFlightId);
        m_inFlight.reset();
    }
}

void TypingCheck::endPause()
{
    if (!m_pause->isActive())
        return;
    m_pause->stop();
    onPause();
}

bool TypingCheck::isTyping() const
{
    return m_pause->isActive();
}

QStringList TypingCheck::readParagraphs(int* base)
{
    *base = 0;
    std::shared_ptr<Document> document = m_document ? m_document() : nullptr;
    std::shared_ptr<Range> content = document ? document->content() : nullptr;
    if (!content)
        return QStringList();
    const QString text = content->text();
    *base = content->start();
    QStringList paragraphs;
    int start = 0;
    for (int i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isParagraphEnd(text.at(i))) {
            paragraphs.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    return paragraphs;
}

bool TypingCheck::overlaps(const std::shared_ptr<Range>& range, int start, int end)
{
    // Touching counts: text typed right at a paragraph's end belongs to it.
    return range && range->start() <= end && range->end() >= start;
}

void TypingCheck::onPause()
{
    if (!m_enabled) {
        emit paused();
        return;
    }
    std::shared_ptr<Document> document = m_document ? m_document() : nullptr;
    int base = 0;
    const QStringList now = readParagraphs(&base);
    if (!document || now.isEmpty()) {
        emit paused();
        return;
    }
    if (!m_known) {
        // Nothing to compare with: the paragraphs as they stand are the base.
        m_paragraphs = now;
        m_base = base;
        m_known = true;
        emit paused();
        return;
    }

    // The paragraphs that changed lie between the longest common run at the
    // start and the longest one at the end. Within that stretch, a paragraph
    // that stands unchanged (at its place when no paragraph came or went,
    // anywhere in the stretch otherwise) was not edited and is not sent.
    const int before = m_paragraphs.size();
    const int after = now.size();
    int prefix = 0;
    while (prefix < before && prefix < after && m_paragraphs.at(prefix) == now.at(prefix))
        ++prefix;
    int suffix = 0;
    while (suffix < before - prefix && suffix < after - prefix &&
           m_paragraphs.at(before - 1 - suffix) == now.at(after - 1 - suffix))
        ++suffix;
    const QStringList old = m_paragraphs.mid(prefix, before - suffix - prefix);
    m_paragraphs = now;
    m_base = base;

    int offset = base;
    for (int i = 0; i < prefix; ++i)
        offset += now.at(i).size() + 1;
    const bool sameCount = before == after;
    for (int i = prefix; i < after - suffix; offset += now.at(i).size() + 1, ++i) {
        const QString& text = now.at(i);
        const bool unchanged = sameCount ? old.at(i - prefix) == text : old.contains(text);
        if (!unchanged)
            enqueue(document, offset, text);
    }
    // Paragraphs whose check was given up because they changed again are
    // checked now, even where they came back to the text they had at the
    // last pause (and so compare unchanged).
    std::vector<std::shared_ptr<Range>> owed;
    owed.swap(m_owed);
    for (const std::shared_ptr<Range>& range : owed) {
        if (range)
            checkParagraphAt(range->start());
    }
    // The logic adds paragraphs whose marks the edits broke (typed over and
    // typed back within the pause).
    emit paused();
    sendNext();
}

void TypingCheck::checkParagraphAt(int position)
{
    std::shared_ptr<Document> document = m_document ? m_document() : nullptr;
    if (!m_enabled || !m_known || !document)
        return;
    int offset = m_base;
    for (const QString& text : m_paragraphs) {
        if (position >= offset && position <= offset + text.size()) {
            if (m_inFlight && overlaps(m_inFlight->range, offset, offset + text.size()))
                return;
            for (const Item& item : m_queue) {
                if (overlaps(item.range, offset, offset + text.size()))
                    return;
            }
            enqueue(document, offset, text);
            return;
        }
        offset += text.size() + 1;
    }
}

void TypingCheck::enqueue(const std::shared_ptr<Document>& document, int start, const QString& text)
{
    if (!hasHan(text))
        return;
    const int end = start + text.size();
    // A newer edit supersedes the paragraph's older check.
    if (m_inFlight && overlaps(m_inFlight->range, start, end)) {
        m_checker->cancel(m_inFlightId);
        m_inFlight.reset();
    }
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (overlaps(it->range, start, end))
            it = m_queue.erase(it);
        else
            ++it;
    }
    if (static_cast<int>(m_queue.size()) >= kMaxQueued)
        return;
    if (std::shared_ptr<Range> range = document->range(start, end))
        m_queue.push_back(Item{std::move(range), text});
}

void TypingCheck::sendNext()
{
    if (!m_enabled || m_inFlight || m_retry->isActive())
        return;
    while (!m_queue.empty()) {
        Item item = std::move(m_queue.front());
        m_queue.pop_front();
        // Edited again since: the pause after that edit queues it anew.
        if (!holdsText(item)) {
            m_owed.push_back(std::move(item.range));
            continue;
        }
        m_inFlight = std::make_unique<Item>(std::move(item));
        const quint64 sequence = ++m_sequence;
        const quint64 id =
            m_checker->start(m_inFlight->text, [this, sequence](const ParagraphChecker::Outcome& outcome) {
                if (m_inFlight && sequence == m_sequence)
                    onOutcome(outcome);
            });
        if (id == 0) {
            // Nobody is logged in: nothing is sent, and nothing asks for a login.
            m_inFlight.reset();
            m_queue.clear();
            return;
        }
        m_inFlightId = id;
        return;
    }
}

void TypingCheck::onOutcome(const ParagraphChecker::Outcome& outcome)
{
    Item item = std::move(*m_inFlight);
    m_inFlight.reset();
    switch (outcome.status) {
    case ParagraphChecker::Status::Checked:
        setStatus(QString());
        // A reply for text that has changed since is of no use.
        if (holdsText(item))
            emit checked(item.range, item.text, outcome.findings);
        else
            m_owed.push_back(std::move(item.range));
        sendNext();
        return;
    case ParagraphChecker::Status::LoginExpired:
        m_queue.clear();
        setStatus(tr("Checking as you type paused: the service asks for a new login. Check a page from the tool "
                     "window to log in again."));
        return;
    case ParagraphChecker::Status::Failed:
        m_queue.push_front(std::move(item));
        setStatus(tr("Checking as you type paused: %1 It resumes by itself.").arg(outcome.problem));
        m_retry->start(m_retryMs);
        return;
    }
}

bool TypingCheck::holdsText(const Item& item)
{
    std::shared_ptr<Document> document = m_document ? m_document() : nullptr;
    std::shared_ptr<Range> content = document ? document->content() : nullptr;
    if (!item.range || !content)
        return false;
    // The whole paragraph, not only the characters sent: text typed at either
    // end changes it too.
    const QString text = content->text();
    const int start = item.range->start() - content->start();
    const int end = start + item.text.size();
    if (start < 0 || end > text.size() || item.range->end() - content->start() != end)
        return false;
    return text.midRef(start, item.text.size()) == item.text && (start == 0 || isParagraphEnd(text.at(start - 1))) &&
           (end == text.size() || isParagraphEnd(text.at(end)));
}

void TypingCheck::setStatus(const QString& text)
{
    if (text == m_status)
        return;
    m_status = text;
    emit statusChanged(text);
}
