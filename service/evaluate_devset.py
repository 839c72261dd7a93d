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

Usage: evaluate_devset.py [--service PATH] [--types LIST] [--devset FILE] [--verbose]
"""
import argparse
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def utf16_len(text):
    return len(text.encode("utf-16-le")) // 2


def load(path):
    pairs = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
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
            pairs.append((correct, sentence, start, end))
    return pairs


def apply(sentence, finding):
    if not finding.get("suggestions"):
        return None
    start, end = finding["spans"][0]
    encoded = sentence.encode("utf-16-le")
    before = encoded[:start * 2].decode("utf-16-le")
    after = encoded[(end + 1) * 2:].decode("utf-16-le")
    return before + finding["suggestions"][0] + after


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
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    if not os.access(args.service, os.X_OK):
        sys.exit(f"quillet-service not found at {args.service}: build it first, or give --service PATH")

    pairs = load(args.devset)
    sentences = []
    for correct, wrong, _, _ in pairs:
        sentences.extend([wrong, correct])
    run = subprocess.run([args.service, "check", "--types", args.types, "--data", os.path.join(HERE, "testdata")],
                         input="\n".join(sentences) + "\n", capture_output=True, text=True, check=True)
    replies = [json.loads(line)["errors"] for line in run.stdout.splitlines()]
    if len(replies) != len(sentences):
        sys.exit("expected %d replies, got %d" % (len(sentences), len(replies)))

    det_tp = det_fp = cor_tp = cor_fp = 0
    for i, (correct, wrong, start, end) in enumerate(pairs):
        found, clean = replies[2 * i], replies[2 * i + 1]
        hits = [f for f in found if any(s <= end and start <= e for s, e in f["spans"])]
        misses = [f for f in found if f not in hits]
        if hits:
            det_tp += 1
            if apply(wrong, hits[0]) == correct:
                cor_tp += 1
            else:
                cor_fp += 1
        elif misses:
            det_fp += 1
            cor_fp += 1
        if clean:
            det_fp += 1
            cor_fp += 1
        if args.verbose:
            status = "found" if hits else ("WRONG PLACE" if misses else "missed")
            print("%-11s %s %s" % (status, wrong, json.dumps(found, ensure_ascii=False)))
            if clean:
                print("%-11s %s %s" % ("FALSE ALARM", correct, json.dumps(clean, ensure_ascii=False)))

    positives = len(pairs)
    print("development set: %d sentences (%d with one error, %d clean)" % (2 * positives, positives, positives))
    for name, tp, fp in (("detection", det_tp, det_fp), ("correction", cor_tp, cor_fp)):
        p, r, f = score(tp, fp, positives)
        print("%-10s  precision %.3f  recall %.3f  F1 %.3f  (tp %d, fp %d)" % (name, p, r, f, tp, fp))
    return 0


if __name__ == "__main__":
    sys.exit(main())
