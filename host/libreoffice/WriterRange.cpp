#include "WriterRange.h"
#include "UnoSupport.h"
#include "WriterFind.h"
#include "WriterFont.h"
#include "WriterMarks.h"
#include "WriterParagraphs.h"
#include "WriterText.h"

#include <com/sun/star/view/XLineCursor.hpp>
#include <com/sun/star/view/XViewCursor.hpp>
#include <com/sun/star/text/XPageCursor.hpp>
#include <com/sun/star/text/XSentenceCursor.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// Length in UTF-16 units of the character at offset (a surrogate pair is one
// character).
int characterLength(const QString& text, int offset)
{
    if (offset + 1 < text.size() && text.at(offset).isHighSurrogate() && text.at(offset + 1).isLowSurrogate())
        return 2;
    return 1;
}

int characterLengthBefore(const QString& text, int offset)
{
    if (offset >= 2 && text.at(offset - 1).isLowSurrogate() && text.at(offset - 2).isHighSurrogate())
        return 2;
    return 1;
}

} // namespace

WriterRange::WriterRange(std::shared_ptr<WriterText> document)
    : m_document(std::move(document))
{
}

std::shared_ptr<WriterRange> WriterRange::create(const std::shared_ptr<WriterText>& document, int start, int end)
{
    if (!document)
        return nullptr;
    std::shared_ptr<WriterRange> range(new WriterRange(document));
    if (!range->assign(start, end))
        return nullptr;
    return range;
}

bool WriterRange::assign(int start, int end)
{
    const QString text = m_document->text();
    if (start < 0 || end < start || end > text.size())
        return false;
    m_known.reset();
    if (const Reference<text::XText> holder = m_document->holderOf(start, end); holder.is()) {
        // In one text: the cursor comes when it is needed.
        m_startText = holder;
        m_cursor.clear();
        m_endText.clear();
        m_endCursor.clear();
        m_endsPastText = false;
        m_start = start;
        m_end = end;
        m_generation = m_document->generation();
        m_textVersion = m_document->textVersion();
        m_deferred = true;
        m_document->deferCursor(shared_from_this());
        return true;
    }
    m_deferred = false;
    Reference<text::XText> holder;
    Reference<text::XTextCursor> cursor = m_document->cursorFor(start, end, &holder);
    bool endsPastText = false;
    if (!cursor.is() && end > start && text.at(end - 1) == '\n') {
        // A paragraph's range with its mark, where the mark separates two
        // texts (the end of a cell, the paragraph before a table).
        cursor = m_document->cursorFor(start, end - 1, &holder);
        endsPastText = cursor.is();
    }
    if (cursor.is()) {
        m_startText = holder;
        m_cursor = cursor;
        m_endText.clear();
        m_endCursor.clear();
    } else {
        const WriterText::Position from = m_document->positionAt(start);
        const WriterText::Position to = m_document->positionAt(end);
        if (!from.cursor.is() || !to.cursor.is())
            return false;
        m_startText = from.text;
        m_cursor = from.cursor;
        m_endText = to.text;
        m_endCursor = to.cursor;
    }
    m_endsPastText = endsPastText;
    m_start = start;
    m_end = end;
    m_generation = m_document->generation();
    m_textVersion = m_document->textVersion();
    return true;
}

std::shared_ptr<WriterRange> WriterRange::fromPositions(const std::shared_ptr<WriterText>& document,
                                                        const Reference<text::XTextRange>& start,
                                                        const Reference<text::XTextRange>& end)
{
    if (!document || !document->isAlive() || !start.is() || !end.is())
        return nullptr;
    return office::guarded<std::shared_ptr<WriterRange>>("reading a range", nullptr, [&] {
        std::shared_ptr<WriterRange> range(new WriterRange(document));
        const Reference<text::XText> startText = start->getText();
        const Reference<text::XText> endText = end->getText();
        if (!document->knows(startText) || !document->knows(endText))
            return std::shared_ptr<WriterRange>();
        range->m_startText = startText;
        range->m_cursor = startText->createTextCursorByRange(start->getStart());
        if (startText == endText) {
            range->m_cursor->gotoRange(end->getEnd(), true);
        } else {
            range->m_endText = endText;
            range->m_endCursor = endText->createTextCursorByRange(end->getEnd());
        }
        return range;
    });
}

bool WriterRange::fresh() const
{
    if (m_start < 0)
        return false;
    if (m_generation == m_document->generation())
        return true;
    // Nothing of the text changed since the offsets were read: they hold.
    return m_textVersion == m_document->textVersion();
}

bool WriterRange::ensureCursor()
{
    if (!m_deferred)
        return m_cursor.is();
    if (!fresh())
        return false;
    Reference<text::XText> holder;
    const Reference<text::XTextCursor> cursor = m_document->cursorFor(m_start, m_end, &holder);
    if (!cursor.is())
        return false;
    m_startText = holder;
    m_cursor = cursor;
    m_deferred = false;
    return true;
}

bool WriterRange::readOffsets()
{
    if (fresh())
        return true;
    if (m_deferred || !m_cursor.is())
        return false;
    const int start = m_document->offsetOf(m_startText, office::up<text::XTextRange>(m_cursor));
    int end = -1;
    if (m_endCursor.is()) {
        end = m_document->offsetOf(m_endText, office::up<text::XTextRange>(m_endCursor));
    } else if (start >= 0) {
        end = office::guarded("reading a range", -1,
                              [&] { return start + m_cursor->getString().getLength() + (m_endsPastText ? 1 : 0); });
    }
    if (start < 0 || end < start)
        return false;
    m_start = start;
    m_end = end;
    m_generation = m_document->generation();
    m_textVersion = m_document->textVersion();
    return true;
}

int WriterRange::start()
{
    return readOffsets() ? m_start : 0;
}

int WriterRange::end()
{
    return readOffsets() ? m_end : 0;
}

QString WriterRange::text()
{
    if (!m_document->isAlive())
        return {};
    // Offsets read in this turn of the event loop with no edit of ours since:
    // the text map has the characters, without a call.
    if (!fresh() && !m_endCursor.is() && !m_endsPastText) {
        if (!ensureCursor())
            return {};
        return office::guarded<QString>("reading text", {}, [&] { return office::toQString(m_cursor->getString()); });
    }
    if (!readOffsets())
        return {};
    return m_document->text().mid(m_start, m_end - m_start);
}

void WriterRange::setText(const QString& text)
{
    if (!readOffsets())
        return;
    const int start = m_start;
    // New characters take the formatting of the first replaced character
    // (Writer would give them that of the character before).
    std::optional<automation::Font> font;
    if (m_end > start) {
        const QString documentText = m_document->text();
        if (auto first = create(m_document, start, start + characterLength(documentText, start)))
            font = first->font();
    }
    // Ranges still waiting for a cursor get it before the offsets change.
    m_document->settleRanges();
    const std::vector<Reference<text::XTextRange>> parts = pieces();
    if (parts.empty())
        return;
    office::guarded("replacing text", [&] {
        parts.front()->setString(office::toOUString(text));
        for (size_t i = 1; i < parts.size(); ++i)
            parts[i]->setString({});
    });
    m_document->textChanged();
    if (!assign(start, start + text.size()))
        return;
    if (font && !text.isEmpty())
        setFont(*font);
}

void WriterRange::setEnd(int end)
{
    setRange(start(), end);
}

void WriterRange::setRange(int start, int end)
{
    assign(start, end);
}

std::vector<Reference<text::XTextRange>> WriterRange::pieces()
{
    std::vector<Reference<text::XTextRange>> result;
    if (!m_endCursor.is()) {
        if (ensureCursor())
            result.push_back(office::up<text::XTextRange>(m_cursor));
        return result;
    }
    if (!readOffsets())
        return result;
    for (const auto& cursor : m_document->pieces(m_start, m_end))
        result.push_back(office::up<text::XTextRange>(cursor));
    return result;
}

office::RangeProperties WriterRange::properties()
{
    office::RangeProperties result;
    if (!m_endCursor.is() && !m_endsPastText && fresh()) {
        // Through the walker: where it spans the range already, or instead of
        // making this range's cursor for it.
        Reference<beans::XMultiPropertySet> walker = m_document->propertiesSpanning(m_startText, m_start, m_end);
        if (!walker.is() && m_deferred)
            walker = m_document->walkTo(m_startText, m_start, m_end);
        if (walker.is()) {
            result.push_back(walker);
            return result;
        }
    }
    office::guarded("reading a range's properties", [&] {
        for (const auto& piece : pieces())
            result.emplace_back(piece, UNO_QUERY_THROW);
    });
    return result;
}

std::optional<automation::Font> WriterRange::font()
{
    if (!m_document->isAlive())
        return std::nullopt;
    std::optional<automation::Font> font;
    if (!m_endCursor.is() && !m_endsPastText && fresh() && m_end > m_start &&
        m_end - m_start == characterLength(m_document->text(), m_start))
        font = m_document->characterFont(m_startText, m_start, m_end);
    else
        font = office::readFont(properties());
    m_known = font && !font->isMixed() ? font : std::nullopt;
    return font;
}

void WriterRange::setFont(const automation::Font& font)
{
    if (!m_document->isAlive())
        return;
    m_document->formattingChanged();
    // Writer keeps underline style and colour in one attribute: writing one
    // of them over characters that differ in the other would make the other
    // uniform. Such a write goes character by character.
    const bool keepStyle = font.underline == automation::Undefined;
    const bool keepColor = font.underlineColor == automation::Undefined;
    if (keepStyle != keepColor && readOffsets() && m_end - m_start > 1) {
        const std::optional<automation::Font> current = this->font();
        if (current && (keepStyle ? current->underline : current->underlineColor) == automation::Undefined) {
            const QString text = m_document->text();
            for (int at = m_start; at < m_end;) {
                const int length = characterLength(text, at);
                if (auto character = create(m_document, at, at + length)) {
                    if (const std::optional<automation::Font> own = character->font()) {
                        automation::Font merged = font;
                        if (keepStyle)
                            merged.underline = own->underline;
                        else
                            merged.underlineColor = own->underlineColor;
                        character->setFont(merged);
                    }
                }
                at += length;
            }
            return;
        }
    }
    office::writeFont(properties(), font);
    m_known = font.isMixed() ? std::nullopt : std::optional<automation::Font>(font);
}

bool WriterRange::isMarked()
{
    if (!m_document->isAlive() || !readOffsets())
        return false;
    return m_document->marks().covers(m_start, m_end);
}

void WriterRange::setMarked(bool marked)
{
    if (!m_document->isAlive() || !readOffsets())
        return;
    // A marked range is kept (a mark's): its own cursor, made now from the
    // walker, serves the mark too.
    Reference<text::XTextCursor> cursor;
    if (marked && !m_endCursor.is() && !m_endsPastText && ensureCursor())
        cursor = m_cursor;
    m_document->marks().set(m_start, m_end, marked, cursor);
}

std::shared_ptr<automation::Paragraphs> WriterRange::paragraphs()
{
    if (!readOffsets())
        return nullptr;
    return std::make_shared<WriterParagraphs>(m_document, m_start, m_end);
}

std::shared_ptr<automation::Range> WriterRange::goTo(int what, int which, std::optional<int> count)
{
    if (!m_document->isAlive() || (what != automation::GoToPage && what != automation::GoToLine))
        return nullptr;
    Reference<text::XTextRange> target;
    if (what == automation::GoToPage) {
        WriterText::ViewMove move(*m_document, true);
        const WriterMarks::Page page = m_document->marks().pageNumber(
            m_document->controller(), which == automation::GoToLast ? -1 : std::max(1, count.value_or(1)));
        if (page.supported)
            return page.page > 0 ? fromPositions(m_document, page.first, page.first) : nullptr;
    }
    {
        WriterText::ViewMove move(*m_document);
        if (!move.cursor().is())
            return nullptr;
        target = office::guarded<Reference<text::XTextRange>>("going to a page or line", {}, [&] {
            const Reference<text::XTextViewCursor>& cursor = move.cursor();
            if (what == automation::GoToPage) {
                Reference<text::XPageCursor> pages(cursor, UNO_QUERY_THROW);
                if (which == automation::GoToLast || !pages->jumpToPage(sal_Int16(std::max(1, count.value_or(1)))))
                    pages->jumpToLastPage(); // a page past the end gives the last page
                pages->jumpToStartOfPage();
            } else {
                Reference<view::XLineCursor> lines(cursor, UNO_QUERY_THROW);
                if (which == automation::GoToLast) {
                    cursor->gotoEnd(false);
                } else {
                    cursor->gotoStart(false);
                    if (count.value_or(1) > 1)
                        Reference<view::XViewCursor>(cursor, UNO_QUERY_THROW)
                            ->goDown(sal_Int16(count.value_or(1) - 1), false);
                }
                lines->gotoStartOfLine(false);
            }
            return cursor->getStart();
        });
    }
    if (!target.is())
        return nullptr;
    return fromPositions(m_document, target, target);
}

std::shared_ptr<automation::Range> WriterRange::next(int unit, int count)
{
    if (!readOffsets() || count < 1)
        return nullptr;
    const QString text = m_document->text();
    if (unit == automation::UnitSentence) {
        // From the end of the sentence that holds the range's end.
        int position = m_end;
        if (auto current = create(m_document, position, position)) {
            current->expand(automation::UnitSentence);
            if (current->start() < position)
                position = std::max(position, current->end());
        }
        std::shared_ptr<WriterRange> sentence;
        for (int i = 0; i < count; ++i) {
            while (position < text.size() && (text.at(position) == '\n' || text.at(position).isSpace()))
                ++position;
            if (position >= text.size())
                return nullptr;
            sentence = create(m_document, position, position);
            if (!sentence)
                return nullptr;
            sentence->expand(automation::UnitSentence);
            if (sentence->end() <= position)
                return nullptr;
            position = sentence->end();
        }
        return sentence;
    }
    int position = m_end;
    for (int i = 1; i < count; ++i) {
        if (position >= text.size())
            return nullptr;
        position += characterLength(text, position);
    }
    if (position >= text.size())
        return nullptr;
    const int to = position + characterLength(text, position);
    return create(m_document, position, to);
}

std::shared_ptr<automation::Range> WriterRange::previous(int unit, int count)
{
    if (!readOffsets() || count < 1)
        return nullptr;
    const QString text = m_document->text();
    if (unit == automation::UnitSentence) {
        int position = m_start;
        std::shared_ptr<WriterRange> sentence;
        for (int i = 0; i < count; ++i) {
            if (position <= 0)
                return nullptr;
            sentence = create(m_document, position - 1, position - 1);
            if (!sentence)
                return nullptr;
            sentence->expand(automation::UnitSentence);
            position = sentence->start();
        }
        return sentence;
    }
    int position = m_start;
    for (int i = 1; i < count; ++i) {
        if (position <= 0)
            return nullptr;
        position -= characterLengthBefore(text, position);
    }
    if (position <= 0)
        return nullptr;
    const int from = position - characterLengthBefore(text, position);
    return create(m_document, from, position);
}

bool WriterRange::inRange(const std::shared_ptr<automation::Range>& other)
{
    auto outer = std::dynamic_pointer_cast<WriterRange>(other);
    if (!outer || outer->m_document != m_document || !readOffsets() || !outer->readOffsets())
        return false;
    return outer->m_start <= m_start && m_end <= outer->m_end;
}

bool WriterRange::sentenceBounds(int& start, int& end)
{
    if (!readOffsets() || !ensureCursor())
        return false;
    start = m_start;
    end = m_end;
    // Writer finds sentence bounds right in Chinese text with
    // gotoStartOfSentence/gotoEndOfSentence (gotoNextSentence is not used:
    // it lands two characters off).
    const bool startOk = office::guarded("finding a sentence", false, [&] {
        Reference<text::XSentenceCursor> cursor(m_startText->createTextCursorByRange(m_cursor->getStart()),
                                                UNO_QUERY_THROW);
        if (!cursor->isStartOfSentence())
            cursor->gotoStartOfSentence(false);
        start = m_document->offsetOf(m_startText, office::up<text::XTextRange>(cursor));
        return start >= 0;
    });
    const Reference<text::XText> endText = m_endCursor.is() ? m_endText : m_startText;
    const bool endOk = office::guarded("finding a sentence", false, [&] {
        const Reference<text::XTextRange> position = endPosition();
        Reference<text::XSentenceCursor> cursor(endText->createTextCursorByRange(position), UNO_QUERY_THROW);
        // A range ending where a sentence starts does not touch that sentence.
        if (!(m_end > m_start && cursor->isStartOfSentence()) && !cursor->isEndOfSentence())
            cursor->gotoEndOfSentence(false);
        end = m_document->offsetOf(endText, office::up<text::XTextRange>(cursor));
        return end >= 0;
    });
    return startOk && endOk && start <= end;
}

Reference<text::XTextRange> WriterRange::endPosition()
{
    if (m_endCursor.is())
        return m_endCursor->getEnd();
    return m_cursor->getEnd();
}

void WriterRange::expand(int unit)
{
    if (!readOffsets())
        return;
    if (unit == automation::UnitSentence) {
        int start = 0;
        int end = 0;
        if (sentenceBounds(start, end))
            assign(start, std::max(end, m_end));
        return;
    }
    if (unit == automation::UnitCharacter && m_start == m_end) {
        const QString text = m_document->text();
        if (m_end < text.size())
            assign(m_start, m_end + characterLength(text, m_end));
    }
}

std::optional<int> WriterRange::information(int type)
{
    if (type != automation::ActiveEndPageNumber || !m_document->isAlive())
        return std::nullopt;
    // The page of the range's last character (of the caret when empty).
    if (!readOffsets())
        return std::nullopt;
    if (m_end == m_start)
        return m_document->pageAt(m_end);
    return m_document->pageAt(m_end - characterLengthBefore(m_document->text(), m_end));
}

void WriterRange::select()
{
    if (!m_document->isAlive() || !ensureCursor())
        return;
    office::guarded("selecting a range", [&] {
        if (!m_endCursor.is()) {
            Reference<view::XSelectionSupplier> selection(m_document->controller(), UNO_QUERY_THROW);
            selection->select(uno::Any(Reference<text::XTextRange>(m_cursor, UNO_QUERY)));
            return;
        }
        // The view cannot select from one text into another (into a table):
        // the selection then covers the part in the first text.
        const Reference<text::XTextViewCursor> cursor = m_document->viewCursor();
        cursor->gotoRange(m_cursor->getStart(), false);
        try {
            cursor->gotoRange(m_endCursor->getEnd(), true);
        } catch (const uno::Exception&) {
            const auto parts = pieces();
            if (!parts.empty())
                cursor->gotoRange(parts.front()->getEnd(), true);
        }
    });
}

std::shared_ptr<automation::Find> WriterRange::find()
{
    if (!m_document->isAlive())
        return nullptr;
    return std::make_shared<WriterFind>(shared_from_this());
}
