#include "MemoryWord.h"

#include <algorithm>

using namespace automation;

namespace memoryword {

namespace {

const QString kSentenceEnds = QStringLiteral("。！？!?；");
const QChar kParagraphMark = QLatin1Char('\r');

bool endsSentence(QChar c)
{
    return c == kParagraphMark || kSentenceEnds.contains(c);
}

} // namespace

int CallCounter::ofPrefix(const QString& prefix) const
{
    int n = 0;
    for (auto it = byName.begin(); it != byName.end(); ++it) {
        if (it.key().startsWith(prefix))
            n += it.value();
    }
    return n;
}

// --- Ranges and their helpers ---------------------------------------------------

// An object of a document: each call is counted, and answers empty once the
// document or its application is gone.
class DocumentObject
{
protected:
    explicit DocumentObject(std::shared_ptr<MemoryDocument> document)
        : m_document(std::move(document))
    {
    }
    bool hit(const char* name)
    {
        if (!m_document->isAlive())
            return false;
        m_document->calls().hit(name);
        return true;
    }

    std::shared_ptr<MemoryDocument> m_document;
};

class MemoryFind : public Find, private DocumentObject
{
public:
    MemoryFind(std::shared_ptr<MemoryDocument> document, int start, int end)
        : DocumentObject(std::move(document))
        , m_start(start)
        , m_end(end)
    {
    }
    void clearFormatting() override
    {
        if (!hit("Find.ClearFormatting"))
            return;
        m_find.reset();
    }
    void setFont(const Font& font) override
    {
        if (!hit("Find.Font"))
            return;
        m_find = font;
    }
    void clearReplacementFormatting() override
    {
        if (!hit("Replacement.ClearFormatting"))
            return;
        m_replacement.reset();
    }
    void setReplacementFont(const Font& font) override
    {
        if (!hit("Replacement.Font"))
            return;
        m_replacement = font;
    }
    bool execute(bool /*forward*/, bool format, int replace) override
    {
        if (!hit("Find.Execute") || !format || !m_find)
            return false;
        bool found = false;
        const int end = std::min(m_end, m_document->length());
        for (int i = m_start; i < end; ++i) {
            if (m_document->fontAt(i) != *m_find)
                continue;
            found = true;
            if (replace == ReplaceAll && m_replacement)
                m_document->applyFont(i, i + 1, *m_replacement);
        }
        return found;
    }

private:
    int m_start;
    int m_end;
    std::optional<Font> m_find;
    std::optional<Font> m_replacement;
};

class MemoryRange : public Range, public std::enable_shared_from_this<MemoryRange>, private DocumentObject
{
public:
    MemoryRange(std::shared_ptr<MemoryDocument> document, int start, int end)
        : DocumentObject(std::move(document))
        , m_start(start)
        , m_end(end)
    {
    }

    // Follows an edit that replaced [from, to) with length characters.
    void follow(int from, int to, int length, bool writer)
    {
        if (writer) {
            m_start = from;
            m_end = from + length;
            return;
        }
        const int delta = length - (to - from);
        auto move = [&](int p, bool isEnd) {
            if (p < from)
                return p;
            if (p == from) {
                // Text inserted at a range's edge belongs to neither neighbour.
                if (from == to)
                    return isEnd ? p : p + length;
                return p;
            }
            if (p >= to)
                return p + delta;
            return isEnd ? from + length : from;
        };
        m_start = move(m_start, false);
        m_end = std::max(m_start, move(m_end, true));
    }

    QString text() override
    {
        if (!hit("Range.Text"))
            return QString();
        QString text;
        for (int i = m_start; i < m_end; ++i) {
            if (!m_document->isHidden(i))
                text += m_document->plainText()[i];
        }
        return text;
    }
    void setText(const QString& text) override
    {
        if (!hit("Range.SetText"))
            return;
        m_document->replaceText(m_start, m_end, text, this);
    }
    int start() override { return hit("Range.Start") ? m_start : 0; }
    int end() override { return hit("Range.End") ? m_end : 0; }
    void setEnd(int end) override
    {
        if (!hit("Range.SetEnd"))
            return;
        m_end = std::clamp(end, m_start, m_document->length());
    }
    void setRange(int start, int end) override
    {
        if (!hit("Range.SetRange"))
            return;
        m_start = std::clamp(start, 0, m_document->length());
        m_end = std::clamp(end, m_start, m_document->length());
    }
    std::optional<Font> font() override
    {
        if (!hit("Range.Font"))
            return std::nullopt;
        return m_document->fontOf(m_start, m_end);
    }
    void setFont(const Font& font) override
    {
        if (!hit("Range.SetFont"))
            return;
        m_document->applyFont(m_start, m_end, font);
    }
    bool isMarked() override
    {
        if (m_document->markStyle() == MarkStyle::Formatting)
            return Range::isMarked();
        return hit("Range.IsMarked") && m_document->overlayMarked(m_start, m_end);
    }
    void setMarked(bool marked) override
    {
        if (m_document->markStyle() == MarkStyle::Formatting) {
            Range::setMarked(marked);
            return;
        }
        if (hit("Range.SetMarked"))
            m_document->setOverlayMarked(m_start, m_end, marked);
    }
    std::shared_ptr<Paragraphs> paragraphs() override;
    std::shared_ptr<Range> goTo(int what, int which, std::optional<int> count) override
    {
        if (!hit("Range.GoTo"))
            return nullptr;
        int at = -1;
        if (what == GoToPage && which == GoToAbsolute && count) {
            if (*count < 1)
                return nullptr;
            at = m_document->pageStart(std::min(*count, m_document->pageCount()));
        } else if (what == GoToPage && which == GoToLast) {
            at = m_document->pageStart(m_document->pageCount());
        } else if (what == GoToLine && which == GoToLast) {
            at = m_document->lineStart(m_document->lineCount() - 1);
        } else if (what == GoToLine && which == GoToAbsolute && count) {
            if (*count < 1)
                return nullptr;
            at = m_document->lineStart(std::min(*count, m_document->lineCount()) - 1);
        }
        if (at < 0)
            return nullptr;
        return m_document->makeRange(at, at);
    }
    std::shared_ptr<Range> next(int unit, int count) override
    {
        if (!hit("Range.Next") || unit != UnitCharacter || count != 1 || m_end >= m_document->length())
            return nullptr;
        return m_document->makeRange(m_end, m_end + 1);
    }
    std::shared_ptr<Range> previous(int unit, int count) override
    {
        if (!hit("Range.Previous") || unit != UnitCharacter || count != 1 || m_start <= 0)
            return nullptr;
        return m_document->makeRange(m_start - 1, m_start);
    }
    bool inRange(const std::shared_ptr<Range>& other) override
    {
        if (!hit("Range.InRange"))
            return false;
        auto memory = std::dynamic_pointer_cast<MemoryRange>(other);
        if (!memory || memory->m_document != m_document)
            return false;
        return memory->m_start <= m_start && m_end <= memory->m_end;
    }
    void expand(int unit) override
    {
        if (!hit("Range.Expand"))
            return;
        if (unit == UnitSentence) {
            m_start = m_document->sentenceStartAt(m_start);
            m_end = std::max(m_start, m_document->sentenceEndAt(m_end > m_start ? m_end - 1 : m_end));
        } else if (unit == UnitCharacter && m_start == m_end && m_end < m_document->length()) {
            ++m_end;
        }
    }
    std::optional<int> information(int type) override
    {
        if (!hit("Range.Information") || type != ActiveEndPageNumber)
            return std::nullopt;
        return m_document->pageOf(m_end > m_start ? m_end - 1 : m_end);
    }
    void select() override
    {
        if (!hit("Range.Select"))
            return;
        m_document->select(m_start, m_end);
    }
    std::shared_ptr<Find> find() override
    {
        if (!hit("Range.Find"))
            return nullptr;
        return std::make_shared<MemoryFind>(m_document, m_start, m_end);
    }

    int rawStart() const { return m_start; }
    int rawEnd() const { return m_end; }

private:
    int m_start;
    int m_end;
};

class MemoryParagraph : public Paragraph
{
public:
    explicit MemoryParagraph(std::shared_ptr<MemoryRange> range)
        : m_range(std::move(range))
    {
    }
    std::shared_ptr<Range> range() override { return m_range; }

private:
    std::shared_ptr<MemoryRange> m_range;
};

class MemoryParagraphs : public Paragraphs
{
public:
    MemoryParagraphs(std::shared_ptr<MemoryDocument> document, int start, int end)
        : m_document(std::move(document))
    {
        // Every paragraph the range touches, whole.
        int at = m_document->paragraphStartAt(start);
        do {
            const int stop = m_document->paragraphEndAt(at);
            m_bounds.emplace_back(at, stop);
            at = stop;
        } while (at < end && at < m_document->length());
    }
    int count() override
    {
        if (!m_document->isAlive())
            return 0;
        m_document->calls().hit("Paragraphs.Count");
        return static_cast<int>(m_bounds.size());
    }
    std::shared_ptr<Paragraph> item(int index) override
    {
        if (!m_document->isAlive())
            return nullptr;
        m_document->calls().hit("Paragraphs.Item");
        if (index < 1 || index > static_cast<int>(m_bounds.size()))
            return nullptr;
        const auto& bounds = m_bounds[static_cast<size_t>(index - 1)];
        return std::make_shared<MemoryParagraph>(m_document->makeRange(bounds.first, bounds.second));
    }

private:
    std::shared_ptr<MemoryDocument> m_document;
    std::vector<std::pair<int, int>> m_bounds;
};

std::shared_ptr<Paragraphs> MemoryRange::paragraphs()
{
    if (!hit("Range.Paragraphs"))
        return nullptr;
    return std::make_shared<MemoryParagraphs>(m_document, m_start, m_end);
}

class MemorySelection : public Selection, private DocumentObject
{
public:
    explicit MemorySelection(std::shared_ptr<MemoryDocument> document)
        : DocumentObject(std::move(document))
    {
    }
    std::shared_ptr<Range> range() override
    {
        if (!hit("Selection.Range"))
            return nullptr;
        return m_document->makeRange(m_document->selectionStart(), m_document->selectionEnd());
    }
    std::optional<int> information(int type) override
    {
        if (!hit("Selection.Information") || type != ActiveEndPageNumber)
            return std::nullopt;
        const int start = m_document->selectionStart();
        const int end = m_document->selectionEnd();
        return m_document->pageOf(end > start ? end - 1 : end);
    }
    std::shared_ptr<Document> document() override
    {
        if (!hit("Selection.Document"))
            return nullptr;
        return m_document;
    }
};

// Characters are 12 pixels wide and lines 20 high; the page's top-left corner
// is at (100, 200) on the screen.
class MemoryWindow : public Window
{
public:
    explicit MemoryWindow(std::shared_ptr<MemoryDocument> document)
        : m_document(std::move(document))
    {
    }
    bool getPoint(int& left, int& top, int& width, int& height, const std::shared_ptr<Range>& range) override
    {
        if (!m_document->isAlive())
            return false;
        m_document->calls().hit("Window.GetPoint");
        auto memory = std::dynamic_pointer_cast<MemoryRange>(range);
        if (!memory)
            return false;
        const int line = m_document->lineOf(memory->rawStart());
        left = 100 + 12 * (memory->rawStart() - m_document->lineStart(line));
        top = 200 + 20 * line;
        width = 12 * std::max(1, memory->rawEnd() - memory->rawStart());
        height = 20;
        return true;
    }

private:
    std::shared_ptr<MemoryDocument> m_document;
};

// --- The document -------------------------------------------------------------------

MemoryDocument::MemoryDocument(MemoryApplication* application, QString fullName, QString text, Layout layout)
    : m_application(application)
    , m_fullName(std::move(fullName))
    , m_text(std::move(text))
    , m_fonts(static_cast<size_t>(m_text.size()))
    , m_ids(static_cast<size_t>(m_text.size()))
    , m_hidden(static_cast<size_t>(m_text.size()), false)
    , m_overlay(static_cast<size_t>(m_text.size()), false)
    , m_layout(layout)
{
    for (int i = 0; i < m_text.size(); ++i)
        m_ids[static_cast<size_t>(i)] = i;
    m_savedFonts = m_fonts;
}

bool MemoryDocument::isAlive() const
{
    return !m_closed && !m_application->killed();
}

CallCounter& MemoryDocument::calls()
{
    return m_application->calls();
}

void MemoryDocument::layOut() const
{
    if (m_layoutValid)
        return;
    m_lineStarts.clear();
    m_lineStarts.push_back(0);
    int column = 0;
    for (int i = 0; i < m_text.size(); ++i) {
        if (column == m_layout.charsPerLine) {
            m_lineStarts.push_back(i);
            column = 0;
        }
        ++column;
        if (m_text[i] == kParagraphMark && i + 1 < m_text.size()) {
            m_lineStarts.push_back(i + 1);
            column = 0;
        }
    }
    m_layoutValid = true;
}

int MemoryDocument::lineCount() const
{
    layOut();
    return static_cast<int>(m_lineStarts.size());
}

int MemoryDocument::lineStart(int line) const
{
    layOut();
    return m_lineStarts[static_cast<size_t>(std::clamp(line, 0, lineCount() - 1))];
}

int MemoryDocument::lineOf(int position) const
{
    layOut();
    const auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), position);
    return std::max(0, static_cast<int>(it - m_lineStarts.begin()) - 1);
}

int MemoryDocument::pageCount() const
{
    return (lineCount() + m_layout.linesPerPage - 1) / m_layout.linesPerPage;
}

int MemoryDocument::pageOf(int position) const
{
    return lineOf(position) / m_layout.linesPerPage + 1;
}

int MemoryDocument::pageStart(int page) const
{
    return lineStart((page - 1) * m_layout.linesPerPage);
}

int MemoryDocument::paragraphStartAt(int position) const
{
    int at = std::clamp(position, 0, m_text.size());
    while (at > 0 && m_text[at - 1] != kParagraphMark)
        --at;
    return at;
}

int MemoryDocument::paragraphEndAt(int position) const
{
    int at = std::clamp(position, 0, m_text.size());
    while (at < m_text.size() && m_text[at] != kParagraphMark)
        ++at;
    return std::min(at + 1, m_text.size());
}

int MemoryDocument::sentenceStartAt(int position) const
{
    int at = std::clamp(position, 0, m_text.size());
    while (at > 0 && !endsSentence(m_text[at - 1]))
        --at;
    return at;
}

int MemoryDocument::sentenceEndAt(int position) const
{
    int at = std::clamp(position, 0, m_text.size());
    while (at < m_text.size() && !endsSentence(m_text[at]))
        ++at;
    // Closing marks belong to the sentence they end.
    while (at < m_text.size() && endsSentence(m_text[at]))
        ++at;
    return at;
}

void MemoryDocument::setSelection(int start, int end)
{
    m_selStart = std::clamp(start, 0, m_text.size());
    m_selEnd = std::clamp(end, m_selStart, m_text.size());
}

void MemoryDocument::select(int start, int end)
{
    setSelection(start, end);
    m_application->activate(shared_from_this());
    m_application->fire(EventWindowSelectionChange, {std::make_shared<MemorySelection>(shared_from_this())});
}

std::shared_ptr<MemoryRange> MemoryDocument::makeRange(int start, int end)
{
    auto range = std::make_shared<MemoryRange>(shared_from_this(), start, end);
    m_ranges.push_back(range);
    if (m_ranges.size() > 4096) {
        m_ranges.erase(std::remove_if(m_ranges.begin(), m_ranges.end(),
                                      [](const std::weak_ptr<MemoryRange>& r) { return r.expired(); }),
                       m_ranges.end());
    }
    return range;
}

std::optional<Font> MemoryDocument::fontOf(int start, int end) const
{
    if (m_text.isEmpty())
        return Font();
    if (start >= end) {
        // A caret has the formatting that typing there would get: the
        // character before it (the first one at the document's start).
        const int at = std::clamp(start > 0 ? start - 1 : 0, 0, m_text.size() - 1);
        return m_fonts[static_cast<size_t>(at)];
    }
    Font font = m_fonts[static_cast<size_t>(start)];
    for (int i = start + 1; i < end; ++i) {
        const Font& other = m_fonts[static_cast<size_t>(i)];
        if (other.underline != font.underline)
            font.underline = Undefined;
        if (other.underlineColor != font.underlineColor)
            font.underlineColor = Undefined;
    }
    return font;
}

bool MemoryDocument::overlayMarked(int start, int end) const
{
    if (m_text.isEmpty())
        return false;
    if (start >= end) {
        // Like a caret's formatting: the character before it.
        if (start <= 0)
            return false;
        return m_overlay[static_cast<size_t>(std::min(start, m_text.size()) - 1)];
    }
    for (int i = std::max(0, start); i < std::min(end, m_text.size()); ++i) {
        if (!m_overlay[static_cast<size_t>(i)])
            return false;
    }
    return true;
}

void MemoryDocument::setOverlayMarked(int start, int end, bool marked)
{
    for (int i = std::max(0, start); i < std::min(end, m_text.size()); ++i)
        m_overlay[static_cast<size_t>(i)] = marked;
}

void MemoryDocument::applyFont(int start, int end, const Font& font)
{
    bool any = false;
    for (int i = std::max(0, start); i < std::min(end, m_text.size()); ++i) {
        Font& own = m_fonts[static_cast<size_t>(i)];
        const Font before = own;
        if (font.underline != Undefined)
            own.underline = font.underline;
        if (font.underlineColor != Undefined)
            own.underlineColor = font.underlineColor;
        any = any || own != before;
    }
    if (any)
        changed();
}

void MemoryDocument::replaceText(int start, int end, const QString& text, MemoryRange* writer)
{
    start = std::clamp(start, 0, m_text.size());
    end = std::clamp(end, start, m_text.size());
    Font font;
    if (start < m_text.size() && start < end)
        font = m_fonts[static_cast<size_t>(start)];
    else if (start > 0)
        font = m_fonts[static_cast<size_t>(start - 1)];
    m_text.replace(start, end - start, text);
    m_fonts.erase(m_fonts.begin() + start, m_fonts.begin() + end);
    m_fonts.insert(m_fonts.begin() + start, static_cast<size_t>(text.size()), font);
    m_ids.erase(m_ids.begin() + start, m_ids.begin() + end);
    m_ids.insert(m_ids.begin() + start, static_cast<size_t>(text.size()), -1);
    m_hidden.erase(m_hidden.begin() + start, m_hidden.begin() + end);
    m_hidden.insert(m_hidden.begin() + start, static_cast<size_t>(text.size()), false);
    m_overlay.erase(m_overlay.begin() + start, m_overlay.begin() + end);
    m_overlay.insert(m_overlay.begin() + start, static_cast<size_t>(text.size()), false);
    for (const std::weak_ptr<MemoryRange>& weak : m_ranges) {
        if (std::shared_ptr<MemoryRange> range = weak.lock())
            range->follow(start, end, text.size(), range.get() == writer);
    }
    auto follow = [&](int p) {
        if (p >= end)
            return p + text.size() - (end - start);
        return p > start ? start + text.size() : p;
    };
    m_selStart = follow(m_selStart);
    m_selEnd = std::max(m_selStart, follow(m_selEnd));
    m_layoutValid = false;
    changed();
}

void MemoryDocument::changed()
{
    m_modified = true;
    if (m_undoDepth > 0)
        m_changedInContext = true;
    else
        ++m_undoSteps;
}

std::shared_ptr<Range> MemoryDocument::content()
{
    if (!isAlive())
        return nullptr;
    calls().hit("Document.Content");
    return makeRange(0, m_text.size());
}

std::shared_ptr<Range> MemoryDocument::range(int start, int end)
{
    if (!isAlive())
        return nullptr;
    calls().hit("Document.Range");
    if (start < 0 || end > m_text.size() || start > end)
        return nullptr;
    return makeRange(start, end);
}

QString MemoryDocument::fullName()
{
    if (!isAlive())
        return QString();
    calls().hit("Document.FullName");
    return m_fullName;
}

void MemoryDocument::enterUndoContext(const QString& /*title*/)
{
    if (!isAlive())
        return;
    calls().hit("Document.EnterUndoContext");
    if (m_undoDepth++ == 0)
        m_changedInContext = false;
}

void MemoryDocument::leaveUndoContext()
{
    if (!isAlive() || m_undoDepth == 0)
        return;
    calls().hit("Document.LeaveUndoContext");
    if (--m_undoDepth == 0 && m_changedInContext)
        ++m_undoSteps;
}

bool MemoryDocument::isModified()
{
    if (!isAlive())
        return false;
    calls().hit("Document.IsModified");
    return m_modified;
}

void MemoryDocument::setModified(bool modified)
{
    if (!isAlive())
        return;
    calls().hit("Document.SetModified");
    m_modified = modified;
}

// --- The application ------------------------------------------------------------------

MemoryApplication::MemoryApplication() = default;

std::shared_ptr<MemoryDocument> MemoryApplication::addDocument(const QString& fullName, const QString& text,
                                                               Layout layout)
{
    auto document = std::make_shared<MemoryDocument>(this, fullName, text, layout);
    m_documents.push_back(document);
    m_active = document;
    return document;
}

void MemoryApplication::activate(const std::shared_ptr<MemoryDocument>& document)
{
    m_active = document;
}

void MemoryApplication::moveCaret(const std::shared_ptr<MemoryDocument>& document, int start, int end)
{
    document->setSelection(start, end);
    m_active = document;
    fire(EventWindowSelectionChange, {std::make_shared<MemorySelection>(document)});
}

void MemoryApplication::type(const std::shared_ptr<MemoryDocument>& document, int start, int end, const QString& text)
{
    document->replaceText(start, end, text, nullptr);
    document->setSelection(start + text.size(), start + text.size());
    m_active = document;
    fire(EventDocumentChange, {std::static_pointer_cast<Object>(document)});
    fire(EventWindowSelectionChange, {std::make_shared<MemorySelection>(document)});
}

void MemoryApplication::save(const std::shared_ptr<MemoryDocument>& document)
{
    fire(EventDocumentBeforeSave, {false, false, std::static_pointer_cast<Object>(document)});
    document->takeSnapshot();
    document->setModifiedFlag(false);
}

void MemoryApplication::close(const std::shared_ptr<MemoryDocument>& document)
{
    fire(EventDocumentBeforeClose, {false, std::static_pointer_cast<Object>(document)});
    document->markClosed();
    m_documents.erase(std::remove(m_documents.begin(), m_documents.end(), document), m_documents.end());
    if (m_active == document)
        m_active = m_documents.empty() ? nullptr : m_documents.back();
}

void MemoryApplication::deactivate()
{
    fire(EventWindowDeactivate, {std::shared_ptr<Object>(activeWindow()), std::shared_ptr<Object>(m_active)});
}

void MemoryApplication::resize()
{
    fire(EventWindowSize, {std::shared_ptr<Object>(activeWindow()), std::shared_ptr<Object>(m_active)});
}

std::vector<long> MemoryApplication::fire(int eventId, const std::vector<Variant>& parameters)
{
    std::vector<long> results;
    const auto sinks = m_sinks;
    for (const auto& sink : sinks)
        results.push_back(sink.second->onEvent(eventId, parameters));
    return results;
}

std::shared_ptr<Document> MemoryApplication::activeDocument()
{
    if (m_killed)
        return nullptr;
    m_calls.hit("Application.ActiveDocument");
    return m_active;
}

std::shared_ptr<Window> MemoryApplication::activeWindow()
{
    if (m_killed || !m_active)
        return nullptr;
    m_calls.hit("Application.ActiveWindow");
    return std::make_shared<MemoryWindow>(m_active);
}

std::shared_ptr<Selection> MemoryApplication::selection()
{
    if (m_killed || !m_active)
        return nullptr;
    m_calls.hit("Application.Selection");
    return std::make_shared<MemorySelection>(m_active);
}

QString MemoryApplication::version()
{
    if (m_killed)
        return QString();
    m_calls.hit("Application.Version");
    return QStringLiteral("1.0");
}

int MemoryApplication::advise(const std::shared_ptr<EventSink>& sink)
{
    if (m_killed || !sink)
        return 0;
    m_calls.hit("Application.Advise");
    const int cookie = m_nextCookie++;
    m_sinks.emplace_back(cookie, sink);
    return cookie;
}

void MemoryApplication::unadvise(int cookie)
{
    m_calls.hit("Application.Unadvise");
    m_sinks.erase(std::remove_if(m_sinks.begin(), m_sinks.end(), [&](const auto& s) { return s.first == cookie; }),
                  m_sinks.end());
}

} // namespace memoryword
