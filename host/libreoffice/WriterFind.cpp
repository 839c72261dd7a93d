#include "WriterFind.h"
#include "UnoSupport.h"
#include "WriterFont.h"
#include "WriterRange.h"
#include "WriterText.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/util/XPropertyReplace.hpp>
#include <com/sun/star/util/XReplaceDescriptor.hpp>
#include <com/sun/star/util/XReplaceable.hpp>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

WriterFind::WriterFind(std::shared_ptr<WriterRange> range)
    : m_range(std::move(range))
{
}

void WriterFind::clearFormatting()
{
    m_font.reset();
}

void WriterFind::setFont(const automation::Font& font)
{
    m_font = font;
}

void WriterFind::clearReplacementFormatting()
{
    m_replacement.reset();
}

void WriterFind::setReplacementFont(const automation::Font& font)
{
    m_replacement = font;
}

bool WriterFind::execute(bool /*forward*/, bool format, int replace)
{
    // Only the formatting search with empty texts is offered.
    if (!format || !m_font ||
        (m_font->underline == automation::Undefined && m_font->underlineColor == automation::Undefined))
        return false;
    const std::shared_ptr<WriterText>& document = m_range->document();
    if (!document->isAlive())
        return false;
    const bool replacing = replace == automation::ReplaceAll && m_replacement;
    const int start = m_range->start();
    const int end = m_range->end();
    const bool wholeDocument = start == 0 && end >= document->text().size();

    return office::guarded("find and replace", false, [&] {
        Reference<util::XReplaceable> replaceable(document->model(), UNO_QUERY_THROW);
        Reference<util::XReplaceDescriptor> descriptor = replaceable->createReplaceDescriptor();
        descriptor->setSearchString({});
        descriptor->setReplaceString({});
        Reference<util::XPropertyReplace> attributes(descriptor, UNO_QUERY_THROW);
        attributes->setValueSearch(true);
        Reference<util::XSearchDescriptor> search(descriptor, UNO_QUERY_THROW);
        attributes->setSearchAttributes(office::fontProperties(*m_font));

        if (replacing && wholeDocument) {
            attributes->setReplaceAttributes(office::fontProperties(*m_replacement));
            document->formattingChanged();
            return replaceable->replaceAll(search) > 0;
        }

        // Part of the document: take Writer's matches and keep what lies in
        // the range.
        Reference<container::XIndexAccess> found = replaceable->findAll(search);
        bool matched = false;
        const sal_Int32 count = found.is() ? found->getCount() : 0;
        for (sal_Int32 i = 0; i < count; ++i) {
            Reference<text::XTextRange> match(found->getByIndex(i), UNO_QUERY);
            if (!match.is())
                continue;
            const Reference<text::XText> text = match->getText();
            const int from = document->offsetOf(text, match->getStart());
            if (from < 0)
                continue;
            const int to = from + match->getString().getLength();
            const int low = std::max(from, start);
            const int high = std::min(to, end);
            if (low >= high)
                continue;
            matched = true;
            if (!replacing)
                break;
            if (auto part = WriterRange::create(document, low, high))
                part->setFont(*m_replacement);
        }
        return matched;
    });
}
