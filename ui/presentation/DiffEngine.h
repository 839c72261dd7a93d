#pragma once

#include "ScholiaGlobal.h"

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <vector>

// Character difference of two texts: Myers' O(ND) algorithm (bisection by the
// middle snake) with the usual speed-ups — common prefix and suffix removal,
// containment and single-unit shortcuts, half-match splitting and a line mode
// for long texts — followed by a merge of the runs.
//
// Texts are sequences of UTF-16 code units, as QString holds them; a character
// outside the Basic Multilingual Plane counts as two units and a run boundary
// may fall between them.

// What a run is: only in the first text, only in the second, or in both.
// (Prefixed: DELETE is a macro in the Windows headers.)
enum DiffOperation { DIFF_DELETE = 0, DIFF_INSERT = 1, DIFF_EQUAL = 2 };

// One run of the result.
struct Diff
{
    DiffOperation operation;
    std::u16string text;

    bool operator==(const Diff& other) const { return operation == other.operation && text == other.text; }
    bool operator!=(const Diff& other) const { return !(*this == other); }
};

// The runs in text order: EQUAL and DELETE runs read in order give the first
// text, EQUAL and INSERT runs the second.
using DiffList = std::list<Diff>;

class SCHOLIA_EXPORT DiffEngine
{
public:
    // Seconds a difference may take before the bisection gives up and reports the
    // remaining middle as one DELETE and one INSERT run. 0 or less: no limit.
    double diffTimeout = 1.0;

    // The runs that turn text1 into text2. checklines allows the faster, less
    // exact line-level pass when both texts are longer than 100 units.
    DiffList diff_main(const std::u16string& text1, const std::u16string& text2, bool checklines = true) const;

    // Building blocks, public for their own tests.
    using Runs = std::vector<Diff>;
    static int diff_commonPrefix(const std::u16string& text1, const std::u16string& text2);
    static int diff_commonSuffix(const std::u16string& text1, const std::u16string& text2);
    // Length of the longest suffix of text1 that is a prefix of text2.
    static int diff_commonOverlap(const std::u16string& text1, const std::u16string& text2);
    static void diff_cleanupMerge(Runs& diffs);
    static void diff_cleanupSemantic(Runs& diffs);
    static void diff_cleanupSemanticLossless(Runs& diffs);
    static int diff_cleanupSemanticScore(const std::u16string& one, const std::u16string& two);

    // Result of a half match: text1's halves, text2's halves, the common middle.
    struct HalfMatch
    {
        std::u16string text1A, text1B, text2A, text2B, common;
    };
    std::optional<HalfMatch> diff_halfMatch(const std::u16string& text1, const std::u16string& text2) const;

    // Line mode helpers: each distinct line becomes one unit (numbers from 1).
    struct LinesToChars
    {
        std::u16string chars1, chars2;
        std::vector<std::u16string> lines; // lines[0] is unused
    };
    static LinesToChars diff_linesToChars(const std::u16string& text1, const std::u16string& text2);
    static void diff_charsToLines(Runs& diffs, const std::vector<std::u16string>& lines);

private:
    using Deadline = std::int64_t; // milliseconds on a monotonic clock

    void diff_main(const std::u16string& text1, const std::u16string& text2, bool checklines, Deadline deadline,
                   Runs& out) const;
    void diff_compute(const std::u16string& text1, const std::u16string& text2, bool checklines, Deadline deadline,
                      Runs& out) const;
    void diff_lineMode(const std::u16string& text1, const std::u16string& text2, Deadline deadline, Runs& out) const;
    void diff_bisect(const std::u16string& text1, const std::u16string& text2, Deadline deadline, Runs& out) const;
    void diff_bisectSplit(const std::u16string& text1, const std::u16string& text2, int x, int y, Deadline deadline,
                          Runs& out) const;
    static std::optional<HalfMatch> diff_halfMatchI(const std::u16string& longText, const std::u16string& shortText,
                                                    int i);
    static Deadline now();
};
