#pragma once

#include "automation/Automation.h"

#include <com/sun/star/beans/XMultiPropertySet.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextCursor.hpp>

#include <memory>
#include <optional>

class WriterText;

// A range of a Writer document. It holds text cursors, which Writer moves
// along with edits, so the range stays on its characters. A range whose ends
// lie in the same text (the body, or one table cell) is one cursor; a range
// from one text into another (across a table) holds a cursor at each end.
class WriterRange : public automation::Range, public std::enable_shared_from_this<WriterRange>
{
public:
    // The range [start, end) by offsets; null when it cannot be reached.
    static std::shared_ptr<WriterRange> create(const std::shared_ptr<WriterText>& document, int start, int end);
    // The range between two UNO positions; null when they lie outside the
    // document's text (headers, frames).
    static std::shared_ptr<WriterRange> fromPositions(const std::shared_ptr<WriterText>& document,
                                                      const css::uno::Reference<css::text::XTextRange>& start,
                                                      const css::uno::Reference<css::text::XTextRange>& end);

    const std::shared_ptr<WriterText>& document() const { return m_document; }

    QString text() override;
    void setText(const QString& text) override;
    int start() override;
    int end() override;
    void setEnd(int end) override;
    void setRange(int start, int end) override;
    std::optional<automation::Font> font() override;
    void setFont(const automation::Font& font) override;
    // The marks are the document's WriterMarks, not formatting.
    bool isMarked() override;
    void setMarked(bool marked) override;
    std::shared_ptr<automation::Paragraphs> paragraphs() override;
    std::shared_ptr<automation::Range> goTo(int what, int which, std::optional<int> count = std::nullopt) override;
    std::shared_ptr<automation::Range> next(int unit = automation::UnitCharacter, int count = 1) override;
    std::shared_ptr<automation::Range> previous(int unit = automation::UnitCharacter, int count = 1) override;
    bool inRange(const std::shared_ptr<automation::Range>& other) override;
    void expand(int unit) override;
    std::optional<int> information(int type) override;
    void select() override;
    std::shared_ptr<automation::Find> find() override;

    // The cursors covering the range, one per text it crosses.
    std::vector<css::uno::Reference<css::text::XTextRange>> pieces();
    // Gives a range made from offsets its cursor now, while the offsets
    // hold (see WriterText::deferCursor).
    void settle() { ensureCursor(); }

private:
    // The property interfaces of the range's pieces (of the document's walker
    // when it spans the range).
    std::vector<css::uno::Reference<css::beans::XMultiPropertySet>> properties();
    explicit WriterRange(std::shared_ptr<WriterText> document);
    bool assign(int start, int end);
    // The cursor of a range made from offsets, made when first needed; false
    // when it cannot be had (the text changed before it was needed).
    bool ensureCursor();
    bool fresh() const;
    bool readOffsets();
    css::uno::Reference<css::text::XTextRange> endPosition();
    // The sentence bounds around [start, end) as offsets.
    bool sentenceBounds(int& start, int& end);

    std::shared_ptr<WriterText> m_document;
    css::uno::Reference<css::text::XText> m_startText;
    // Spans the range when both ends lie in m_startText; else collapsed at
    // the start, with m_endCursor collapsed at the end in m_endText. Null
    // while the range waits for it (m_deferred).
    css::uno::Reference<css::text::XTextCursor> m_cursor;
    css::uno::Reference<css::text::XText> m_endText;
    css::uno::Reference<css::text::XTextCursor> m_endCursor;
    // The range ends on the separator after its text (a paragraph's range that
    // holds its paragraph mark): one more than the cursor's end.
    bool m_endsPastText = false;
    bool m_deferred = false;
    // The formatting this range last read or wrote, when uniform.
    std::optional<automation::Font> m_known;
    int m_start = -1;
    int m_end = -1;
    quint64 m_generation = 0;
};
