#pragma once

#include "automation/Automation.h"

#include <memory>

class AccessibleView;
class WriterText;

// A Writer window: where a range is shown on screen.
class WriterWindow : public automation::Window
{
public:
    WriterWindow(std::shared_ptr<WriterText> text, std::shared_ptr<AccessibleView> view);

    // The range's characters as the accessibility tree places them. When the
    // range is not on screen (or the tree tells nothing), a line at the top
    // of the document's view, so that whatever is shown there stays inside
    // the window; false only when not even the window is known.
    bool getPoint(int& left, int& top, int& width, int& height,
                  const std::shared_ptr<automation::Range>& range) override;

private:
    std::shared_ptr<WriterText> m_text;
    std::shared_ptr<AccessibleView> m_view;
};
