#include "WriterParagraphs.h"
#include "WriterRange.h"
#include "WriterText.h"

WriterParagraphs::WriterParagraphs(std::shared_ptr<WriterText> document, int start, int end)
    : m_document(std::move(document))
{
    const QString text = m_document->text();
    int from = 0;
    while (from <= text.size()) {
        const int mark = text.indexOf('\n', from);
        const int to = mark < 0 ? int(text.size()) : mark + 1;
        // A paragraph belongs when the range overlaps it, or when the range is
        // empty and lies in it.
        const bool touches = start == end ? (start >= from && (start < to || mark < 0)) : (from < end && to > start);
        if (touches)
            m_bounds.emplace_back(from, to);
        if (mark < 0 || (start == end ? to > start : to >= end))
            break;
        from = to;
    }
}

int WriterParagraphs::count()
{
    return int(m_bounds.size());
}

std::shared_ptr<automation::Paragraph> WriterParagraphs::item(int index)
{
    if (index < 1 || index > count())
        return nullptr;
    const auto& [start, end] = m_bounds[size_t(index - 1)];
    return std::make_shared<WriterParagraph>(m_document, start, end);
}

WriterParagraph::WriterParagraph(std::shared_ptr<WriterText> document, int start, int end)
    : m_document(std::move(document))
    , m_start(start)
    , m_end(end)
{
}

std::shared_ptr<automation::Range> WriterParagraph::range()
{
    return WriterRange::create(m_document, m_start, m_end);
}
