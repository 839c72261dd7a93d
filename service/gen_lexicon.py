#!/usr/bin/env python3
"""Builds the checker's lexicon from Debian's Unihan data and jieba's word list.

Output (UTF-8 text, one record a line, fields separated by a tab):
    T  total            sum of all word frequencies
    C  char  readings  radical  residual  common  phonetic  strokes
                        readings: toneless pinyin syllables joined by ","
                        radical/residual: Kangxi radical number and remaining strokes
                        common: 1 when the character is in the 2013 standard list
                        phonetic: phonetic classes (Unihan kPhonetic) joined by ","
                        strokes: total strokes (Unihan kTotalStrokes), 0 when unknown
                        variants: its other forms (simplified, traditional, semantic
                        and z-variants), never proposed for it
                        cangjie: its Cangjie code (Unihan kCangjie), a description of its shape
                        traditional: 1 when it is the traditional form of another character
    W  word  freq  pos  a word of Han characters with its frequency and tag
    K  word  [ours]     a word of another word list (friso's lex-main, rime's
                        pinyin_simp, the project's own list of specialist words,
                        marked "ours") that jieba's list lacks: it counts as a
                        word, without a frequency of its own (words marked "ours"
                        are listed even when jieba has them)
    P  wrong  right  count  meant
                        a character writers put where another was meant, how often
                        that was seen and how often the right one was meant in all
                        (from the learnt-confusion table)

Usage: gen_lexicon.py OUTPUT [--unihan DIR] [--jieba FILE] [--learnt TABLE]
                      [--known FILE]... [--specialist FILE]
A --known FILE is read by its form: friso's `word/...` lines (*.lex), a rime
dictionary (*.dict.yaml: `word<TAB>reading<TAB>weight` after the `...` line),
or one word a line (anything else; `#` starts a comment). A missing file is
skipped with a note.
"""
import argparse
import bz2
import os
import sys
import unicodedata

UNIHAN_DIR = "/usr/share/unicode"
JIEBA_DICT = "/usr/lib/python3/dist-packages/jieba/dict.txt"
LEARNT_TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "learnt-confusions.tsv")
KNOWN_LISTS = [
    "/usr/share/friso/dict/UTF-8/lex-main.lex",
    "/usr/share/rime-data/pinyin_simp.dict.yaml",
]
SPECIALIST_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "domain-words.txt")


def known_words(path):
    """The words of one word list, whatever its form (see the usage)."""
    with open(path, encoding="utf-8") as f:
        if path.endswith(".lex"):
            for line in f:
                yield line.split("/", 1)[0].strip()
        elif path.endswith(".dict.yaml"):
            body = False
            for line in f:
                if line.startswith("..."):
                    body = True
                elif body and line.strip() and not line.startswith("#"):
                    yield line.split("\t", 1)[0].strip()
        else:
            for line in f:
                line = line.split("#", 1)[0].strip()
                if line:
                    yield line.split()[0]


def is_han(ch):
    cp = ord(ch)
    return (0x4E00 <= cp <= 0x9FFF or 0x3400 <= cp <= 0x4DBF or 0x20000 <= cp <= 0x3134F
            or 0xF900 <= cp <= 0xFAFF)


def unihan(directory, name):
    path = os.path.join(directory, name + ".txt.bz2")
    with bz2.open(path, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            code, key, value = line.rstrip("\n").split("\t", 2)
            yield chr(int(code[2:], 16)), key, value


def toneless(syllable):
    """yǐ -> yi, lǜ -> lv; drops tone marks and digits."""
    out = []
    for ch in unicodedata.normalize("NFD", syllable.strip().lower()):
        if ch == "\u0308":  # diaeresis: ü
            if out and out[-1] == "u":
                out[-1] = "v"
            continue
        if unicodedata.combining(ch) or ch.isdigit():
            continue
        out.append(ch)
    text = "".join(out)
    return text if text.isalpha() and text.isascii() else ""


def readings_of(key, value):
    if key == "kMandarin":
        return value.split()
    if key == "kHanyuPinlu":  # yǐ(6111) shì(10)
        return [v.split("(")[0] for v in value.split()]
    if key == "kTGHZ2013":  # 432.190:yǐ 433.010:yì,...
        result = []
        for item in value.split():
            result.extend(item.split(":", 1)[-1].split(","))
        return result
    return []


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("--unihan", default=UNIHAN_DIR, help="folder with the Unihan_*.txt.bz2 files")
    parser.add_argument("--jieba", default=JIEBA_DICT, help="jieba's dict.txt")
    parser.add_argument("--learnt", default=LEARNT_TABLE, help="the learnt-confusion table")
    parser.add_argument("--known", action="append", help="a further word list (default: %s)" % ", ".join(KNOWN_LISTS))
    parser.add_argument("--specialist", default=SPECIALIST_LIST, help="the project's own list of specialist words")
    args = parser.parse_args()
    output = args.output
    unihan_dir = args.unihan
    jieba_dict = args.jieba
    learnt_table = args.learnt

    readings = {}
    common = set()
    for ch, key, value in unihan(unihan_dir, "Unihan_Readings"):
        if key in ("kMandarin", "kHanyuPinlu", "kTGHZ2013"):
            if key == "kTGHZ2013":
                common.add(ch)
            for r in readings_of(key, value):
                s = toneless(r)
                if s:
                    readings.setdefault(ch, [])
                    if s not in readings[ch]:
                        readings[ch].append(s)

    radical = {}
    strokes = {}
    for ch, key, value in unihan(unihan_dir, "Unihan_IRGSources"):
        if key == "kTotalStrokes":
            try:
                strokes[ch] = int(value.split()[0])
            except ValueError:
                pass
        if key == "kRSUnicode" and ch not in radical:
            first = value.split()[0].replace("'", "")
            rad, _, res = first.partition(".")
            try:
                radical[ch] = (int(rad), int(res))
            except ValueError:
                pass

    # kPhonetic: "1156 954*" -- class numbers, a trailing letter or "*" marks variants.
    phonetic = {}
    cangjie = {}
    for ch, key, value in unihan(unihan_dir, "Unihan_DictionaryLikeData"):
        if key == "kCangjie":
            cangjie[ch] = value.split()[0]
        if key == "kPhonetic":
            classes = []
            for item in value.split():
                digits = "".join(c for c in item if c.isdigit())
                if digits and digits not in classes:
                    classes.append(digits)
            phonetic[ch] = classes

    # Traditional and simplified forms of one character are a choice of script,
    # not a slip, and so is a character outside the standard list (a regional
    # or old form): such learnt pairs are left out.
    script_variants = set()
    variants = {}
    traditional = set()
    for ch, key, value in unihan(unihan_dir, "Unihan_Variants"):
        if key in ("kSimplifiedVariant", "kTraditionalVariant", "kZVariant", "kSemanticVariant"):
            for item in value.split():
                other = chr(int(item.split("<")[0][2:], 16))
                if other == ch:
                    continue
                variants.setdefault(ch, set()).add(other)
                variants.setdefault(other, set()).add(ch)
                if key == "kSimplifiedVariant":
                    traditional.add(ch)
                if key != "kSemanticVariant":
                    script_variants.add((ch, other))
                    script_variants.add((other, ch))
    learnt = []
    with open(learnt_table, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            wrong, right, count, meant = line.rstrip("\n").split("\t")
            if wrong in common and right in common and (wrong, right) not in script_variants:
                learnt.append((wrong, right, int(count), int(meant)))

    words = []
    total = 0
    chars = set(common)
    with open(jieba_dict, encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if len(parts) < 2:
                continue
            word, freq = parts[0], parts[1]
            pos = parts[2] if len(parts) > 2 else "x"
            try:
                freq = int(freq)
            except ValueError:
                continue
            total += freq
            if freq <= 0 or not all(is_han(c) for c in word):
                continue
            words.append((word, freq, pos))
            chars.update(word)

    jieba_words = set(word for word, _, _ in words)
    known = {}
    lists = [(path, False) for path in (args.known if args.known is not None else KNOWN_LISTS)]
    for path, ours in lists + [(args.specialist, True)]:
        if not os.path.exists(path):
            sys.stderr.write("gen_lexicon.py: %s not found, its words left out\n" % path)
            continue
        for word in known_words(path):
            # The project's own words are listed even where jieba has them:
            # the checker corrects towards those too rare for its candidates.
            if len(word) >= 2 and all(is_han(c) for c in word) and (ours or word not in jieba_words):
                known[word] = known.get(word, False) or ours

    tmp = output + ".tmp"
    with open(tmp, "w", encoding="utf-8") as out:
        out.write("# quillet-service lexicon: Unihan readings and radicals, jieba word list\n")
        out.write("T\t%d\n" % total)
        for ch in sorted(chars):
            rad, res = radical.get(ch, (0, 0))
            out.write("C\t%s\t%s\t%d\t%d\t%d\t%s\t%d\t%s\t%s\t%d\n" % (
                ch, ",".join(readings.get(ch, [])), rad, res, 1 if ch in common else 0, ",".join(phonetic.get(ch, [])),
                strokes.get(ch, 0), "".join(sorted(variants.get(ch, ()))), cangjie.get(ch, ""),
                1 if ch in traditional else 0))
        for word, freq, pos in words:
            out.write("W\t%s\t%d\t%s\n" % (word, freq, pos))
        for word in sorted(known):
            out.write("K\t%s%s\n" % (word, "\tours" if known[word] else ""))
        for wrong, right, count, meant in learnt:
            out.write("P\t%s\t%s\t%d\t%d\n" % (wrong, right, count, meant))
    os.replace(tmp, output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
