#!/usr/bin/env python3
"""Scores quillet-service's checker on the development set.

Each line of testdata/devset.tsv gives a correct sentence, a word in it and a
misspelt form of that word: the sentence with the misspelt word is an error
sentence, the correct sentence a clean one. The script runs
`quillet-service check` on all of them and prints sentence-level precision,
recall and F1:

- detection: an error sentence counts as found when a finding covers the
  misspelt place; a sentence with a finding that covers no error is a false alarm;
- correction: found, and the finding's first suggestion gives the correct sentence.

With --pairs FILE it scores a file of `sentence<TAB>corrected sentence` lines
instead (the two equal for a clean sentence): every finding's first suggestion
is applied at each of its places, and a sentence the checker changes counts as
a true positive only when it then equals the corrected sentence, otherwise as
a false positive (detection: when exactly the wrong places were changed).
Recall is over the sentences with errors. The corrected sentences are checked
as well: what the checker changes in them is a false alarm on clean text. It also prints the
share of clean sentences changed and the checking time per sentence (start-up
excluded).

With --heldout FILE it estimates how the learnt confusion pairs carry over to
sentences they were not learnt from: the file is split into two halves (odd
and even lines), the pairs are learnt from one half (learn_confusions.py), a
lexicon is built with them (gen_lexicon.py, into a temporary folder) and the
other half is scored with it; then the other way round. It prints both halves'
figures and their sum.

On the development set it prints the figures of each domain too (a line
"# domain: NAME" starts the sentences of one domain).

Usage: evaluate_devset.py [--service PATH] [--types LIST]
                          [--devset FILE | --pairs FILE | --heldout FILE] [--verbose]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def utf16_len(text):
    return len(text.encode("utf-16-le")) // 2


def load(path):
    pairs = []
    domain = "general"
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("# domain:"):
                domain = line.split(":", 1)[1].strip()
                continue
            if not line or line.startswith("#"):
                continue
            correct, word, wrong = line.split("\t")
            at = correct.find(word)
            if at < 0:
                sys.exit("%s:%d: %r is not in the sentence" % (path, number, word))
            sentence = correct[:at] + wrong + correct[at + len(word):]
            # The changed region, in UTF-16 units of the error sentence.
            prefix = 0
            while prefix < min(len(word), len(wrong)) and word[prefix] == wrong[prefix]:
                prefix += 1
            suffix = 0
            while (suffix < min(len(word), len(wrong)) - prefix
                   and word[len(word) - 1 - suffix] == wrong[len(wrong) - 1 - suffix]):
                suffix += 1
            start = utf16_len(sentence[:at + prefix])
            end = utf16_len(sentence[:at + len(wrong) - suffix]) - 1
            if end < start:  # an inserted character equal to its neighbour
                end = start
            pairs.append((correct, sentence, start, end, domain))
    return pairs


def apply(sentence, finding):
    if not finding.get("suggestions"):
        return None
    start, end = finding["spans"][0]
    encoded = sentence.encode("utf-16-le")
    before = encoded[:start * 2].decode("utf-16-le")
    after = encoded[(end + 1) * 2:].decode("utf-16-le")
    return before + finding["suggestions"][0] + after


def apply_all(sentence, findings):
    """The sentence with every finding's first suggestion put in at each of its
    places; overlapping places after the first are skipped."""
    edits = []
    for finding in findings:
        if not finding.get("suggestions"):
            continue
        for start, end in finding["spans"]:
            edits.append((start, end, finding["suggestions"][0]))
    encoded = sentence.encode("utf-16-le")
    out = []
    at = 0
    for start, end, text in sorted(edits):
        if start < at:
            continue
        out.append(encoded[at * 2:start * 2].decode("utf-16-le"))
        out.append(text)
        at = end + 1
    out.append(encoded[at * 2:].decode("utf-16-le"))
    return "".join(out)


def run_checker(service, types, sentences, lexicon=None):
    """The findings for each sentence, and the seconds the checking took
    (the time of a run without input taken off)."""
    command = [service, "check", "--types", types, "--data", os.path.join(HERE, "testdata")]
    if lexicon:
        command += ["--lexicon", lexicon]
    t0 = time.monotonic()
    subprocess.run(command, input="", capture_output=True, text=True, check=True)
    startup = time.monotonic() - t0
    t0 = time.monotonic()
    run = subprocess.run(command, input="\n".join(sentences) + "\n", capture_output=True, text=True, check=True)
    seconds = max(0.0, time.monotonic() - t0 - startup)
    replies = [json.loads(line)["errors"] for line in run.stdout.splitlines()]
    if len(replies) != len(sentences):
        sys.exit("expected %d replies, got %d" % (len(sentences), len(replies)))
    return replies, seconds


def read_pairs(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            parts = line.split("\t")
            if len(parts) != 2:
                sys.exit("%s:%d: expected sentence<TAB>corrected" % (path, number))
            rows.append((parts[0], parts[1]))
    return rows


def score_pairs(args, rows, name, lexicon=None):
    """Prints the figures of rows and returns (tp, fp, positives, clean, clean changed,
    corrected sentences, corrected sentences changed)."""
    replies, seconds = run_checker(args.service, args.types, [wrong for wrong, _ in rows], lexicon)
    # The corrected sentences are clean sentences too: what the checker changes in them is a false alarm.
    corrected = [correct for wrong, correct in rows if wrong != correct]
    corrected_replies, _ = run_checker(args.service, args.types, corrected, lexicon)
    corrected_changed = sum(apply_all(c, f) != c for c, f in zip(corrected, corrected_replies))
    tp = fp = positives = clean = clean_changed = det_tp = det_fp = 0
    for (wrong, correct), findings in zip(rows, replies):
        result = apply_all(wrong, findings)
        has_error = wrong != correct
        positives += has_error
        clean += not has_error
        if result != wrong:
            if result == correct:
                tp += 1
            else:
                fp += 1
            # Detection: the places changed are the places wrong (same-length sentences).
            if len(result) == len(wrong) == len(correct) and all(
                    (a != b) == (a != c) for a, b, c in zip(wrong, result, correct)):
                det_tp += 1
            else:
                det_fp += 1
            if not has_error:
                clean_changed += 1
        if args.verbose and (result != wrong or has_error):
            status = "right" if result == correct else ("missed" if result == wrong else "WRONG")
            print("%-7s %s\n        %s\n   want %s" % (status, wrong, result, correct))
    figures = (tp, fp, positives, clean, clean_changed, len(corrected), corrected_changed, det_tp, det_fp)
    print_pairs(name, len(rows), *figures)
    print("%.2f ms per sentence" % (1000.0 * seconds / len(rows) if rows else 0))
    return figures


def print_pairs(name, count, tp, fp, positives, clean, clean_changed, corrected, corrected_changed, det_tp, det_fp):
    p, r, f = score(tp, fp, positives)
    print("%s: %d sentences (%d with errors, %d clean)" % (name, count, positives, clean))
    dp, dr, df = score(det_tp, det_fp, positives)
    print("detection   precision %.3f  recall %.3f  F1 %.3f  (tp %d, fp %d)" % (dp, dr, df, det_tp, det_fp))
    print("correction  precision %.3f  recall %.3f  F1 %.3f  (tp %d, fp %d)" % (p, r, f, tp, fp))
    print("clean sentences changed: %d of %d (%.1f%%); corrected sentences changed: %d of %d (%.1f%%)" % (
        clean_changed, clean, 100.0 * clean_changed / clean if clean else 0, corrected_changed, corrected,
        100.0 * corrected_changed / corrected if corrected else 0))


def evaluate_pairs(args):
    rows = read_pairs(args.pairs)
    score_pairs(args, rows, os.path.basename(args.pairs))
    return 0


def evaluate_heldout(args):
    rows = read_pairs(args.heldout)
    halves = [rows[0::2], rows[1::2]]
    total = [0] * 9
    with tempfile.TemporaryDirectory(prefix="quillet-heldout-") as folder:
        for k in (0, 1):
            learn = os.path.join(folder, "learn.tsv")
            with open(learn, "w", encoding="utf-8") as f:
                f.writelines("%s\t%s\n" % row for row in halves[k])
            table = os.path.join(folder, "pairs.tsv")
            lexicon = os.path.join(folder, "lexicon.txt")
            subprocess.run([sys.executable, os.path.join(HERE, "learn_confusions.py"), learn, "--output", table],
                           check=True, capture_output=True)
            subprocess.run([sys.executable, os.path.join(HERE, "gen_lexicon.py"), lexicon, "--learnt", table] + args.lexicon_options,
                           check=True)
            figures = score_pairs(args, halves[1 - k], "learnt on half %d, scored on half %d" % (k + 1, 2 - k),
                                  lexicon)
            total = [a + b for a, b in zip(total, figures)]
    print_pairs("held out, both halves", len(rows), *total)
    return 0


def score(tp, fp, positives):
    precision = tp / (tp + fp) if tp + fp else 0.0
    recall = tp / positives if positives else 0.0
    f1 = 2 * precision * recall / (precision + recall) if precision + recall else 0.0
    return precision, recall, f1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--service", default=os.path.join(HERE, "..", "build", "service", "quillet-service"))
    parser.add_argument("--types", default="tong_yin,xing_jin")
    parser.add_argument("--devset", default=os.path.join(HERE, "testdata", "devset.tsv"))
    parser.add_argument("--pairs", help="score a file of sentence<TAB>corrected lines instead")
    parser.add_argument("--heldout", help="score a file of sentence<TAB>corrected lines, each half with the "
                                          "pairs learnt from the other")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--lexicon-option", dest="lexicon_options", action="append", default=[],
                        help="with --heldout: passed on to gen_lexicon.py (the build's sources, if not the defaults)")
    args = parser.parse_args()
    if not os.access(args.service, os.X_OK):
        sys.exit(f"quillet-service not found at {args.service}: build it first, or give --service PATH")
    if args.pairs:
        return evaluate_pairs(args)
    if args.heldout:
        return evaluate_heldout(args)

    pairs = load(args.devset)
    sentences = []
    for correct, wrong, _, _, _ in pairs:
        sentences.extend([wrong, correct])
    replies, seconds = run_checker(args.service, args.types, sentences)

    # Per domain and in all: detection tp, fp, correction tp, fp, positives, clean sentences changed.
    counts = {}
    for i, (correct, wrong, start, end, domain) in enumerate(pairs):
        found, clean = replies[2 * i], replies[2 * i + 1]
        hits = [f for f in found if any(s <= end and start <= e for s, e in f["spans"])]
        misses = [f for f in found if f not in hits]
        row = [0] * 6
        row[4] = 1
        if hits:
            row[0] += 1
            if apply(wrong, hits[0]) == correct:
                row[2] += 1
            else:
                row[3] += 1
        elif misses:
            row[1] += 1
            row[3] += 1
        if clean:
            row[1] += 1
            row[3] += 1
            row[5] += 1
        for key in (domain, "all"):
            counts[key] = [a + b for a, b in zip(counts.get(key, [0] * 6), row)]
        if args.verbose:
            status = "found" if hits else ("WRONG PLACE" if misses else "missed")
            print("%-11s %s %s" % (status, wrong, json.dumps(found, ensure_ascii=False)))
            if clean:
                print("%-11s %s %s" % ("FALSE ALARM", correct, json.dumps(clean, ensure_ascii=False)))

    positives = len(pairs)
    print("development set: %d sentences (%d with one error, %d clean)" % (2 * positives, positives, positives))
    for key in [d for d in counts if d != "all"] + ["all"]:
        det_tp, det_fp, cor_tp, cor_fp, n, changed = counts[key]
        print("%s (%d pairs; clean sentences with a finding: %d, %.1f%%)" % (key, n, changed, 100.0 * changed / n))
        for name, tp, fp in (("detection", det_tp, det_fp), ("correction", cor_tp, cor_fp)):
            p, r, f = score(tp, fp, n)
            print("  %-10s  precision %.3f  recall %.3f  F1 %.3f  (tp %d, fp %d)" % (name, p, r, f, tp, fp))
    print("%.2f ms per sentence" % (1000.0 * seconds / len(sentences)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
