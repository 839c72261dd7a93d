#pragma once

#include "automation/Automation.h"

#include <memory>
#include <utility>
#include <vector>

class WriterText;

// The paragraphs a range touches, as the document's text divides them: each
// runs to its paragraph mark (included). Table cells count as paragraphs of
// their own, as they do in the text.
class WriterParagraphs : public automation::Paragraphs
{
public:
    WriterParagraphs(std::shared_ptr<WriterText> document, int start, int end);

    int count() override;
    std::shared_ptr<automation::Paragraph> item(int index) override;

private:
    std::shared_ptr<WriterText> m_document;
    std::vector<std::pair<int, int>> m_bounds;
};

class WriterParagraph : public automation::Paragraph
{
public:
    WriterParagraph(std::shared_ptr<WriterText> document, int start, int end);
    std::shared_ptr<automation::Range> range() override;

private:
    std::shared_ptr<WriterText> m_document;
    int m_start;
    int m_end;
};
