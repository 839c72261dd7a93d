#pragma once

#include "automation/Automation.h"

#include <memory>
#include <optional>

class WriterRange;

// Formatting find-and-replace over a range. Over the whole document a
// replacement is one replaceAll with attribute search (one call, one undo
// step); over part of it, the matches Writer finds are narrowed to the range.
class WriterFind : public automation::Find
{
public:
    explicit WriterFind(std::shared_ptr<WriterRange> range);

    void clearFormatting() override;
    void setFont(const automation::Font& font) override;
    void clearReplacementFormatting() override;
    void setReplacementFont(const automation::Font& font) override;
    bool execute(bool forward, bool format, int replace) override;

private:
    std::shared_ptr<WriterRange> m_range;
    std::optional<automation::Font> m_font;
    std::optional<automation::Font> m_replacement;
};
