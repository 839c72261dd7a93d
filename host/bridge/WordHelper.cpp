#include "bridge/WordHelper.h"
#include "bridge/AppEventListener.h"
#include "client/Revisor.h"
#include "presentation/ContextShow.h"

#include <QLoggingCategory>
#include <QPoint>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <unordered_map>

using namespace automation;

// Where the popup goes, for the end-to-end test (QT_LOGGING_RULES="quillet.popup.debug=true").
Q_LOGGING_CATEGORY(lcPopup, "quillet.popup", QtInfoMsg)

namespace {

const int kSelectionDelayMs = 10;
const int kMaxNextPages = 100;
// How far the popup's range grows over neighbouring marked characters.
const int kMaxGrowSteps = 20;

const Font kMarkFont{UnderlineWavyHeavy, MarkColor};
const Font kPlainFont{UnderlineNone, ColorAutomatic};

std::function<HWND()>& foregroundEditorLookup()
{
    static std::function<HWND()> lookup;
    return lookup;
}

// The record key last found through the foreground window, kept process-wide.
HWND s_rememberedKey = nullptr;

// One operation of ours on the document: its changes form one undo step, and a
// document that was unmodified before stays unmodified unless the operation
// edits text. Nested steps join the outermost.
class DocumentStep
{
public:
    DocumentStep(std::shared_ptr<Document> document, const QString& title, bool editsText = false)
        : m_document(std::move(document))
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

bool isMarkFont(const Font& font)
{
    return font.underline == UnderlineWavyHeavy && font.underlineColor == MarkColor;
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
    if (!m_records.empty()) {
        DocumentStep step(currentDocument(), tr("Remove proofreading marks"));
        m_records.clear();
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
    return true;
}

void WordHelper::setForegroundEditorLookup(std::function<HWND()> lookup)
{
    foregroundEditorLookup() = std::move(lookup);
}

// --- Queries ----------------------------------------------------------------

HWND WordHelper::recordKey()
{
    if (m_hWnd)
        return m_hWnd;
    if (const std::function<HWND()>& lookup = foregroundEditorLookup()) {
        if (HWND found = lookup())
            s_rememberedKey = found;
    }
    return s_rememberedKey;
}

std::shared_ptr<CheckRecord> WordHelper::currentRecord()
{
    const auto it = m_records.find(recordKey());
    return it == m_records.end() ? nullptr : it->second;
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

bool WordHelper::isMarked(const std::shared_ptr<Range>& range) const
{
    if (!range)
        return false;
    const std::optional<Font> font = range->font();
    return font && isMarkFont(*font);
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

QString WordHelper::pageText(int page)
{
    std::shared_ptr<Range> range = pageRange(page);
    return range ? range->text() : QString();
}

QString WordHelper::getCurrentPageText()
{
    return pageText(currentPageNumber());
}

QString WordHelper::getAllPageText()
{
    std::shared_ptr<Document> document = currentDocument();
    std::shared_ptr<Range> content = document ? document->content() : nullptr;
    return content ? content->text() : QString();
}

QString WordHelper::getNextPageText(int count)
{
    if (count > kMaxNextPages || count <= 0)
        return QString();
    const int first = currentPageNumber();
    if (first < 1)
        return QString();
    QString text;
    for (int page = first; page < first + count; ++page) {
        // Past the last page there is nothing more to read.
        std::shared_ptr<Range> range = pageRange(page);
        if (!range)
            break;
        text += range->text();
    }
    return text;
}

// --- Findings and marks -------------------------------------------------------

void WordHelper::showErrors(const CHECK_DATAS& checkDatas)
{
    const HWND key = recordKey();
    if (!key)
        return;
    auto record = std::make_shared<CheckRecord>();
    for (const std::shared_ptr<CCheckData>& data : checkDatas) {
        if (data && !data->text.empty())
            record->findings.push_back(data);
    }
    if (record->findings.empty())
        return;

    DocumentStep step(currentDocument(), tr("Mark proofreading errors"));
    m_currentErrorRange.reset();
    m_shownStart = m_shownEnd = -1;
    hidePopup();
    m_records.erase(key);
    m_records[key] = record;
    markCurrentPage(record);
}

bool WordHelper::hasData()
{
    std::shared_ptr<CheckRecord> record = currentRecord();
    return record && !record->findings.empty();
}

CHECK_DATAS* WordHelper::getCheckDatas()
{
    std::shared_ptr<CheckRecord> record = currentRecord();
    return record ? &record->findings : nullptr;
}

void WordHelper::clearErrors()
{
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

    DocumentStep step(currentDocument(), tr("Mark proofreading errors"));
    // Marks always belong to one pass: earlier ones go first.
    record->marks.clear();
    m_markedPage = page;
    MarkPass pass;
    markRange(record, range, pass);
}

void WordHelper::markRange(const std::shared_ptr<CheckRecord>& record, const std::shared_ptr<Range>& range,
                           MarkPass& pass)
{
    std::shared_ptr<Document> document = currentDocument();
    if (!document)
        return;

    std::vector<std::shared_ptr<Range>> parts;
    std::shared_ptr<Paragraphs> paragraphs = range->paragraphs();
    const int count = paragraphs ? paragraphs->count() : 0;
    if (count > 1) {
        // Paragraph by paragraph, each cut to the page so that nothing beyond
        // the checked text is marked.
        const int rangeStart = range->start();
        const int rangeEnd = range->end();
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
    } else {
        parts.push_back(range);
    }

    for (const std::shared_ptr<Range>& part : parts) {
        const QString text = part->text();
        if (text.isEmpty())
            continue;
        const int base = part->start();
        for (const std::shared_ptr<CCheckData>& finding : record->findings) {
            const QString wrong = finding ? QString::fromStdString(finding->text) : QString();
            if (wrong.isEmpty())
                continue;
            for (int at = text.indexOf(wrong, 0, Qt::CaseSensitive); at >= 0;
                 at = text.indexOf(wrong, at + wrong.size(), Qt::CaseSensitive))
                markOccurrence(record, finding, document, base + at, base + at + wrong.size(), pass);
        }
    }
}

void WordHelper::markOccurrence(const std::shared_ptr<CheckRecord>& record, const std::shared_ptr<CCheckData>& finding,
                                const std::shared_ptr<Document>& document, int start, int end, MarkPass& pass)
{
    std::shared_ptr<Range> range = document->range(start, end);
    // Hidden content or fields can make the text differ from what was
    // searched: such an occurrence is skipped, not marked in the wrong place.
    if (!range || range->text() != QString::fromStdString(finding->text))
        return;
    const std::optional<Font> font = range->font();
    if (!font)
        return;

    const int length = end - start;
    bool anyMarked = false;
    bool allMarked = true;
    for (int i = 0; i < length; ++i) {
        const bool known = pass.marked.count(start + i) > 0;
        anyMarked = anyMarked || known;
        allMarked = allMarked && known;
    }

    auto entry = std::make_shared<MarkEntry>(document, range, finding);
    entry->setMarkedAt(start, end);
    std::vector<Font> saved;
    if (!anyMarked && !font->isMixed() && !isMarkFont(*font)) {
        saved.push_back(*font);
    } else {
        // Characters this pass already marked keep the formatting they had
        // before it; the others are read one by one when their formatting is
        // mixed. A mark that no entry of ours set counts as no underline.
        saved.resize(static_cast<size_t>(length));
        for (int i = 0; i < length; ++i) {
            const auto it = pass.marked.find(start + i);
            if (it != pass.marked.end()) {
                saved[static_cast<size_t>(i)] = it->second.original;
                continue;
            }
            Font original = kPlainFont;
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
        range->setFont(kMarkFont);
}

void WordHelper::clearMarks(bool keepRecord)
{
    m_currentErrorRange.reset();
    hidePopup();
    m_markedPage = -1;

    const auto it = m_records.find(recordKey());
    if (it == m_records.end())
        return;

    std::shared_ptr<Document> document = currentDocument();
    DocumentStep step(document, tr("Remove proofreading marks"));
    it->second->marks.clear();
    if (!keepRecord)
        m_records.erase(it);

    // Marks that no entry tracks (typed into a marked word, or left by an
    // earlier session) go with one find-and-replace over the document.
    std::shared_ptr<Range> content = document ? document->content() : nullptr;
    std::shared_ptr<Find> find = content ? content->find() : nullptr;
    if (!find)
        return;
    find->clearFormatting();
    find->setFont(kMarkFont);
    find->clearReplacementFormatting();
    find->setReplacementFont(kPlainFont);
    find->execute(true, true, ReplaceAll);
}

bool WordHelper::removeMarks(const std::shared_ptr<Range>& range, bool all)
{
    std::shared_ptr<CheckRecord> record = currentRecord();
    if (!record || !range)
        return false;

    std::vector<std::shared_ptr<MarkEntry>> kept;
    std::vector<std::shared_ptr<MarkEntry>> taken;
    CHECK_DATAS removed;
    for (std::shared_ptr<MarkEntry>& entry : record->marks) {
        if (entry->range() && entry->range()->inRange(range)) {
            if (std::find(removed.begin(), removed.end(), entry->finding()) == removed.end())
                removed.push_back(entry->finding());
            taken.push_back(std::move(entry));
        } else {
            kept.push_back(std::move(entry));
        }
    }
    const bool tookAny = !taken.empty();

    if (all && tookAny) {
        std::vector<std::shared_ptr<MarkEntry>> remaining;
        for (std::shared_ptr<MarkEntry>& entry : kept) {
            if (std::find(removed.begin(), removed.end(), entry->finding()) != removed.end())
                taken.push_back(std::move(entry));
            else
                remaining.push_back(std::move(entry));
        }
        kept = std::move(remaining);
        CHECK_DATAS& findings = record->findings;
        findings.erase(std::remove_if(findings.begin(), findings.end(),
                                      [&](const std::shared_ptr<CCheckData>& finding) {
                                          return std::find(removed.begin(), removed.end(), finding) != removed.end();
                                      }),
                       findings.end());
    }

    record->marks = std::move(kept);
    // The entries taken out restore their characters now, while the kept ones
    // still hold the characters they share.
    taken.clear();
    return tookAny;
}

void WordHelper::unmark(const std::shared_ptr<Range>& range)
{
    if (isMarked(range))
        range->setFont(kPlainFont);
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
    if (m_popup->showCheckData(record->findings, text)) {
        if (m_errorTipEnabled) {
            m_popup->move(position);
            m_popup->show();
            qCDebug(lcPopup, "popup shown at %d,%d", position.x(), position.y());
        }
        range->select();
        m_currentErrorRange = range;
    }
    m_shownStart = start;
    m_shownEnd = end;
}

void WordHelper::timeoutSelectionChange()
{
    if (m_selectionTimer)
        m_selectionTimer->stop();
    if (m_records.empty() || !m_popup)
        return;

    const int page = currentPageNumber();
    if (page > 0 && page != m_markedPage) {
        DocumentStep step(currentDocument(), tr("Mark proofreading errors"));
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
    if (groupIndex < 0 || groupIndex >= static_cast<int>(record->findings.size()))
        return;
    const std::shared_ptr<CCheckData> finding = record->findings[static_cast<size_t>(groupIndex)];
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
    DocumentStep step(document, tr("Apply suggestion"), newText != text);
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
    DocumentStep step(currentDocument(), tr("Ignore proofreading error"));
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
    case EventWindowSelectionChange: {
        if (parameters.size() != 1)
            return ResultInvalidArg;
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
        if (document && sameDocument(document, currentDocument()))
            clearMarks(eventId == EventDocumentBeforeSave);
        return ResultOk;
    }
    default:
        return ResultOk;
    }
}
