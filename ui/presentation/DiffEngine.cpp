#include "presentation/DiffEngine.h"

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <limits>
#include <unordered_map>

namespace {

using Text = std::u16string;

bool startsWith(const Text& text, const Text& prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const Text& text, const Text& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int length(const Text& text)
{
    return static_cast<int>(text.size());
}

bool isAlnum(char16_t c)
{
    return std::iswalnum(static_cast<wint_t>(c)) != 0;
}

bool isSpace(char16_t c)
{
    return std::iswspace(static_cast<wint_t>(c)) != 0;
}

bool isLineBreak(char16_t c)
{
    return c == u'\n' || c == u'\r';
}

// "\n\n" or "\n\r\n" at the end of text.
bool endsWithBlankLine(const Text& text)
{
    return endsWith(text, u"\n\n") || endsWith(text, u"\n\r\n");
}

// A blank line at the start of text: "\n\n", "\r\n\n", "\n\r\n" or "\r\n\r\n".
bool startsWithBlankLine(const Text& text)
{
    size_t i = 0;
    if (i < text.size() && text[i] == u'\r')
        ++i;
    if (i >= text.size() || text[i] != u'\n')
        return false;
    ++i;
    if (i < text.size() && text[i] == u'\r')
        ++i;
    return i < text.size() && text[i] == u'\n';
}

} // namespace

DiffEngine::Deadline DiffEngine::now()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

DiffList DiffEngine::diff_main(const Text& text1, const Text& text2, bool checklines) const
{
    Deadline deadline = std::numeric_limits<Deadline>::max();
    if (diffTimeout > 0)
        deadline = now() + static_cast<Deadline>(diffTimeout * 1000);
    Runs runs;
    diff_main(text1, text2, checklines, deadline, runs);
    return DiffList(runs.begin(), runs.end());
}

void DiffEngine::diff_main(const Text& text1, const Text& text2, bool checklines, Deadline deadline, Runs& out) const
{
    out.clear();
    if (text1 == text2) {
        if (!text1.empty())
            out.push_back({DIFF_EQUAL, text1});
        return;
    }

    const int prefixLength = diff_commonPrefix(text1, text2);
    const Text prefix = text1.substr(0, prefixLength);
    Text middle1 = text1.substr(prefixLength);
    Text middle2 = text2.substr(prefixLength);

    const int suffixLength = diff_commonSuffix(middle1, middle2);
    const Text suffix = middle1.substr(middle1.size() - suffixLength);
    middle1.resize(middle1.size() - suffixLength);
    middle2.resize(middle2.size() - suffixLength);

    diff_compute(middle1, middle2, checklines, deadline, out);

    if (!prefix.empty())
        out.insert(out.begin(), {DIFF_EQUAL, prefix});
    if (!suffix.empty())
        out.push_back({DIFF_EQUAL, suffix});
    diff_cleanupMerge(out);
}

void DiffEngine::diff_compute(const Text& text1, const Text& text2, bool checklines, Deadline deadline, Runs& out) const
{
    out.clear();
    if (text1.empty()) {
        out.push_back({DIFF_INSERT, text2});
        return;
    }
    if (text2.empty()) {
        out.push_back({DIFF_DELETE, text1});
        return;
    }

    const bool firstIsLonger = text1.size() > text2.size();
    const Text& longText = firstIsLonger ? text1 : text2;
    const Text& shortText = firstIsLonger ? text2 : text1;
    const size_t at = longText.find(shortText);
    if (at != Text::npos) {
        // The shorter text sits inside the longer one.
        const DiffOperation op = firstIsLonger ? DIFF_DELETE : DIFF_INSERT;
        const Text before = longText.substr(0, at);
        const Text after = longText.substr(at + shortText.size());
        if (!before.empty())
            out.push_back({op, before});
        out.push_back({DIFF_EQUAL, shortText});
        if (!after.empty())
            out.push_back({op, after});
        return;
    }

    if (shortText.size() == 1) {
        // One unit that does not occur in the other text: nothing is shared.
        out.push_back({DIFF_DELETE, text1});
        out.push_back({DIFF_INSERT, text2});
        return;
    }

    if (const std::optional<HalfMatch> half = diff_halfMatch(text1, text2)) {
        Runs first;
        Runs second;
        diff_main(half->text1A, half->text2A, checklines, deadline, first);
        diff_main(half->text1B, half->text2B, checklines, deadline, second);
        out = std::move(first);
        out.push_back({DIFF_EQUAL, half->common});
        out.insert(out.end(), second.begin(), second.end());
        return;
    }

    if (checklines && text1.size() > 100 && text2.size() > 100) {
        diff_lineMode(text1, text2, deadline, out);
        return;
    }

    diff_bisect(text1, text2, deadline, out);
}

void DiffEngine::diff_lineMode(const Text& text1, const Text& text2, Deadline deadline, Runs& out) const
{
    const LinesToChars encoded = diff_linesToChars(text1, text2);
    diff_main(encoded.chars1, encoded.chars2, false, deadline, out);
    diff_charsToLines(out, encoded.lines);
    diff_cleanupSemantic(out);

    // Diff every replacement (deletions next to insertions) again, unit by unit.
    out.push_back({DIFF_EQUAL, Text()});
    int countDelete = 0;
    int countInsert = 0;
    Text textDelete;
    Text textInsert;
    for (size_t pointer = 0; pointer < out.size(); ++pointer) {
        switch (out[pointer].operation) {
        case DIFF_INSERT:
            ++countInsert;
            textInsert += out[pointer].text;
            break;
        case DIFF_DELETE:
            ++countDelete;
            textDelete += out[pointer].text;
            break;
        case DIFF_EQUAL:
            if (countDelete >= 1 && countInsert >= 1) {
                const size_t first = pointer - countDelete - countInsert;
                out.erase(out.begin() + first, out.begin() + pointer);
                Runs sub;
                diff_main(textDelete, textInsert, false, deadline, sub);
                out.insert(out.begin() + first, sub.begin(), sub.end());
                pointer = first + sub.size();
            }
            countDelete = 0;
            countInsert = 0;
            textDelete.clear();
            textInsert.clear();
            break;
        }
    }
    out.pop_back();
}

void DiffEngine::diff_bisect(const Text& text1, const Text& text2, Deadline deadline, Runs& out) const
{
    const int length1 = length(text1);
    const int length2 = length(text2);
    const int maxD = (length1 + length2 + 1) / 2;
    const int vOffset = maxD;
    const int vLength = 2 * maxD;
    std::vector<int> v1(vLength, -1);
    std::vector<int> v2(vLength, -1);
    v1[vOffset + 1] = 0;
    v2[vOffset + 1] = 0;
    const int delta = length1 - length2;
    // With an odd delta the forward path meets the reverse one; with an even
    // delta the reverse path meets the forward one.
    const bool front = (delta % 2 != 0);
    int k1start = 0;
    int k1end = 0;
    int k2start = 0;
    int k2end = 0;

    for (int d = 0; d < maxD; ++d) {
        if (now() > deadline)
            break;

        // Forward front.
        for (int k1 = -d + k1start; k1 <= d - k1end; k1 += 2) {
            const int k1Offset = vOffset + k1;
            int x1;
            if (k1 == -d || (k1 != d && v1[k1Offset - 1] < v1[k1Offset + 1]))
                x1 = v1[k1Offset + 1];
            else
                x1 = v1[k1Offset - 1] + 1;
            int y1 = x1 - k1;
            while (x1 < length1 && y1 < length2 && text1[x1] == text2[y1]) {
                ++x1;
                ++y1;
            }
            v1[k1Offset] = x1;
            if (x1 > length1) {
                k1end += 2; // ran off the right edge
            } else if (y1 > length2) {
                k1start += 2; // ran off the bottom
            } else if (front) {
                const int k2Offset = vOffset + delta - k1;
                if (k2Offset >= 0 && k2Offset < vLength && v2[k2Offset] != -1) {
                    const int x2 = length1 - v2[k2Offset];
                    if (x1 >= x2) {
                        diff_bisectSplit(text1, text2, x1, y1, deadline, out);
                        return;
                    }
                }
            }
        }

        // Reverse front.
        for (int k2 = -d + k2start; k2 <= d - k2end; k2 += 2) {
            const int k2Offset = vOffset + k2;
            int x2;
            if (k2 == -d || (k2 != d && v2[k2Offset - 1] < v2[k2Offset + 1]))
                x2 = v2[k2Offset + 1];
            else
                x2 = v2[k2Offset - 1] + 1;
            int y2 = x2 - k2;
            while (x2 < length1 && y2 < length2 && text1[length1 - x2 - 1] == text2[length2 - y2 - 1]) {
                ++x2;
                ++y2;
            }
            v2[k2Offset] = x2;
            if (x2 > length1) {
                k2end += 2;
            } else if (y2 > length2) {
                k2start += 2;
            } else if (!front) {
                const int k1Offset = vOffset + delta - k2;
                if (k1Offset >= 0 && k1Offset < vLength && v1[k1Offset] != -1) {
                    const int x1 = v1[k1Offset];
                    const int y1 = vOffset + x1 - k1Offset;
                    if (x1 >= length1 - x2) {
                        diff_bisectSplit(text1, text2, x1, y1, deadline, out);
                        return;
                    }
                }
            }
        }
    }

    // Out of time, or no common unit at all.
    out.clear();
    out.push_back({DIFF_DELETE, text1});
    out.push_back({DIFF_INSERT, text2});
}

void DiffEngine::diff_bisectSplit(const Text& text1, const Text& text2, int x, int y, Deadline deadline,
                                  Runs& out) const
{
    Runs second;
    diff_main(text1.substr(0, x), text2.substr(0, y), false, deadline, out);
    diff_main(text1.substr(x), text2.substr(y), false, deadline, second);
    out.insert(out.end(), second.begin(), second.end());
}

std::optional<DiffEngine::HalfMatch> DiffEngine::diff_halfMatch(const Text& text1, const Text& text2) const
{
    if (diffTimeout <= 0)
        return std::nullopt; // without a time limit the minimal diff is wanted
    const bool firstIsLonger = text1.size() > text2.size();
    const Text& longText = firstIsLonger ? text1 : text2;
    const Text& shortText = firstIsLonger ? text2 : text1;
    const int longLength = length(longText);
    if (longLength < 4 || length(shortText) * 2 < longLength)
        return std::nullopt;

    // Seeds at the second and at the third quarter of the longer text.
    const std::optional<HalfMatch> hm1 = diff_halfMatchI(longText, shortText, (longLength + 3) / 4);
    const std::optional<HalfMatch> hm2 = diff_halfMatchI(longText, shortText, (longLength + 1) / 2);
    std::optional<HalfMatch> hm;
    if (!hm1 && !hm2)
        return std::nullopt;
    if (!hm2)
        hm = hm1;
    else if (!hm1)
        hm = hm2;
    else
        hm = hm1->common.size() > hm2->common.size() ? hm1 : hm2;

    // diff_halfMatchI answers for (longer, shorter): give the halves back to
    // the texts they came from.
    if (firstIsLonger)
        return hm;
    return HalfMatch{hm->text2A, hm->text2B, hm->text1A, hm->text1B, hm->common};
}

std::optional<DiffEngine::HalfMatch> DiffEngine::diff_halfMatchI(const Text& longText, const Text& shortText, int i)
{
    const Text seed = longText.substr(i, longText.size() / 4);
    Text bestCommon;
    HalfMatch best;
    for (size_t j = shortText.find(seed); j != Text::npos; j = shortText.find(seed, j + 1)) {
        const int prefixLength = diff_commonPrefix(longText.substr(i), shortText.substr(j));
        const int suffixLength = diff_commonSuffix(longText.substr(0, i), shortText.substr(0, j));
        if (length(bestCommon) < suffixLength + prefixLength) {
            bestCommon = shortText.substr(j - suffixLength, suffixLength) + shortText.substr(j, prefixLength);
            best.text1A = longText.substr(0, i - suffixLength);
            best.text1B = longText.substr(i + prefixLength);
            best.text2A = shortText.substr(0, j - suffixLength);
            best.text2B = shortText.substr(j + prefixLength);
        }
    }
    if (bestCommon.size() * 2 < longText.size())
        return std::nullopt;
    best.common = bestCommon;
    return best;
}

int DiffEngine::diff_commonPrefix(const Text& text1, const Text& text2)
{
    const size_t n = std::min(text1.size(), text2.size());
    size_t i = 0;
    while (i < n && text1[i] == text2[i])
        ++i;
    return static_cast<int>(i);
}

int DiffEngine::diff_commonSuffix(const Text& text1, const Text& text2)
{
    const size_t length1 = text1.size();
    const size_t length2 = text2.size();
    const size_t n = std::min(length1, length2);
    size_t i = 0;
    while (i < n && text1[length1 - 1 - i] == text2[length2 - 1 - i])
        ++i;
    return static_cast<int>(i);
}

int DiffEngine::diff_commonOverlap(const Text& text1, const Text& text2)
{
    const int length1 = length(text1);
    const int length2 = length(text2);
    if (length1 == 0 || length2 == 0)
        return 0;
    // Only the last min(length) units of text1 and the first of text2 can overlap.
    const Text tail = length1 > length2 ? text1.substr(length1 - length2) : text1;
    const Text head = length1 < length2 ? text2.substr(0, length1) : text2;
    const int textLength = std::min(length1, length2);
    if (tail == head)
        return textLength;

    // Grow a candidate overlap from one unit, jumping to the next place where
    // the tail's end occurs in the head.
    int best = 0;
    int n = 1;
    while (n <= textLength) {
        const Text pattern = tail.substr(textLength - n);
        const size_t found = head.find(pattern);
        if (found == Text::npos)
            return best;
        n += static_cast<int>(found);
        if (n > textLength)
            return best;
        if (found == 0 || tail.compare(textLength - n, n, head, 0, n) == 0) {
            best = n;
            ++n;
        }
    }
    return best;
}

void DiffEngine::diff_cleanupMerge(Runs& diffs)
{
    diffs.push_back({DIFF_EQUAL, Text()}); // sentinel that closes the last collection
    size_t pointer = 0;
    int countDelete = 0;
    int countInsert = 0;
    Text textDelete;
    Text textInsert;
    while (pointer < diffs.size()) {
        switch (diffs[pointer].operation) {
        case DIFF_INSERT:
            ++countInsert;
            textInsert += diffs[pointer].text;
            ++pointer;
            break;
        case DIFF_DELETE:
            ++countDelete;
            textDelete += diffs[pointer].text;
            ++pointer;
            break;
        case DIFF_EQUAL:
            if (countDelete + countInsert > 1) {
                if (countDelete != 0 && countInsert != 0) {
                    // Move what the two edits share at their start into the
                    // equality before them...
                    int common = diff_commonPrefix(textInsert, textDelete);
                    if (common != 0) {
                        const size_t first = pointer - countDelete - countInsert;
                        if (first > 0) {
                            Diff& previous = diffs[first - 1];
                            if (previous.operation == DIFF_EQUAL) {
                                previous.text += textInsert.substr(0, common);
                            } else {
                                // "Previous diff should have been an equality." The walk
                                // above makes this impossible; keep the runs whole anyway.
                                Q_ASSERT_X(false, "diff_cleanupMerge", "Previous diff should have been an equality.");
                                diffs.insert(diffs.begin() + first, {DIFF_EQUAL, textInsert.substr(0, common)});
                                ++pointer;
                            }
                        } else {
                            diffs.insert(diffs.begin(), {DIFF_EQUAL, textInsert.substr(0, common)});
                            ++pointer;
                        }
                        textInsert.erase(0, common);
                        textDelete.erase(0, common);
                    }
                    // ...and what they share at their end into this equality.
                    common = diff_commonSuffix(textInsert, textDelete);
                    if (common != 0) {
                        diffs[pointer].text = textInsert.substr(textInsert.size() - common) + diffs[pointer].text;
                        textInsert.resize(textInsert.size() - common);
                        textDelete.resize(textDelete.size() - common);
                    }
                }
                // One DELETE and one INSERT run in place of the collection.
                pointer -= countDelete + countInsert;
                diffs.erase(diffs.begin() + pointer, diffs.begin() + pointer + countDelete + countInsert);
                if (!textDelete.empty()) {
                    diffs.insert(diffs.begin() + pointer, {DIFF_DELETE, textDelete});
                    ++pointer;
                }
                if (!textInsert.empty()) {
                    diffs.insert(diffs.begin() + pointer, {DIFF_INSERT, textInsert});
                    ++pointer;
                }
                ++pointer;
            } else if (pointer != 0 && diffs[pointer - 1].operation == DIFF_EQUAL) {
                diffs[pointer - 1].text += diffs[pointer].text;
                diffs.erase(diffs.begin() + pointer);
            } else {
                ++pointer;
            }
            countDelete = 0;
            countInsert = 0;
            textDelete.clear();
            textInsert.clear();
            break;
        }
    }
    if (!diffs.empty() && diffs.back().operation == DIFF_EQUAL && diffs.back().text.empty())
        diffs.pop_back();

    // Second pass: slide single edits surrounded by equalities to remove one of
    // the equalities, e.g. A<ins>BA</ins>C becomes <ins>AB</ins>AC.
    bool changes = false;
    pointer = 1;
    while (pointer + 1 < diffs.size()) {
        Diff& previous = diffs[pointer - 1];
        Diff& current = diffs[pointer];
        Diff& next = diffs[pointer + 1];
        if (previous.operation == DIFF_EQUAL && next.operation == DIFF_EQUAL) {
            if (endsWith(current.text, previous.text)) {
                current.text = previous.text + current.text.substr(0, current.text.size() - previous.text.size());
                next.text = previous.text + next.text;
                diffs.erase(diffs.begin() + (pointer - 1));
                changes = true;
            } else if (startsWith(current.text, next.text)) {
                previous.text += next.text;
                current.text = current.text.substr(next.text.size()) + next.text;
                diffs.erase(diffs.begin() + (pointer + 1));
                changes = true;
            }
        }
        ++pointer;
    }
    if (changes)
        diff_cleanupMerge(diffs);
}

void DiffEngine::diff_cleanupSemantic(Runs& diffs)
{
    bool changes = false;
    std::vector<int> equalities; // positions of the equalities seen
    std::optional<Text> lastEquality;
    int pointer = 0;
    // Lengths of the edits before and after the last equality.
    int insertions1 = 0;
    int deletions1 = 0;
    int insertions2 = 0;
    int deletions2 = 0;
    while (pointer < static_cast<int>(diffs.size())) {
        const Diff& current = diffs[pointer];
        if (current.operation == DIFF_EQUAL) {
            equalities.push_back(pointer);
            insertions1 = insertions2;
            deletions1 = deletions2;
            insertions2 = 0;
            deletions2 = 0;
            lastEquality = current.text;
        } else {
            if (current.operation == DIFF_INSERT)
                insertions2 += length(current.text);
            else
                deletions2 += length(current.text);
            // An equality no longer than the edits on both sides of it is
            // turned into a deletion and an insertion.
            if (lastEquality && !lastEquality->empty() && length(*lastEquality) <= std::max(insertions1, deletions1) &&
                length(*lastEquality) <= std::max(insertions2, deletions2)) {
                const int at = equalities.back();
                diffs.insert(diffs.begin() + at, {DIFF_DELETE, *lastEquality});
                diffs[at + 1].operation = DIFF_INSERT;
                equalities.pop_back(); // the equality just turned into edits
                if (!equalities.empty())
                    equalities.pop_back(); // the one before it is looked at again
                pointer = equalities.empty() ? -1 : equalities.back();
                insertions1 = deletions1 = insertions2 = deletions2 = 0;
                lastEquality.reset();
                changes = true;
            }
        }
        ++pointer;
    }

    if (changes)
        diff_cleanupMerge(diffs);
    diff_cleanupSemanticLossless(diffs);

    // Overlaps between a deletion and the insertion after it become equalities
    // when they are at least half as long as one of the two edits.
    size_t at = 1;
    while (at < diffs.size()) {
        if (diffs[at - 1].operation == DIFF_DELETE && diffs[at].operation == DIFF_INSERT) {
            const Text deletion = diffs[at - 1].text;
            const Text insertion = diffs[at].text;
            const int overlap1 = diff_commonOverlap(deletion, insertion);
            const int overlap2 = diff_commonOverlap(insertion, deletion);
            const double halfDeletion = deletion.size() / 2.0;
            const double halfInsertion = insertion.size() / 2.0;
            if (overlap1 >= overlap2) {
                if (overlap1 >= halfDeletion || overlap1 >= halfInsertion) {
                    diffs.insert(diffs.begin() + at, {DIFF_EQUAL, insertion.substr(0, overlap1)});
                    diffs[at - 1].text = deletion.substr(0, deletion.size() - overlap1);
                    diffs[at + 1].text = insertion.substr(overlap1);
                    ++at;
                }
            } else if (overlap2 >= halfDeletion || overlap2 >= halfInsertion) {
                // The insertion's end overlaps the deletion's start: swap them.
                diffs.insert(diffs.begin() + at, {DIFF_EQUAL, deletion.substr(0, overlap2)});
                diffs[at - 1] = {DIFF_INSERT, insertion.substr(0, insertion.size() - overlap2)};
                diffs[at + 1] = {DIFF_DELETE, deletion.substr(overlap2)};
                ++at;
            }
            ++at;
        }
        ++at;
    }
}

void DiffEngine::diff_cleanupSemanticLossless(Runs& diffs)
{
    size_t pointer = 1;
    while (pointer + 1 < diffs.size()) {
        if (diffs[pointer - 1].operation == DIFF_EQUAL && diffs[pointer + 1].operation == DIFF_EQUAL) {
            Text equality1 = diffs[pointer - 1].text;
            Text edit = diffs[pointer].text;
            Text equality2 = diffs[pointer + 1].text;

            // Shift the edit as far left as it goes...
            const int commonOffset = diff_commonSuffix(equality1, edit);
            if (commonOffset != 0) {
                const Text common = edit.substr(edit.size() - commonOffset);
                equality1.resize(equality1.size() - commonOffset);
                edit = common + edit.substr(0, edit.size() - commonOffset);
                equality2 = common + equality2;
            }

            // ...then step right, keeping the best-scoring boundary (the last of equals).
            Text bestEquality1 = equality1;
            Text bestEdit = edit;
            Text bestEquality2 = equality2;
            int bestScore = diff_cleanupSemanticScore(equality1, edit) + diff_cleanupSemanticScore(edit, equality2);
            while (!edit.empty() && !equality2.empty() && edit[0] == equality2[0]) {
                equality1 += edit[0];
                edit = edit.substr(1) + equality2[0];
                equality2.erase(0, 1);
                const int score =
                    diff_cleanupSemanticScore(equality1, edit) + diff_cleanupSemanticScore(edit, equality2);
                if (score >= bestScore) {
                    bestScore = score;
                    bestEquality1 = equality1;
                    bestEdit = edit;
                    bestEquality2 = equality2;
                }
            }

            if (diffs[pointer - 1].text != bestEquality1) {
                if (!bestEquality1.empty()) {
                    diffs[pointer - 1].text = bestEquality1;
                } else {
                    diffs.erase(diffs.begin() + (pointer - 1));
                    --pointer;
                }
                diffs[pointer].text = bestEdit;
                if (!bestEquality2.empty()) {
                    diffs[pointer + 1].text = bestEquality2;
                } else {
                    diffs.erase(diffs.begin() + (pointer + 1));
                    --pointer;
                }
            }
        }
        ++pointer;
    }
}

int DiffEngine::diff_cleanupSemanticScore(const Text& one, const Text& two)
{
    if (one.empty() || two.empty())
        return 6; // edge of the text
    const char16_t char1 = one.back();
    const char16_t char2 = two.front();
    const bool nonAlnum1 = !isAlnum(char1);
    const bool nonAlnum2 = !isAlnum(char2);
    const bool whitespace1 = nonAlnum1 && isSpace(char1);
    const bool whitespace2 = nonAlnum2 && isSpace(char2);
    const bool lineBreak1 = whitespace1 && isLineBreak(char1);
    const bool lineBreak2 = whitespace2 && isLineBreak(char2);
    const bool blankLine1 = lineBreak1 && endsWithBlankLine(one);
    const bool blankLine2 = lineBreak2 && startsWithBlankLine(two);

    if (blankLine1 || blankLine2)
        return 5;
    if (lineBreak1 || lineBreak2)
        return 4;
    if (nonAlnum1 && !whitespace1 && whitespace2)
        return 3; // end of a sentence
    if (whitespace1 || whitespace2)
        return 2;
    if (nonAlnum1 || nonAlnum2)
        return 1;
    return 0;
}

DiffEngine::LinesToChars DiffEngine::diff_linesToChars(const Text& text1, const Text& text2)
{
    LinesToChars result;
    result.lines.push_back(Text()); // 0 is never a line number
    std::unordered_map<Text, int> numbers;

    // One unit per line. Once a text has used up its share of the numbers, the
    // rest of it becomes one line; the first text may use fewer so that the
    // second always has numbers left (the largest number is 0xFFFF).
    const auto encode = [&](const Text& text, size_t maxNumber) {
        Text chars;
        size_t lineStart = 0;
        while (lineStart < text.size()) {
            size_t lineEnd = text.find(u'\n', lineStart);
            if (lineEnd == Text::npos || result.lines.size() >= maxNumber)
                lineEnd = text.size() - 1;
            const Text line = text.substr(lineStart, lineEnd + 1 - lineStart);
            auto found = numbers.find(line);
            if (found == numbers.end()) {
                result.lines.push_back(line);
                found = numbers.emplace(line, static_cast<int>(result.lines.size() - 1)).first;
            }
            chars += static_cast<char16_t>(found->second);
            lineStart = lineEnd + 1;
        }
        return chars;
    };

    result.chars1 = encode(text1, 40000);
    result.chars2 = encode(text2, 0xFFFF);
    return result;
}

void DiffEngine::diff_charsToLines(Runs& diffs, const std::vector<Text>& lines)
{
    for (Diff& diff : diffs) {
        Text text;
        for (const char16_t unit : diff.text) {
            const size_t number = unit;
            if (number < lines.size())
                text += lines[number];
        }
        diff.text = std::move(text);
    }
}
