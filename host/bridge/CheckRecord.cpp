#include "bridge/CheckRecord.h"

using automation::Font;
using automation::MarkStyle;

MarkEntry::MarkEntry(std::shared_ptr<automation::Document> document, std::shared_ptr<automation::Range> range,
                     std::shared_ptr<CCheckData> finding, MarkStyle style)
    : m_document(std::move(document))
    , m_range(std::move(range))
    , m_finding(std::move(finding))
    , m_style(style)
{
}

Font MarkEntry::savedAt(int i) const
{
    if (m_saved.empty())
        return automation::PlainFont;
    if (m_saved.size() == 1)
        return m_saved.front();
    return m_saved[static_cast<size_t>(qBound(0, i, static_cast<int>(m_saved.size()) - 1))];
}

void restoreMarks(const std::vector<std::shared_ptr<MarkEntry>>& entries)
{
    for (const std::shared_ptr<MarkEntry>& entry : entries)
        entry->release();
    for (const std::shared_ptr<MarkEntry>& entry : entries)
        entry->restore();
}

void MarkEntry::restore()
{
    m_released = true;
    if (!m_range)
        return;

    // Characters that an entry still in place covers keep their mark; that
    // entry restores them when it goes.
    std::vector<std::shared_ptr<MarkEntry>> living;
    for (const std::weak_ptr<MarkEntry>& weak : m_overlaps) {
        std::shared_ptr<MarkEntry> other = weak.lock();
        if (other && !other->m_released)
            living.push_back(std::move(other));
    }

    const bool overlay = m_style == MarkStyle::Overlay;
    if (living.empty() && (overlay || m_saved.size() <= 1)) {
        if (overlay)
            m_range->setMarked(false);
        else
            m_range->setFont(savedAt(0));
        return;
    }

    const int start = m_range->start();
    const int end = m_range->end();
    const int length = end - start;
    if (length <= 0 || !m_document)
        return;

    auto covered = [&](int i) {
        const int at = m_markedStart + i;
        for (const std::shared_ptr<MarkEntry>& other : living) {
            if (at >= other->m_markedStart && at < other->m_markedEnd)
                return true;
        }
        return false;
    };

    // Restore runs of uncovered characters with the same saved formatting, one
    // call per run.
    int i = 0;
    while (i < length) {
        if (covered(i)) {
            ++i;
            continue;
        }
        const Font font = savedAt(i);
        int j = i + 1;
        while (j < length && !covered(j) && (overlay || savedAt(j) == font))
            ++j;
        if (std::shared_ptr<automation::Range> run = m_document->range(start + i, start + j)) {
            if (overlay)
                run->setMarked(false);
            else
                run->setFont(font);
        }
        i = j;
    }
}
