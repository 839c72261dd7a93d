#include "WriterSelection.h"
#include "UnoSupport.h"
#include "WriterDocument.h"
#include "WriterRange.h"
#include "WriterText.h"

#include <com/sun/star/text/XPageCursor.hpp>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

WriterSelection::WriterSelection(std::shared_ptr<WriterDocument> document)
    : m_document(std::move(document))
{
}

std::shared_ptr<automation::Range> WriterSelection::range()
{
    const std::shared_ptr<WriterText>& text = m_document->writerText();
    const Reference<text::XTextViewCursor> cursor = text->viewCursor();
    if (!cursor.is())
        return nullptr;
    return office::guarded<std::shared_ptr<automation::Range>>("reading the selection", nullptr, [&] {
        return WriterRange::fromPositions(text, cursor->getStart(), cursor->getEnd());
    });
}

std::optional<int> WriterSelection::information(int type)
{
    if (type != automation::ActiveEndPageNumber)
        return std::nullopt;
    const Reference<text::XTextViewCursor> cursor = m_document->writerText()->viewCursor();
    if (!cursor.is())
        return std::nullopt;
    return office::guarded<std::optional<int>>("reading the page number", std::nullopt, [&] {
        const int page = Reference<text::XPageCursor>(cursor, UNO_QUERY_THROW)->getPage();
        return page > 0 ? std::optional<int>(page) : std::nullopt;
    });
}

std::shared_ptr<automation::Document> WriterSelection::document()
{
    return m_document;
}
