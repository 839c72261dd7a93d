#include "WriterText.h"
#include "OfficeConnection.h"
#include "UnoSupport.h"
#include "WriterFont.h"
#include "WriterMarks.h"
#include "WriterRange.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <cppuhelper/implbase1.hxx>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextTablesSupplier.hpp>
#include <com/sun/star/text/XPageCursor.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>

#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdlib>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

constexpr int kMaxStep = 32767; // the most goRight moves in one call

// Learns that the document is being closed (on any thread).
class CloseWatch : public cppu::WeakImplHelper1<lang::XEventListener>
{
public:
    explicit CloseWatch(std::shared_ptr<std::atomic<bool>> closed)
        : m_closed(std::move(closed))
    {
    }
    void SAL_CALL disposing(const lang::EventObject&) override { *m_closed = true; }

private:
    std::shared_ptr<std::atomic<bool>> m_closed;
};

} // namespace

WriterText::WriterText(std::shared_ptr<OfficeConnection> connection, Reference<frame::XModel> model)
    : m_connection(std::move(connection))
    , m_model(std::move(model))
    , m_context(std::make_unique<QObject>())
    , m_marks(std::make_unique<WriterMarks>(*this))
{
    office::guarded("reading the document's text", [&] {
        Reference<text::XTextDocument> document(m_model, UNO_QUERY_THROW);
        m_body = document->getText();
        m_closeWatch.set(static_cast<lang::XEventListener*>(new CloseWatch(m_closed)));
        Reference<lang::XComponent>(m_model, UNO_QUERY_THROW)->addEventListener(m_closeWatch);
    });
}

WriterText::~WriterText()
{
    m_marks.reset();
    if (isAlive() && QThread::currentThread() == m_context->thread())
        office::guarded("forgetting the document", [&] {
            Reference<lang::XComponent>(m_model, UNO_QUERY_THROW)->removeEventListener(m_closeWatch);
        });
}

bool WriterText::isAlive() const
{
    return m_connection && m_connection->isAlive() && m_body.is() && !*m_closed;
}

Reference<frame::XController> WriterText::controller()
{
    if (!isAlive())
        return {};
    return office::guarded<Reference<frame::XController>>("reading the controller", {},
                                                          [&] { return m_model->getCurrentController(); });
}

Reference<text::XTextViewCursor> WriterText::viewCursor()
{
    if (!isAlive())
        return {};
    if (!m_viewCursor.is()) {
        m_viewCursor = office::guarded<Reference<text::XTextViewCursor>>("reading the view cursor", {}, [&] {
            Reference<text::XTextViewCursorSupplier> supplier(m_model->getCurrentController(), UNO_QUERY_THROW);
            return supplier->getViewCursor();
        });
    }
    return m_viewCursor;
}

QString WriterText::text()
{
    ensureMap();
    return m_text;
}

void WriterText::textChanged()
{
    m_mapValid = false;
    ++m_generation;
}

quint64 WriterText::textVersion()
{
    ensureMap();
    return m_textVersion;
}

void WriterText::ensureMap()
{
    if (m_mapValid || !isAlive())
        return;
    const QString before = std::move(m_text);
    m_text.clear();
    m_lowSurrogates.clear();
    m_tables.clear();
    const bool ok = office::guarded("reading the document's text", false, [&] {
        m_text = office::toQString(m_body->getString());
        readTables();
        return true;
    });
    if (!ok) {
        m_text.clear();
        m_tables.clear();
    }
    for (int i = 0; i < m_text.size(); ++i) {
        if (m_text.at(i).isLowSurrogate() && i > 0 && m_text.at(i - 1).isHighSurrogate())
            m_lowSurrogates.push_back(i);
    }
    if (m_text != before || m_text.isEmpty())
        ++m_textVersion;
    m_mapValid = true;
    // The user may edit as soon as control returns to the event loop.
    if (!m_invalidationPosted) {
        m_invalidationPosted = true;
        QMetaObject::invokeMethod(
            m_context.get(),
            [this] {
                m_invalidationPosted = false;
                settleRanges();
                textChanged();
            },
            Qt::QueuedConnection);
    }
}

void WriterText::readTables()
{
    Reference<text::XTextTablesSupplier> supplier(m_model, UNO_QUERY);
    if (!supplier.is())
        return;
    Reference<container::XIndexAccess> tables(supplier->getTextTables(), UNO_QUERY);
    if (!tables.is() || tables->getCount() == 0)
        return;

    // Tables in the body, in document order, each closed by the offset of the
    // paragraph after it (adjacent tables share that paragraph).
    std::vector<Reference<text::XTextTable>> pending;
    auto close = [&](int after) {
        for (auto it = pending.rbegin(); it != pending.rend(); ++it) {
            Table table;
            table.end = after;
            int length = 0;
            const uno::Sequence<rtl::OUString> names = (*it)->getCellNames();
            for (const rtl::OUString& name : names) {
                Reference<text::XText> cellText((*it)->getCellByName(name), UNO_QUERY);
                if (!cellText.is())
                    continue;
                Cell cell;
                cell.text = cellText;
                cell.length = cellText->getString().getLength();
                length += cell.length + 1;
                table.cells.push_back(cell);
            }
            table.start = after - length;
            int position = table.start;
            bool consistent = table.start >= 0;
            for (Cell& cell : table.cells) {
                cell.start = position;
                position += cell.length + 1;
                if (position - 1 > m_text.size() || (position - 1 < m_text.size() && m_text.at(position - 1) != '\n'))
                    consistent = false;
            }
            if (!consistent) {
                // Cells in an order we cannot follow (merged or nested
                // cells): the table's text is read, its cells are not reached.
                qCDebug(lcOffice) << "table cells not mapped";
                table.cells.clear();
                table.start = std::max(0, table.start);
            }
            after = table.start;
            m_tables.push_back(table);
        }
        pending.clear();
    };

    Reference<container::XEnumerationAccess> access(m_body, UNO_QUERY_THROW);
    Reference<container::XEnumeration> elements = access->createEnumeration();
    while (elements->hasMoreElements()) {
        const uno::Any element = elements->nextElement();
        Reference<text::XTextTable> table(element, UNO_QUERY);
        if (table.is()) {
            pending.push_back(table);
            continue;
        }
        if (pending.empty())
            continue;
        Reference<text::XTextRange> paragraph(element, UNO_QUERY);
        if (paragraph.is())
            close(offsetOf(m_body, paragraph->getStart()));
    }
    if (!pending.empty())
        close(m_text.size() + 1);
    std::sort(m_tables.begin(), m_tables.end(), [](const Table& a, const Table& b) { return a.start < b.start; });
}

int WriterText::codePoints(int offset) const
{
    return offset -
           int(std::lower_bound(m_lowSurrogates.begin(), m_lowSurrogates.end(), offset) - m_lowSurrogates.begin());
}

const WriterText::Cell* WriterText::cellAt(int offset) const
{
    for (const Table& table : m_tables) {
        if (offset < table.start || offset >= table.end)
            continue;
        for (const Cell& cell : table.cells) {
            if (offset >= cell.start && offset <= cell.start + cell.length)
                return &cell;
        }
        return nullptr;
    }
    return nullptr;
}

bool WriterText::goRight(const Reference<text::XTextCursor>& cursor, int count, bool expand)
{
    while (count > 0) {
        const int step = std::min(count, kMaxStep);
        if (!cursor->goRight(sal_Int16(step), expand))
            return false;
        count -= step;
    }
    return true;
}

Reference<text::XTextCursor> WriterText::bodyCursorAt(int offset)
{
    Reference<text::XTextCursor> cursor = m_body->createTextCursor();
    cursor->gotoStart(false);
    int current = 0;
    while (current < offset) {
        int next = std::min(offset, current + kMaxStep);
        int landing = next;
        for (const Table& table : m_tables) {
            if (next >= table.start && next < table.end)
                landing = table.end; // a body cursor cannot stop inside a table
        }
        if (!cursor->goRight(sal_Int16(codePoints(next) - codePoints(current)), false))
            return {};
        current = landing;
    }
    return cursor;
}

Reference<text::XText> WriterText::textAt(int offset) const
{
    for (const Table& table : m_tables) {
        if (offset < table.start || offset >= table.end)
            continue;
        const Cell* cell = cellAt(offset);
        return cell ? cell->text : Reference<text::XText>();
    }
    return m_body;
}

bool WriterText::spanWalker(const Reference<text::XText>& text, int start, int end)
{
    try {
        return moveWalker(text, start, end);
    } catch (...) {
        m_walker = {}; // where a failed move left it is unknown
        throw;
    }
}

bool WriterText::moveWalker(const Reference<text::XText>& text, int start, int end)
{
    Walker& walker = m_walker;
    const bool usable = walker.cursor.is() && walker.generation == m_generation && walker.text == text &&
                        sameText(std::min(walker.end, start), std::max(walker.end, start));
    if (!usable) {
        walker = {};
        Reference<text::XTextCursor> cursor;
        if (text == m_body) {
            cursor = bodyCursorAt(start);
        } else if (const Cell* cell = cellAt(start); cell && cell->text == text) {
            cursor = text->createTextCursor();
            cursor->gotoStart(false);
            if (!goRight(cursor, codePoints(start) - codePoints(cell->start), false))
                cursor.clear();
        }
        if (!cursor.is())
            return false;
        walker = {text, cursor, {}, start, start, m_generation};
    }
    if (walker.start == start && walker.end == end)
        return true;
    // From the moving end (a move without expanding first collapses there).
    int count = codePoints(start) - codePoints(walker.end);
    if (count == 0 && walker.start != walker.end)
        walker.cursor->collapseToEnd();
    bool moved = true;
    while (moved && count != 0) {
        const int step = std::min(std::abs(count), kMaxStep);
        moved =
            count > 0 ? walker.cursor->goRight(sal_Int16(step), false) : walker.cursor->goLeft(sal_Int16(step), false);
        count += count > 0 ? -step : step;
    }
    walker.start = walker.end = start;
    if (moved && end > start)
        moved = goRight(walker.cursor, codePoints(end) - codePoints(start), true);
    if (!moved) {
        walker = {};
        return false;
    }
    walker.end = end;
    return true;
}

Reference<beans::XMultiPropertySet> WriterText::propertiesSpanning(const Reference<text::XText>& text, int start,
                                                                   int end)
{
    Walker& walker = m_walker;
    if (!walker.cursor.is() || walker.generation != m_generation || walker.text != text || walker.start != start ||
        walker.end != end || !isAlive())
        return {};
    if (!walker.properties.is())
        walker.properties =
            office::guarded<Reference<beans::XMultiPropertySet>>("reading a cursor's properties", {}, [&] {
                return Reference<beans::XMultiPropertySet>(walker.cursor, UNO_QUERY_THROW);
            });
    return walker.properties;
}

WriterText::Position WriterText::positionAt(int offset)
{
    ensureMap();
    if (!isAlive() || offset < 0 || offset > m_text.size())
        return {};
    const Reference<text::XText> text = textAt(offset);
    if (!text.is())
        return {};
    return office::guarded<Position>("reaching a text position", {}, [&]() -> Position {
        if (!spanWalker(text, offset, offset))
            return {};
        return {text, text->createTextCursorByRange(office::up<text::XTextRange>(m_walker.cursor))};
    });
}

Reference<text::XText> WriterText::holderOf(int start, int end)
{
    ensureMap();
    if (!isAlive() || start < 0 || end < start || end > m_text.size())
        return {};
    const Reference<text::XText> holder = textAt(start);
    if (!holder.is())
        return {};
    if (const Cell* cell = cellAt(start)) {
        if (end > cell->start + cell->length)
            return {};
    } else {
        for (const Table& table : m_tables) {
            if (table.start > start && table.start <= end)
                return {};
        }
    }
    return holder;
}

Reference<text::XTextCursor> WriterText::cursorFor(int start, int end, Reference<text::XText>* text)
{
    const Reference<text::XText> holder = holderOf(start, end);
    if (!holder.is())
        return {};
    if (text)
        *text = holder;
    return office::guarded<Reference<text::XTextCursor>>("reaching a text range", {}, [&] {
        if (!spanWalker(holder, start, end))
            return Reference<text::XTextCursor>();
        return holder->createTextCursorByRange(office::up<text::XTextRange>(m_walker.cursor));
    });
}

Reference<beans::XMultiPropertySet> WriterText::walkTo(const Reference<text::XText>& text, int start, int end)
{
    ensureMap();
    if (!isAlive() || !text.is())
        return {};
    const bool spanned = office::guarded("reaching a text range", false, [&] { return spanWalker(text, start, end); });
    return spanned ? propertiesSpanning(text, start, end) : Reference<beans::XMultiPropertySet>();
}

void WriterText::deferCursor(const std::shared_ptr<WriterRange>& range)
{
    m_deferred.push_back(range);
}

void WriterText::settleRanges()
{
    std::vector<std::weak_ptr<WriterRange>> deferred;
    deferred.swap(m_deferred);
    for (const std::weak_ptr<WriterRange>& weak : deferred) {
        if (const std::shared_ptr<WriterRange> range = weak.lock())
            range->settle();
    }
}

int WriterText::stretchEnd(int offset) const
{
    int end = int(m_text.size());
    for (const Table& table : m_tables) {
        if (offset >= table.start && offset < table.end) {
            const Cell* cell = cellAt(offset);
            return cell ? cell->start + cell->length : offset;
        }
        if (table.start > offset)
            end = std::min(end, table.start - 1);
    }
    return std::max(offset, end);
}

std::optional<automation::Font> WriterText::characterFont(const Reference<text::XText>& text, int start, int end)
{
    constexpr int kShortestRun = 2;
    constexpr int kLongestRun = 64;
    ensureMap();
    if (!isAlive() || !text.is() || start < 0 || end <= start)
        return std::nullopt;
    const quint64 formatting = *m_formatting;
    const FontRun& run = m_fontRun;
    if (run.text == text && run.generation == m_generation && run.formatting == formatting && start >= run.start &&
        end <= run.end)
        return run.font;

    // The run's length adapts: it doubles while runs come back uniform (a
    // long stretch of plain text) and drops when one is mixed (a mark or the
    // user's formatting starts in it), after which the character is read
    // alone.
    int runEnd = std::min(start + m_runLength, stretchEnd(start));
    if (runEnd < m_text.size() && m_text.at(runEnd).isLowSurrogate())
        ++runEnd; // never between the halves of a pair
    if (runEnd > end) {
        if (const auto properties = walkTo(text, start, runEnd); properties.is()) {
            const std::optional<automation::Font> font = office::readFont({properties});
            if (font && !font->isMixed()) {
                m_runLength = std::min(kLongestRun, 2 * m_runLength);
                m_fontRun = {text, start, runEnd, *font, m_generation, formatting};
                return font;
            }
            m_runLength = std::max(kShortestRun, m_runLength / 4);
        }
    }
    // The run is mixed: the character alone.
    auto properties = walkTo(text, start, end);
    if (!properties.is())
        return std::nullopt;
    return office::readFont({properties});
}

bool WriterText::sameText(int a, int b)
{
    ensureMap();
    const Cell* cell = cellAt(a);
    if (cell)
        return b >= cell->start && b <= cell->start + cell->length && cellAt(b) == cell;
    for (const Table& table : m_tables) {
        if (table.start > a && table.start <= b)
            return false;
    }
    return cellAt(b) == nullptr;
}

bool WriterText::knows(const Reference<text::XText>& text)
{
    if (!text.is())
        return false;
    if (text == m_body)
        return true;
    ensureMap();
    for (const Table& table : m_tables) {
        for (const Cell& cell : table.cells) {
            if (cell.text == text)
                return true;
        }
    }
    return false;
}

int WriterText::offsetOf(const Reference<text::XText>& text, const Reference<text::XTextRange>& position)
{
    if (!isAlive() || !text.is() || !position.is())
        return -1;
    int base = -1;
    if (text == m_body) {
        base = 0;
    } else {
        ensureMap();
        for (const Table& table : m_tables) {
            for (const Cell& cell : table.cells) {
                if (cell.text == text)
                    base = cell.start;
            }
        }
    }
    if (base < 0)
        return -1;
    return office::guarded("reading a text position", -1, [&] {
        Reference<text::XTextCursor> cursor = text->createTextCursorByRange(position->getStart());
        cursor->gotoStart(true);
        return base + cursor->getString().getLength();
    });
}

std::vector<Reference<text::XTextCursor>> WriterText::pieces(int start, int end)
{
    std::vector<Reference<text::XTextCursor>> result;
    ensureMap();
    if (start == end) {
        if (auto cursor = cursorFor(start, end); cursor.is())
            result.push_back(cursor);
        return result;
    }
    // The stretches that lie in one text each, in document order.
    std::vector<std::pair<int, int>> stretches;
    int bodyFrom = 0;
    for (const Table& table : m_tables) {
        if (table.start - 1 > bodyFrom)
            stretches.emplace_back(bodyFrom, table.start - 1);
        for (const Cell& cell : table.cells)
            stretches.emplace_back(cell.start, cell.start + cell.length);
        bodyFrom = table.end;
    }
    stretches.emplace_back(bodyFrom, int(m_text.size()));
    for (const auto& [from, to] : stretches) {
        const int low = std::max(from, start);
        const int high = std::min(to, end);
        if (low >= high)
            continue;
        if (auto cursor = cursorFor(low, high); cursor.is())
            result.push_back(cursor);
    }
    return result;
}

std::optional<int> WriterText::pageAt(int offset)
{
    if (!isAlive() || offset < 0)
        return std::nullopt;
    const bool preferLater = true;
    if (m_pagesGeneration != m_generation) {
        m_pages.clear();
        m_pagesGeneration = m_generation;
    }
    // The known pages that hold offset, and whether it lies on a page's edge
    // (where the next or previous page, perhaps not known yet, holds it too).
    auto known = [&](bool& onEdge) -> std::optional<int> {
        std::optional<int> found;
        onEdge = false;
        int count = 0;
        for (const PageSpan& span : m_pages) {
            if (offset < span.first || offset > span.last)
                continue;
            ++count;
            onEdge = onEdge || offset == span.first || offset == span.last;
            if (!found || (preferLater ? span.page > *found : span.page < *found))
                found = span.page;
        }
        if (count > 1)
            onEdge = false;
        return found;
    };
    bool onEdge = false;
    if (const std::optional<int> page = known(onEdge); page && !onEdge)
        return page;
    const Position position = positionAt(offset);
    if (!position.cursor.is())
        return std::nullopt;
    // Keeps the page's bounds for the next questions.
    auto keep = [&](int page, const Reference<text::XTextRange>& first,
                    const Reference<text::XTextRange>& last) -> std::optional<int> {
        const int firstOffset = offsetOf(first->getText(), first);
        const int lastOffset = offsetOf(last->getText(), last);
        if (firstOffset >= 0 && lastOffset >= firstOffset)
            m_pages.push_back({firstOffset, lastOffset, page});
        bool edge = false;
        const std::optional<int> decided = known(edge);
        return decided ? decided : std::optional<int>(page);
    };
    {
        ViewMove move(*this, true);
        const Reference<text::XTextRange> at = office::guarded<Reference<text::XTextRange>>(
            "reading a position", {}, [&] { return position.cursor->getStart(); });
        if (!at.is())
            return std::nullopt;
        const WriterMarks::Page asked = m_marks->pageAt(controller(), at);
        if (asked.supported) {
            if (asked.page <= 0)
                return std::nullopt;
            return office::guarded<std::optional<int>>("reading a page's bounds", std::nullopt,
                                                       [&] { return keep(asked.page, asked.first, asked.last); });
        }
    }
    ViewMove move(*this);
    if (!move.cursor().is())
        return std::nullopt;
    return office::guarded<std::optional<int>>("reading a page number", std::nullopt, [&]() -> std::optional<int> {
        const Reference<text::XTextViewCursor>& cursor = move.cursor();
        Reference<text::XPageCursor> pages(cursor, UNO_QUERY_THROW);
        cursor->gotoRange(position.cursor->getStart(), false);
        const int page = pages->getPage();
        if (page <= 0)
            return std::nullopt;
        pages->jumpToStartOfPage();
        const Reference<text::XTextRange> first = cursor->getStart();
        pages->jumpToEndOfPage();
        return keep(page, first, cursor->getStart());
    });
}

WriterText::ViewMove::ViewMove(WriterText& text, bool byOffice)
    : m_text(text)
{
    ++m_text.m_viewMoves;
    if (byOffice)
        return;
    m_cursor = text.viewCursor();
    if (!m_cursor.is())
        return;
    office::guarded("saving the selection", [&] {
        m_text.m_model->lockControllers();
        m_locked = true;
        m_start = m_cursor->getStart();
        m_end = m_cursor->getEnd();
    });
}

WriterText::ViewMove::~ViewMove()
{
    if (m_cursor.is()) {
        office::guarded("restoring the selection", [&] {
            if (m_start.is() && m_end.is()) {
                m_cursor->gotoRange(m_start, false);
                m_cursor->gotoRange(m_end, true);
            }
        });
    }
    if (m_locked)
        office::guarded("unlocking the view", [&] { m_text.m_model->unlockControllers(); });
    --m_text.m_viewMoves;
    m_text.m_viewMoveEnd = std::chrono::steady_clock::now();
}

void WriterText::beginChange()
{
    ++m_viewMoves;
    m_changeLocks.push_back(isAlive() && office::guarded("locking the view", false, [&] {
                                m_model->lockControllers();
                                return true;
                            }));
}

void WriterText::endChange()
{
    if (m_changeLocks.empty())
        return;
    if (m_changeLocks.back() && isAlive())
        office::guarded("unlocking the view", [&] { m_model->unlockControllers(); });
    m_changeLocks.pop_back();
    // Unlike a hidden move, a change leaves no quiet time after it: the
    // notifications of the unlock arrive within that call, and the user's own
    // moves right after it must not be dropped.
    --m_viewMoves;
}

bool WriterText::viewMovedRecently() const
{
    // The office may report a move made while its controllers were locked
    // after we have unlocked them, from its own thread.
    constexpr auto kLateReport = std::chrono::milliseconds(150);
    return m_viewMoves > 0 || std::chrono::steady_clock::now() - m_viewMoveEnd < kLateReport;
}
