#include "WriterWindow.h"
#include "AccessibleView.h"
#include "WriterRange.h"
#include "WriterText.h"

WriterWindow::WriterWindow(std::shared_ptr<WriterText> text, std::shared_ptr<AccessibleView> view)
    : m_text(std::move(text))
    , m_view(std::move(view))
{
}

bool WriterWindow::getPoint(int& left, int& top, int& width, int& height,
                            const std::shared_ptr<automation::Range>& range)
{
    auto writerRange = std::dynamic_pointer_cast<WriterRange>(range);
    if (!writerRange || writerRange->document() != m_text || !m_text->isAlive())
        return false;
    const int start = writerRange->start();
    const int end = writerRange->end();
    const QString text = m_text->text();
    if (start < 0 || start > text.size())
        return false;
    const int paragraphStart = start == 0 ? 0 : text.lastIndexOf('\n', start - 1) + 1;
    int paragraphEnd = text.indexOf('\n', start);
    if (paragraphEnd < 0)
        paragraphEnd = text.size();
    QRect rect = m_view->characterBounds(text.mid(paragraphStart, paragraphEnd - paragraphStart),
                                         start - paragraphStart, std::min(end, paragraphEnd) - paragraphStart);
    if (rect.isNull()) {
        const QRect view = m_view->documentBounds();
        if (view.isNull())
            return false;
        rect = QRect(view.left() + view.width() / 4, view.top() + view.height() / 8, view.width() / 2, 0);
    }
    left = rect.left();
    top = rect.top();
    width = rect.width();
    height = rect.height();
    return true;
}
