#include "bridge/WordHelper.h"
#include "bridge/AppEventListener.h"
#include "bridge/TypingCheck.h"
#include "client/Revisor.h"
#include "presentation/ContextShow.h"

#include <QLoggingCategory>
#include <QPoint>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

using namespace automation;

// Where the popup goes, for the end-to-end test (QT_LOGGING_RULES="quillet.popup.debug=true").
Q_LOGGING_CATEGORY(lcPopup, "quillet.popup", QtInfoMsg)

namespace {

const int kSelectionDelayMs = 10;
const int kMaxNextPages = 100;
// How far the popup's range grows over neighbouring marked characters.
const int kMaxGrowSteps = 20;

// One operation of ours on the document: its changes form one undo step, and a
// document that was unmodified before stays unmodified unless the operation
// edits text. Nested steps join the outermost. An operation that only sets or
// takes off marks drawn by the editor needs none (changesDocument false).
class DocumentStep
{
public:
    DocumentStep(std::shared_ptr<Document> document, const QString& title, bool editsText = false,
                 bool changesDocument = true)
        : m_document(changesDocument || editsText ? std::move(document) : nullptr)
        , m_editsText(editsText)
    {
        if (!m_document)
            return;
        m_wasModified = m_document->isModified();
        m_document->enterUndoContext(title);
    }
    ~DocumentStep()
    {
        if (!m_document)
            return;
        m_document->leaveUndoContext();
        if (!m_editsText && !m_wasModified)
            m_document->setModified(false);
    }
    DocumentStep(const DocumentStep&) = delete;
    DocumentStep& operator=(const DocumentStep&) = delete;

private:
    std::shared_ptr<Document> m_document;
    bool m_editsText = false;
    bool m_wasModified = false;
};

// The replacement for a finding's wrong text w: the suggestion's "*"-separated
// pieces in place of the spans, the wrong text's own characters between and
// after them. Nothing when the suggestion has fewer pieces than there are
// spans.
std::optional<QString> buildReplacement(const QString& w, const std::vector<std::pair<int, int>>& spans,
                                        const QStringList& pieces)
{
    if (spans.empty()) {
        if (pieces.size() == 1)
            return pieces.front();
        return std::nullopt;
    }
    if (pieces.size() < static_cast<int>(spans.size()))
        return std::nullopt;

    const int h = spans.front().first;
    int f = 0;
    QString result;
    for (size_t i = 0; i < spans.size(); ++i) {
        const int g = spans[i].first;
        const int e = spans[i].second;
        if (g != h && g - h != f + 1) {
            const int count = g - h - f - 1;
            if (count > 0)
                result += w.mid(f + 1, count);
        }
        result += pieces[static_cast<int>(i)];
        f = e - h;
    }
    if (f + 1 >= 0 && f + 1 < w.size())
        result += w.mid(f + 1);
    return result;
}

} // namespace

// The characters marked so far in one marking pass: what each had before, and
// the entries that cover it.
struct WordHelper::MarkPass
{
    struct Covered
    {
        Font original;
        std::vector<std::shared_ptr<MarkEntry>> entries;
    };
    std::unordered_map<int, Covered> marked;
};

WordHelper::WordHelper() = default;

WordHelper::~WordHelper()
{
    // Nothing more is sent, and no answer arrives for a wrapper that is gone.
    delete m_typing;
    m_typing = nullptr;
    if (m_record) {
        DocumentStep step(currentDocument(), tr("Remove proofreading marks"), false,
                          markStyle() == MarkStyle::Formatting);
        restoreMarks(m_record->marks);
        m_record.reset();
    }
    if (m_eventSink) {
        m_eventSink->disconnect();
        m_eventSink->setOwner(nullptr);
        m_eventSink.reset();
    }
    m_currentErrorRange.reset();
    m_document.reset();
    m_application.reset();
    delete m_popup;
}

bool WordHelper::attach(HWND hWnd, std::shared_ptr<Application> application)
{
    if (!application || m_application)
        return false;

    m_hWnd = hWnd;
    m_document = application->activeDocument();

    m_selectionTimer = new QTimer(this);
    m_selectionTimer->setSingleShot(true);
    connect(m_selectionTimer, &QTimer::timeout, this, &WordHelper::timeoutSelectionChange);

    m_popup = new ContextShow();
    connect(m_popup, &ContextShow::apply, this, &WordHelper::onApply);
    connect(m_popup, &ContextShow::next, this, &WordHelper::onNext);
    connect(m_popup, &ContextShow::prev, this, &WordHelper::onPrev);
    connect(m_popup, &ContextShow::hideDialog, this, &WordHelper::onHideDialog);
    connect(m_popup, &ContextShow::addToDict, this, &WordHelper::onAddToDict);
    connect(m_popup, &ContextShow::reportError, this, &WordHelper::onReportError);
    connect(m_popup, &ContextShow::ignoreAll, this, &WordHelper::onIgnoreAll);
    connect(m_popup, &ContextShow::ignoreOnce, this, &WordHelper::onIgnoreOnce);

    m_application = std::move(application);

    m_eventSink = std::make_shared<AppEventListener>();
    m_eventSink->connect(m_application);
    m_eventSink->setOwner(this);

    m_typing = new TypingCheck([this] { return currentDocument(); },
                               m_paragraphChecker ? m_paragraphChecker : serviceParagraphChecker());
    m_typing->setParent(this);
    connect(m_typing, &TypingCheck::checked, this, &WordHelper::replaceParagraphFindings);
    connect(m_typing, &TypingCheck::statusChanged, this, &WordHelper::typingStatus);
    connect(m_typing, &TypingCheck::paused, this, [this] {
        if (m_selectionDeferred && m_selectionTimer) {
            m_selectionDeferred = false;
            m_selectionTimer->start(kSelectionDelayMs);
        }
        // A mark whose characters were typed over, even where the text came
        // out as before, is no longer whole: its paragraph is checked again.
        if (!m_record || !m_typing->isEnabled())
            return;
        for (const std::shared_ptr<MarkEntry>& entry : m_record->marks) {
            const std::shared_ptr<Range>& range = entry->range();
            if (range && (!range->isMarked() || range->text() != QString::fromStdString(entry->finding()->text)))
                m_typing->checkParagraphAt(range->start());
        }
    });
    updateTypingCheck();
    return true;
}

void WordHelper::setCheckAsYouType(bool enabled)
{
    m_checkAsYouType = enabled;
    updateTypingCheck();
}

void WordHelper::setParagraphChecker(std::shared_ptr<ParagraphChecker> checker)
{
    m_paragraphChecker = std::move(checker);
}

void WordHelper::updateTypingCheck()
{
    if (!m_typing)
        return;
    bool enabled = m_checkAsYouType;
    if (enabled) {
        std::shared_ptr<Document> document = currentDocument();
        enabled = document && document->markStyle() == MarkStyle::Overlay;
    }
    m_typing->setEnabled(enabled);
}

// --- Queries ----------------------------------------------------------------

MarkStyle WordHelper::markStyle()
{
    std::shared_ptr<Document> document = currentDocument();
    return document ? document->markStyle() : MarkStyle::Formatting;
}

std::shared_ptr<Document> WordHelper::currentDocument()
{
    if (m_document)
        return m_document;
    return m_application ? m_application->activeDocument() : nullptr;
}

std::shared_ptr<Range> WordHelper::selectionRange()
{
    if (!m_application)
        return nullptr;
    std::shared_ptr<Selection> selection = m_application->selection();
    return selection ? selection->range() : nullptr;
}

int WordHelper::currentPageNumber()
{
    if (!m_application)
        return -1;
    std::shared_ptr<Selection> selection = m_application->selection();
    if (!selection)
        return -1;
    return selection->information(ActiveEndPageNumber).value_or(-1);
}

bool WordHelper::sameDocument(const std::shared_ptr<Document>& a, const std::shared_ptr<Document>& b)
{
    return a && b && a->fullName() == b->fullName();
}

bool WordHelper::isMarked(const std::shared_ptr<Range>& range)
{
    return range && range->isMarked();
}

// --- Page texts ---------------------------------------------------------------

std::shared_ptr<Range> WordHelper::pageRange(int page)
{
    if (page < 1)
        return nullptr;
    std::shared_ptr<Range> selection = selectionRange();
    if (!selection)
        return nullptr;
    std::shared_ptr<Range> range = selection->goTo(GoToPage, GoToAbsolute, page);
    if (!range)
        return nullptr;
    // A page past the end lands on the last page: that page is not page n.
    if (page > 1) {
        const std::optional<int> landed = range->information(ActiveEndPageNumber);
        if (landed && *landed != page)
            return nullptr;
    }
    const int start = range->end();

    std::shared_ptr<Range> nextPage = selection->goTo(GoToPage, GoToAbsolute, page + 1);
    int end = nextPage ? nextPage->end() : 0;
    if (end <= 0 || end == start) {
        // The last page runs to the end of the document, its last line included.
        std::shared_ptr<Document> document = currentDocument();
        std::shared_ptr<Range> content = document ? document->content() : nullptr;
        end = content ? content->end() : 0;
    }
    if (end > 0)
        range->setEnd(end);
    return range;
}

QString WordHelper::handOut(const QString& text, int start)
{
    m_handedText = text;
    m_handedStart = text.isEmpty() ? -1 : start;
    return text;
}

QString WordHelper::pageText(int page)
{
    std::shared_ptr<Range> range = pageRange(page);
    return range ? range->text() : QString();
}

QString WordHelper::getCurrentPageText()
{
    std::shared_ptr<Range> range = pageRange(currentPageNumber());
    return range ? handOut(range->text(), range->start()) : handOut(QString(), -1);
}

QString WordHelper::getAllPageText()
{
    std::shared_ptr<Document> document = currentDocument();
    std::shared_ptr<Range> content = document ? document->content() : nullptr;
    return content ? handOut(content->text(), content->start()) : handOut(QString(), -1);
}

QString WordHelper::getNextPageText(int count)
{
    if (count > kMaxNextPages || count <= 0)
        return QString();
    const int first = currentPageNumber();
    if (first < 1)
        return QString();
    QString text;
    int start = -1;
    for (int page = first; page < first + count; ++page) {
        // Past the last page there is nothing more to read.
        std::shared_ptr<Range> range = pageRange(page);
        if (!range)
            break;
        if (start < 0)
            start = range->start();
        text += range->text();
    }
    return handOut(text, start);
}

// --- Findings and marks -------------------------------------------------------

void WordHelper::showErrors(const CHECK_DATAS& checkDatas)
{
    if (!m_application)
        return;
    auto record = std::make_shared<CheckRecord>();
    for (const std::shared_ptr<CCheckData>& data : checkDatas) {
        if (!data || data->text.empty())
            continue;
        // Where the finding was found: its first span in the text handed out,
        // if it lies there.
        int position = -1;
        if (m_handedStart >= 0 && !data->spans.empty()) {
            const int at = data->spans.front().first;
            const QString wrong = QString::fromStdString(data->text);
            if (at >= 0 && at + wrong.size() <= m_handedText.size() && m_handedText.mid(at, wrong.size()) == wrong)
                position = m_handedStart + at;
        }
        record->findings.push_back(data);
        record->positions.push_back(position);
    }
    if (record->findings.empty())
        return;

    DocumentStep step(currentDocument(), tr("Mark proofreading errors"), false, markStyle() == MarkStyle::Formatting);
    m_currentErrorRange.reset();
    m_shownStart = m_shownEnd = -1;
    hidePopup();
    if (m_record)
        restoreMarks(m_record->marks);
    m_record = record;
    markCurrentPage(record);
}

bool WordHelper::hasData()
{
    return m_record && !m_record->findings.empty();
}

CHECK_DATAS WordHelper::getCheckDatas() const
{
    return m_record ? m_record->findings : CHECK_DATAS();
}

void WordHelper::clearErrors()
{
    if (m_typing)
        m_typing->dropPending();
    clearMarks(false);
}

void WordHelper::enableErrorTip(bool enable)
{
    m_errorTipEnabled = enable;
    hidePopup();
}

void WordHelper::markCurrentPage(std::shared_ptr<CheckRecord> record)
{
    if (!record)
        record = currentRecord();
    if (!record || record->findings.empty())
        return;
    const int page = currentPageNumber();
    std::shared_ptr<Range> range = pageRange(page);
    if (!range)
        return;

    std::shared_ptr<Document> document = currentDocument();
    DocumentStep step(document, tr("Mark proofreading errors"), false, markStyle() == MarkStyle::Formatting);
    // Marks always belong to one pass: earlier ones go first.
    restoreMarks(record->marks);
    record->marks.clear();
    m_markedPage = page;
    MarkPass pass;
    markRange(record, range, pass);
    reportMarkDisplay(document);
}

void WordHelper::reportMarkDisplay(const std::shared_ptr<Document>& document)
{
    if (!document || document->markStyle() != MarkStyle::Overlay)
        return;
    // Each pass says it again: the tool window shows the check's result in the
    // same line.
    switch (document->markDisplay()) {
    case MarkDisplay::NotInstalled:
        emit message(tr("The office cannot show the marks: its Quillet extension is missing. Run scripts/run.sh "
                        "once (it installs quillet-marks.oxt), then restart the office."));
        break;
    case MarkDisplay::AutoSpellOff:
        emit message(tr("The office shows no marks while automatic spell checking is off: switch on Tools > "
                        "Automatic Spell Checking."));
        break;
    case MarkDisplay::AutoGrammarOff:
        emit message(tr("The office shows no marks while grammar checking is off: switch on \"Check grammar while "
                        "typing\" in Tools > Options > Language Settings > Writing Aids."));
        break;
    case MarkDisplay::Shown:
        break;
    }
}

void WordHelper::markRange(const std::shared_ptr<CheckRecord>& record, const std::shared_ptr<Range>& range,
                           MarkPass& pass)
{
    std::shared_ptr<Document> document = currentDocument();
    if (!document)
        return;
    const int rangeStart = range->start();
    const int rangeEnd = range->end();

    // Each finding is marked where it was found, as long as its wrong text
    // still stands there. Only a finding whose place is not known (the
    // document changed before the findings came) is looked for by its text,
    // paragraph by paragraph on this page, at an occurrence no other finding
    // holds, the nearest to where it was found.
    std::vector<std::shared_ptr<Range>> parts;
    bool partsRead = false;
    auto readParts = [&] {
        partsRead = true;
        std::shared_ptr<Paragraphs> paragraphs = range->paragraphs();
        const int count = paragraphs ? paragraphs->count() : 0;
        if (count <= 1) {
            parts.push_back(range);
            return;
        }
        for (int i = 1; i <= count; ++i) {
            std::shared_ptr<Paragraph> paragraph = paragraphs->item(i);
            std::shared_ptr<Range> part = paragraph ? paragraph->range() : nullptr;
            if (!part)
                continue;
            const int start = part->start();
            const int end = part->end();
            if (start < rangeStart || end > rangeEnd) {
                const int cutStart = std::max(start, rangeStart);
                const int cutEnd = std::min(end, rangeEnd);
                if (cutEnd <= cutStart)
                    continue;
                part = document->range(cutStart, cutEnd);
            }
            if (part)
                parts.push_back(std::move(part));
        }
    };

    std::vector<std::pair<int, int>> claimed;
    auto isClaimed = [&](int start, int end) {
        for (const auto& [s, e] : claimed) {
            if (s == start && e == end)
                return true;
        }
        return false;
    };

    for (size_t k = 0; k < record->findings.size(); ++k) {
        const std::shared_ptr<CCheckData>& finding = record->findings[k];
        const QString wrong = QString::fromStdString(finding->text);
        if (wrong.isEmpty())
            continue;
        const int position = k < record->positions.size() ? record->positions[k] : -1;
        if (position >= 0) {
            // Found on another page: marked when that page is.
            if (position < rangeStart || position + wrong.size() > rangeEnd)
                continue;
            std::shared_ptr<Range> at = document->range(position, position + wrong.size());
            if (at && at->text() == wrong) {
                claimed.emplace_back(position, position + wrong.size());
                markOccurrence(record, finding, document, at, position, position + wrong.size(), pass);
                continue;
            }
        }
        if (!partsRead)
            readParts();
        int best = -1;
        std::shared_ptr<Range> bestRange;
        for (const std::shared_ptr<Range>& part : parts) {
            const QString text = part->text();
            const int base = part->start();
            for (int at = text.indexOf(wrong, 0, Qt::CaseSensitive); at >= 0;
                 at = text.indexOf(wrong, at + 1, Qt::CaseSensitive)) {
                const int start = base + at;
                if (isClaimed(start, start + wrong.size()))
                    continue;
                if (best >= 0 && (position < 0 || std::abs(start - position) >= std::abs(best - position)))
                    continue;
                std::shared_ptr<Range> candidate = document->range(start, start + wrong.size());
                // Hidden content or fields can make the text differ from what
                // was searched: such an occurrence is skipped.
                if (!candidate || candidate->text() != wrong)
                    continue;
                best = start;
                bestRange = std::move(candidate);
            }
        }
        if (best < 0)
            continue;
        claimed.emplace_back(best, best + wrong.size());
        markOccurrence(record, finding, document, bestRange, best, best + wrong.size(), pass);
    }
}

void WordHelper::markOccurrence(const std::shared_ptr<CheckRecord>& record, const std::shared_ptr<CCheckData>& finding,
                                const std::shared_ptr<Document>& document, const std::shared_ptr<Range>& range,
                                int start, int end, MarkPass& pass)
{
    const MarkStyle style = document->markStyle();
    const int length = end - start;

    auto entry = std::make_shared<MarkEntry>(document, range, finding, style);
    entry->setMarkedAt(start, end);
    bool allMarked = true;
    for (int i = 0; i < length; ++i)
        allMarked = allMarked && pass.marked.count(start + i) > 0;

    if (style == MarkStyle::Formatting) {
        const std::optional<Font> font = range->font();
        if (!font)
            return;
        bool anyMarked = false;
        for (int i = 0; i < length; ++i)
            anyMarked = anyMarked || pass.marked.count(start + i) > 0;
        std::vector<Font> saved;
        if (!anyMarked && !font->isMixed() && !isMarkFont(*font)) {
            saved.push_back(*font);
        } else {
            // Characters this pass already marked keep the formatting they had
            // before it; the others are read one by one when their formatting
            // is mixed. A mark that no entry of ours set counts as no underline.
            saved.resize(static_cast<size_t>(length));
            for (int i = 0; i < length; ++i) {
                const auto it = pass.marked.find(start + i);
                if (it != pass.marked.end()) {
                    saved[static_cast<size_t>(i)] = it->second.original;
                    continue;
                }
                Font original = PlainFont;
                if (!font->isMixed() && !isMarkFont(*font)) {
                    original = *font;
                } else if (font->isMixed()) {
                    std::shared_ptr<Range> character = document->range(start + i, start + i + 1);
                    const std::optional<Font> own = character ? character->font() : std::nullopt;
                    if (own && !own->isMixed() && !isMarkFont(*own))
                        original = *own;
                }
                saved[static_cast<size_t>(i)] = original;
            }
            if (std::all_of(saved.begin(), saved.end(), [&](const Font& f) { return f == saved.front(); }))
                saved.resize(1);
        }
        entry->setSaved(std::move(saved));
    }

    // Link the entries that share characters with this one, each once.
    std::vector<std::shared_ptr<MarkEntry>> overlaps;
    for (int i = 0; i < length; ++i) {
        MarkPass::Covered& covered = pass.marked[start + i];
        if (covered.entries.empty())
            covered.original = entry->savedAt(i);
        for (const std::shared_ptr<MarkEntry>& other : covered.entries) {
            if (std::find(overlaps.begin(), overlaps.end(), other) == overlaps.end())
                overlaps.push_back(other);
        }
        covered.entries.push_back(entry);
    }
    for (const std::shared_ptr<MarkEntry>& other : overlaps) {
        entry->addOverlap(other);
        other->addOverlap(entry);
    }

    record->marks.push_back(entry);
    if (!allMarked)
        range->setMarked(true);
}

void WordHelper::clearMarks(bool keepRecord)
{
    m_currentErrorRange.reset();
    hidePopup();
    m_markedPage = -1;
    if (!m_record)
        return;

    std::shared_ptr<Document> document = currentDocument();
    const MarkStyle style = markStyle();
    DocumentStep step(document, tr("Remove proofreading marks"), false, style == MarkStyle::Formatting);
    restoreMarks(m_record->marks);
    m_record->marks.clear();
    if (!keepRecord)
        m_record.reset();

    std::shared_ptr<Range> content = document ? document->content() : nullptr;
    if (!content)
        return;
    if (style == MarkStyle::Overlay) {
        content->setMarked(false);
        return;
    }
    // Marks that no entry tracks (typed into a marked word, or left by an
    // earlier session) go with one find-and-replace over the document.
    std::shared_ptr<Find> find = content->find();
    if (!find)
        return;
    find->clearFormatting();
    find->setFont(MarkFont);
    find->clearReplacementFormatting();
    find->setReplacementFont(PlainFont);
    find->execute(true, true, ReplaceAll);
}

bool WordHelper::removeMarks(const std::shared_ptr<Range>& range, bool all)
{
    std::shared_ptr<CheckRecord> record = currentRecord();
    if (!record || !range)
        return false;

    std::vector<std::shared_ptr<MarkEntry>> kept;
    std::vector<std::shared_ptr<MarkEntry>> taken;
    std::vector<std::string> removedTexts;
    for (std::shared_ptr<MarkEntry>& entry : record->marks) {
        if (entry->range() && entry->range()->inRange(range)) {
            if (std::find(removedTexts.begin(), removedTexts.end(), entry->finding()->text) == removedTexts.end())
                removedTexts.push_back(entry->finding()->text);
            taken.push_back(std::move(entry));
        } else {
            kept.push_back(std::move(entry));
        }
    }
    const bool tookAny = !taken.empty();

    if (all && tookAny) {
        for (const std::string& text : removedTexts) {
            if (std::find(m_ignoredTexts.begin(), m_ignoredTexts.end(), text) == m_ignoredTexts.end())
                m_ignoredTexts.push_back(text);
        }
        // Every occurrence of the same wrong text goes, with its finding.
        auto ignored = [&](const std::shared_ptr<CCheckData>& finding) {
            return finding && std::find(removedTexts.begin(), removedTexts.end(), finding->text) != removedTexts.end();
        };
        std::vector<std::shared_ptr<MarkEntry>> remaining;
        for (std::shared_ptr<MarkEntry>& entry : kept) {
            if (ignored(entry->finding()))
                taken.push_back(std::move(entry));
            else
                remaining.push_back(std::move(entry));
        }
        kept = std::move(remaining);
        for (size_t k = record->findings.size(); k-- > 0;) {
            if (ignored(record->findings[k])) {
                record->findings.erase(record->findings.begin() + static_cast<std::ptrdiff_t>(k));
                if (k < record->positions.size())
                    record->positions.erase(record->positions.begin() + static_cast<std::ptrdiff_t>(k));
            }
        }
    }

    record->marks = std::move(kept);
    // The entries taken out restore their characters now, while the kept ones
    // still hold the characters they share.
    restoreMarks(taken);
    return tookAny;
}

void WordHelper::unmark(const std::shared_ptr<Range>& range)
{
    if (isMarked(range))
        range->setMarked(false);
}

// --- Stepping and the popup -----------------------------------------------------

bool WordHelper::stepToError(bool forward)
{
    std::shared_ptr<Range> current = selectionRange();
    if (!current)
        return false;
    for (;;) {
        std::shared_ptr<Range> candidate = forward ? current->next() : current->previous();
        if (!candidate)
            return false;
        if (m_markedPage > 0) {
            // Navigation does not leave the checked page.
            const std::optional<int> page = candidate->information(ActiveEndPageNumber);
            if (page && *page != m_markedPage)
                return false;
        }
        if (isMarked(candidate)) {
            showPopup(candidate, true);
            return true;
        }
        current = std::move(candidate);
    }
}

void WordHelper::hidePopup()
{
    if (m_popup)
        m_popup->hide();
}

void WordHelper::showPopup(std::shared_ptr<Range> range, bool forced)
{
    if (!m_errorTipEnabled && !forced)
        return;
    m_currentErrorRange.reset();

    std::shared_ptr<CheckRecord> record = currentRecord();
    if (!record || !range || !m_popup)
        return;

    const int s = range->start();
    const int e = range->end();
    if (!forced && e - s > 0)
        return;
    if (s == m_shownStart && std::abs(m_shownEnd - m_shownStart) > 0) {
        hidePopup();
        return;
    }

    // Grow over the marked characters around the range.
    int start = s;
    int end = e;
    std::shared_ptr<Range> cursor = range;
    for (int i = 0; i < kMaxGrowSteps; ++i) {
        std::shared_ptr<Range> next = cursor->next();
        if (!isMarked(next))
            break;
        end = next->end();
        cursor = std::move(next);
    }
    cursor = range;
    for (int i = 0; i < kMaxGrowSteps; ++i) {
        std::shared_ptr<Range> previous = cursor->previous();
        if (!isMarked(previous))
            break;
        start = previous->start();
        cursor = std::move(previous);
    }
    if (end <= start)
        return;
    range->setRange(start, end);

    QString text = range->text();

    QPoint position(0, 0);
    if (std::shared_ptr<Window> window = m_application ? m_application->activeWindow() : nullptr) {
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
        if (window->getPoint(left, top, width, height, range))
            position = QPoint(left, top + height);
    }

    hidePopup();
    // The findings of the marks in the range, in their own order: repeats of
    // an error elsewhere are not shown twice.
    CHECK_DATAS shown = findingsIn(range);
    if (shown.empty())
        shown = record->findings;
    if (m_popup->showCheckData(shown, text)) {
        m_popupFindings = shown;
        if (m_errorTipEnabled) {
            m_popup->move(position);
            m_popup->show();
            qCDebug(lcPopup, "popup shown at %d,%d", position.x(), position.y());
        }
        // Only stepping selects the error; a caret that rests on a mark stays
        // where the user put it, so that typing there replaces nothing.
        if (forced)
            range->select();
        m_currentErrorRange = range;
    }
    m_shownStart = start;
    m_shownEnd = end;
}

CHECK_DATAS WordHelper::findingsIn(const std::shared_ptr<Range>& range) const
{
    CHECK_DATAS found;
    if (!m_record || !range)
        return found;
    for (const std::shared_ptr<MarkEntry>& entry : m_record->marks) {
        if (entry->range() && entry->range()->inRange(range) &&
            std::find(found.begin(), found.end(), entry->finding()) == found.end())
            found.push_back(entry->finding());
    }
    return found;
}

void WordHelper::timeoutSelectionChange()
{
    if (m_selectionTimer)
        m_selectionTimer->stop();
    if (!m_record || !m_popup)
        return;

    const int page = currentPageNumber();
    if (page > 0 && page != m_markedPage) {
        DocumentStep step(currentDocument(), tr("Mark proofreading errors"), false,
                          markStyle() == MarkStyle::Formatting);
        clearMarks(true);
        markCurrentPage();
    }

    std::shared_ptr<Range> selection = selectionRange();
    bool onMark = isMarked(selection);
    int s = -1;
    int e = -1;
    if (selection) {
        s = selection->start();
        e = selection->end();
        // A caret just before a marked word touches it too.
        if (!onMark && s == e)
            onMark = isMarked(selection->next());
    }
    if (!onMark) {
        m_shownStart = m_shownEnd = -1;
        hidePopup();
        return;
    }

    const int b = m_shownStart;
    const int f = m_shownEnd;
    const bool shownOutside = b < s || b > e || f < s || f > e;
    const bool differs = s < b || f < s || e < b || f < e;
    if (shownOutside && differs)
        showPopup(selection, false);
}

bool WordHelper::onNext()
{
    const bool found = stepToError(true);
    if (!found)
        hidePopup();
    return found;
}

bool WordHelper::onPrev()
{
    const bool found = stepToError(false);
    if (!found)
        hidePopup();
    return found;
}

void WordHelper::onHideDialog()
{
}

void WordHelper::onApply(QString /*itemTitle*/, int itemIndex, QString /*groupTitle*/, int groupIndex)
{
    std::shared_ptr<CheckRecord> record = currentRecord();
    if (!record || !m_currentErrorRange)
        return;
    if (groupIndex < 0 || groupIndex >= static_cast<int>(m_popupFindings.size()))
        return;
    const std::shared_ptr<CCheckData> finding = m_popupFindings[static_cast<size_t>(groupIndex)];
    if (!finding || !finding->suggestions || itemIndex < 0 ||
        itemIndex >= static_cast<int>(finding->suggestions->size()))
        return;

    const std::shared_ptr<Range> range = m_currentErrorRange;
    const QString text = range->text();
    if (text.isEmpty())
        return;

    const QString wrong = QString::fromStdString(finding->text);
    const QString suggestion =
        QString::fromStdString((*finding->suggestions)[static_cast<size_t>(itemIndex)].GetText());
    const std::optional<QString> replacement =
        buildReplacement(wrong, finding->spans, suggestion.split(QLatin1Char('*'), Qt::KeepEmptyParts));
    if (!replacement)
        return;
    QString newText = text;
    newText.replace(wrong, *replacement, Qt::CaseSensitive);

    std::shared_ptr<Document> document = currentDocument();
    DocumentStep step(document, tr("Apply suggestion"), newText != text, markStyle() == MarkStyle::Formatting);
    if (!removeMarks(range, false))
        unmark(range);
    if (newText == text || !document)
        return;

    // Only the characters that change are written, so that the ones around
    // them keep their own formatting.
    int prefix = 0;
    while (prefix < text.size() && prefix < newText.size() && text[prefix] == newText[prefix])
        ++prefix;
    int suffix = 0;
    while (suffix < text.size() - prefix && suffix < newText.size() - prefix &&
           text[text.size() - 1 - suffix] == newText[newText.size() - 1 - suffix])
        ++suffix;
    const int start = range->start();
    std::shared_ptr<Range> changed = document->range(start + prefix, start + text.size() - suffix);
    if (changed)
        changed->setText(newText.mid(prefix, newText.size() - prefix - suffix));
}

void WordHelper::onIgnoreOnce()
{
    ignoreCurrentError(false);
}

void WordHelper::onIgnoreAll()
{
    ignoreCurrentError(true);
}

void WordHelper::ignoreCurrentError(bool all)
{
    std::shared_ptr<CheckRecord> record = currentRecord();
    if (!record || !m_currentErrorRange)
        return;
    DocumentStep step(currentDocument(), tr("Ignore proofreading error"), false, markStyle() == MarkStyle::Formatting);
    if (!removeMarks(m_currentErrorRange, all))
        unmark(m_currentErrorRange);
}

void WordHelper::onAddToDict()
{
    std::shared_ptr<Range> range = m_currentErrorRange ? m_currentErrorRange : selectionRange();
    const QString text = range ? range->text() : QString();
    if (Revisor* revisor = getRevisor())
        revisor->addToDict(text);
}

void WordHelper::onReportError()
{
    std::shared_ptr<Range> range = m_currentErrorRange ? m_currentErrorRange : selectionRange();
    QString text;
    QString sentence;
    if (range) {
        text = range->text();
        // A copy grows to the sentence, so that the error's own range stays
        // what the popup showed.
        std::shared_ptr<Document> document = currentDocument();
        std::shared_ptr<Range> around = document ? document->range(range->start(), range->end()) : nullptr;
        if (around) {
            around->expand(UnitSentence);
            sentence = around->text();
        }
    }
    if (Revisor* revisor = getRevisor())
        revisor->reportError(text, sentence);
}

// --- Checking as the user types -------------------------------------------------

void WordHelper::replaceParagraphFindings(const std::shared_ptr<Range>& paragraph, const QString& text,
                                          const CHECK_DATAS& findings)
{
    std::shared_ptr<Document> document = currentDocument();
    if (!m_application || !document || !paragraph || document->markStyle() != MarkStyle::Overlay)
        return;
    const int start = paragraph->start();
    const int end = paragraph->end();
    std::shared_ptr<CheckRecord> record = m_record ? m_record : std::make_shared<CheckRecord>();

    // Out go the paragraph's marks with their findings, and the findings
    // found there that have no mark (ignored once).
    std::vector<std::shared_ptr<MarkEntry>> kept;
    std::vector<std::shared_ptr<MarkEntry>> taken;
    std::unordered_set<const CCheckData*> marked;
    for (std::shared_ptr<MarkEntry>& entry : record->marks) {
        marked.insert(entry->finding().get());
        if (entry->range() && entry->range()->inRange(paragraph))
            taken.push_back(std::move(entry));
        else
            kept.push_back(std::move(entry));
    }
    std::unordered_set<const CCheckData*> dropped;
    for (const std::shared_ptr<MarkEntry>& entry : taken)
        dropped.insert(entry->finding().get());
    for (const std::shared_ptr<MarkEntry>& entry : kept)
        dropped.erase(entry->finding().get());
    CHECK_DATAS keptFindings;
    std::vector<int> keptPositions;
    for (size_t k = 0; k < record->findings.size(); ++k) {
        const std::shared_ptr<CCheckData>& finding = record->findings[k];
        const int position = k < record->positions.size() ? record->positions[k] : -1;
        const bool unmarkedHere = !marked.count(finding.get()) && position >= start && position < end;
        if (dropped.count(finding.get()) || unmarkedHere)
            continue;
        keptFindings.push_back(finding);
        keptPositions.push_back(position);
    }
    record->findings = std::move(keptFindings);
    record->positions = std::move(keptPositions);
    record->marks = std::move(kept);
    restoreMarks(taken);
    // Marks that no entry holds any more (typed into) go too.
    paragraph->setMarked(false);
    if (m_currentErrorRange && m_currentErrorRange->inRange(paragraph)) {
        m_currentErrorRange.reset();
        m_shownStart = m_shownEnd = -1;
        hidePopup();
    }

    // In come the new findings, each where it was found.
    std::vector<std::pair<std::shared_ptr<CCheckData>, int>> added;
    for (const std::shared_ptr<CCheckData>& finding : findings) {
        if (!finding || finding->text.empty() || finding->spans.empty())
            continue;
        if (std::find(m_ignoredTexts.begin(), m_ignoredTexts.end(), finding->text) != m_ignoredTexts.end())
            continue;
        const QString wrong = QString::fromStdString(finding->text);
        int at = finding->spans.front().first;
        if (at < 0 || at + wrong.size() > text.size() || text.mid(at, wrong.size()) != wrong)
            at = text.indexOf(wrong, std::max(0, at - wrong.size()));
        if (at < 0)
            continue;
        record->findings.push_back(finding);
        record->positions.push_back(start + at);
        added.emplace_back(finding, start + at);
    }
    m_record = record;

    // Marks are shown on one page: the page checked last, or this one. The
    // user may be typing on: a paragraph's page is not asked for, as a word
    // processor that knows pages only in its view (Writer) finds it by moving
    // the caret there and back, and a key pressed meanwhile would land there.
    // The paragraph that holds the caret is on the caret's page; another one
    // (a paste over several paragraphs) is marked where it is.
    if (m_markedPage < 0)
        m_markedPage = currentPageNumber();
    std::optional<int> page;
    if (const std::shared_ptr<Range> caret = selectionRange(); caret && caret->inRange(paragraph))
        page = currentPageNumber();
    if (!page || *page == m_markedPage) {
        MarkPass pass;
        for (const auto& [finding, position] : added) {
            const int length = QString::fromStdString(finding->text).size();
            std::shared_ptr<Range> at = document->range(position, position + length);
            if (at && at->text() == QString::fromStdString(finding->text))
                markOccurrence(record, finding, document, at, position, position + length, pass);
        }
    }
    emit findingsChanged();
}

// --- Events ---------------------------------------------------------------------

long WordHelper::handleEvent(int eventId, const std::vector<Variant>& parameters)
{
    auto objectAt = [&](size_t i) -> std::shared_ptr<Object> {
        if (i >= parameters.size())
            return nullptr;
        const auto* object = std::get_if<std::shared_ptr<Object>>(&parameters[i]);
        return object ? *object : nullptr;
    };

    switch (eventId) {
    case EventWindowDeactivate:
        if (m_popup && !m_popup->isActiveWindow())
            hidePopup();
        return ResultOk;
    case EventWindowSize:
        hidePopup();
        return ResultOk;
    case EventDocumentChange: {
        if (parameters.size() != 1)
            return ResultInvalidArg;
        // Runs for every keystroke: no call into the editor here.
        const std::shared_ptr<Object> document = objectAt(0);
        if (m_typing && m_typing->isEnabled() && document && document == std::static_pointer_cast<Object>(m_document))
            m_typing->noteChange();
        return ResultOk;
    }
    case EventWindowSelectionChange: {
        if (parameters.size() != 1)
            return ResultInvalidArg;
        // While the user types, the caret moves with every key: the popup
        // waits for the pause instead of asking the editor each time.
        if (m_typing && m_typing->isTyping()) {
            m_selectionDeferred = true;
            return ResultOk;
        }
        auto selection = std::dynamic_pointer_cast<Selection>(objectAt(0));
        if (selection && m_selectionTimer && sameDocument(selection->document(), currentDocument()))
            m_selectionTimer->start(kSelectionDelayMs);
        return ResultOk;
    }
    case EventDocumentBeforeClose:
    case EventDocumentBeforeSave: {
        const size_t declared = eventId == EventDocumentBeforeClose ? 2 : 3;
        if (parameters.size() != declared)
            return ResultInvalidArg;
        hidePopup();
        // The document is the first declared parameter, so the last one given.
        auto document = std::dynamic_pointer_cast<Document>(objectAt(declared - 1));
        if (!document || !sameDocument(document, currentDocument()))
            return ResultOk;
        // Marks the editor draws itself never reach the file: a save keeps them.
        if (eventId == EventDocumentBeforeSave && document->markStyle() == MarkStyle::Overlay)
            return ResultOk;
        clearMarks(eventId == EventDocumentBeforeSave);
        return ResultOk;
    }
    default:
        return ResultOk;
    }
}
