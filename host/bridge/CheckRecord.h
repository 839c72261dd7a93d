#pragma once

#include "automation/Automation.h"
#include "utility/CheckData.h"

#include <memory>
#include <vector>

// One marked occurrence of a finding in the document. The entry remembers the
// underline and colour its characters had before any mark of this check, and
// puts them back when the last reference to it goes: removing an entry from a
// record's marks, or dropping the record, removes its mark from the document.
//
// Occurrences of different findings may share characters (two findings of the
// same text, or "以经" and "经常" in "以经常"). Such entries know each other:
// a character stays marked while any entry covering it lives, and the entry
// that goes last restores it, in whatever order they go.
class MarkEntry
{
public:
    MarkEntry(std::shared_ptr<automation::Document> document, std::shared_ptr<automation::Range> range,
              std::shared_ptr<CCheckData> finding);
    ~MarkEntry();

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

private:
    void restore();

    std::shared_ptr<automation::Document> m_document;
    std::shared_ptr<automation::Range> m_range;
    std::shared_ptr<CCheckData> m_finding;
    std::vector<automation::Font> m_saved;
    int m_markedStart = 0;
    int m_markedEnd = 0;
    std::vector<std::weak_ptr<MarkEntry>> m_overlaps;
};

// The findings of one check of a document and the marks set for them on the
// marked page. The marks are always those of one marking pass.
struct CheckRecord
{
    CHECK_DATAS findings;
    std::vector<std::shared_ptr<MarkEntry>> marks;
};
