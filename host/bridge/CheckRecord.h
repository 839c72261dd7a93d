#pragma once

#include "automation/Automation.h"
#include "utility/CheckData.h"

#include <memory>
#include <vector>

// One marked occurrence of a finding in the document.
//
// For an editor whose marks are formatting, the entry remembers the underline
// and colour its characters had before any mark of this check, and restore()
// writes them back. For an editor that draws marks itself, restore() only
// takes the mark off.
//
// Occurrences of different findings may share characters ("以经" and "经常"
// in "以经常"). Such entries know each other: a character stays marked while
// any entry covering it is still in place, and the entry restored last
// restores it, in whatever order they go.
class MarkEntry
{
public:
    MarkEntry(std::shared_ptr<automation::Document> document, std::shared_ptr<automation::Range> range,
              std::shared_ptr<CCheckData> finding, automation::MarkStyle style);

    MarkEntry(const MarkEntry&) = delete;
    MarkEntry& operator=(const MarkEntry&) = delete;

    const std::shared_ptr<automation::Range>& range() const { return m_range; }
    const std::shared_ptr<CCheckData>& finding() const { return m_finding; }

    // The formatting to restore: one font for every character, or one per
    // character (as many as the occurrence is long).
    void setSaved(std::vector<automation::Font> saved) { m_saved = std::move(saved); }
    const std::vector<automation::Font>& saved() const { return m_saved; }
    // Where the occurrence stood when it was marked, in the positions of that
    // moment; entries marked together compare these to know which characters
    // they share.
    void setMarkedAt(int start, int end)
    {
        m_markedStart = start;
        m_markedEnd = end;
    }
    int markedStart() const { return m_markedStart; }
    int markedEnd() const { return m_markedEnd; }
    void addOverlap(const std::shared_ptr<MarkEntry>& other) { m_overlaps.push_back(other); }

    // The saved formatting of the character at offset i of the occurrence.
    automation::Font savedAt(int i) const;

    // Takes this entry out of the document: restores (or unmarks) the
    // characters that no entry still in place covers. Call once, before the
    // entry is dropped; entries going together are all released first.
    void release() { m_released = true; }
    void restore();

private:
    std::shared_ptr<automation::Document> m_document;
    std::shared_ptr<automation::Range> m_range;
    std::shared_ptr<CCheckData> m_finding;
    automation::MarkStyle m_style;
    std::vector<automation::Font> m_saved;
    int m_markedStart = 0;
    int m_markedEnd = 0;
    bool m_released = false;
    std::vector<std::weak_ptr<MarkEntry>> m_overlaps;
};

// Takes entries out of the document together (see MarkEntry::restore).
void restoreMarks(const std::vector<std::shared_ptr<MarkEntry>>& entries);

// The findings of one check of a document and the marks set for them on the
// marked page. The marks are always those of one marking pass.
struct CheckRecord
{
    CHECK_DATAS findings;
    // Where each finding's wrong text started in the document when it was
    // checked (-1: unknown); parallel to findings.
    std::vector<int> positions;
    std::vector<std::shared_ptr<MarkEntry>> marks;
};
