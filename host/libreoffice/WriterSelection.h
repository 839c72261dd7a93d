#pragma once

#include "automation/Automation.h"

#include <memory>

class WriterDocument;

// The selection (or caret) of a Writer document's view: the view cursor.
class WriterSelection : public automation::Selection
{
public:
    explicit WriterSelection(std::shared_ptr<WriterDocument> document);

    std::shared_ptr<automation::Range> range() override;
    std::optional<int> information(int type) override;
    std::shared_ptr<automation::Document> document() override;

private:
    std::shared_ptr<WriterDocument> m_document;
};
