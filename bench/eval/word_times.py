#!/usr/bin/env python3
"""How true the word times and confidences of `transcribe --words` are.

Festival knows where every word it speaks ends: a Scheme script synthesises
each test sentence with utt.synth, saves the wave and prints the word_end
feature of each item of the Word relation. The shipped binary transcribes the
16 kHz copy (resampled as the evaluation's sets are) with --words; its words
are aligned with Festival's (word-level edit distance on normalised words,
so "mr" meets "mister"). Printed, as markdown:

- for words recognised correctly, the median and 95th percentile of
  |our end - Festival's end|, per voice and over both;
- the mean confidence of right and of wrong words (substitutions and
  insertions are wrong), and the share of wrong words among those below and
  at or above a confidence of 0.5.

usage: bench/eval/word_times.py [--build DIR] [--work DIR] [--limit N] [--half test|dev] [--cached]

--limit takes the first N sentences of the half for each voice (all 161 by
default). Audio and transcriptions are cached under the work directory
(build/eval/word-times); --cached reports on the files transcribed so far
and runs nothing. Everything runs under nice 10.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import scoring  # noqa: E402
import sets as eval_sets  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))
NICE = ["nice", "-n", "10"]


def festival_words(voice, texts, directory):
    """Speaks each text (cached by voice and text) and returns, per text, the
    16 kHz WAV path and Festival's [(word, end seconds)]."""
    os.makedirs(directory, exist_ok=True)
    paths = [os.path.join(directory, eval_sets.digest(voice, text)) for text in texts]
    todo = [(text, path) for text, path in zip(texts, paths) if not os.path.exists(path + ".json")]
    if todo:
        script = [f"({eval_sets.VOICES[voice]})"]
        for text, path in todo:
            script.append(f"(set! u (utt.synth (Utterance Text {eval_sets.scheme_string(text)})))")
            script.append(f"(utt.save.wave u {eval_sets.scheme_string(path + '.raw.wav')} 'riff)")
            script.append(f"(format t \"UTT %s\\n\" {eval_sets.scheme_string(os.path.basename(path))})")
            script.append("(mapcar (lambda (w) (format t \"W %s %s\\n\" (item.name w) (item.feat w \"word_end\")))"
                          " (utt.relation.items u 'Word))")
        out = subprocess.run(NICE + ["festival", "--pipe"], input="\n".join(script) + "\n", text=True, check=True,
                             capture_output=True).stdout
        ends = {}
        current = None
        for line in out.splitlines():
            parts = line.split()
            if len(parts) == 2 and parts[0] == "UTT":
                current = ends.setdefault(parts[1], [])
            elif len(parts) == 3 and parts[0] == "W" and current is not None:
                current.append((parts[1], float(parts[2])))
        for _, path in todo:
            eval_sets.resample(path + ".raw.wav", path + ".wav")
            with open(path + ".json", "w") as out_file:
                json.dump(ends.get(os.path.basename(path), []), out_file)
    result = []
    for path in paths:
        with open(path + ".json") as data:
            result.append((path + ".wav", [(word, end) for word, end in json.load(data)]))
    return result


def transcribe_words(tool, wav):
    """The binary's words of one file, [(word, start, end, confidence)], cached."""
    cache = wav + ".words.json"
    if os.path.exists(cache):
        with open(cache) as data:
            return json.load(data)
    run = subprocess.run(NICE + [tool, "transcribe", wav, "--locale", "en-US", "--words"], capture_output=True,
                         text=True, check=True)
    words = [(w["word"], w["start"], w["end"], w["confidence"])
             for segment in json.loads(run.stdout)["segments"] for w in segment["words"]]
    with open(cache, "w") as out:
        json.dump(words, out)
    return words


def normalised(word):
    forms = scoring.normalise(word)
    return forms[0] if len(forms) == 1 else word.lower()


def align(reference, hypothesis):
    """Pairs (i, j) of an edit-distance alignment; None for a missing side."""
    n, m = len(reference), len(hypothesis)
    cost = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n + 1):
        cost[i][0] = i
    for j in range(m + 1):
        cost[0][j] = j
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            same = reference[i - 1] == hypothesis[j - 1]
            cost[i][j] = min(cost[i - 1][j - 1] + (0 if same else 1), cost[i - 1][j] + 1, cost[i][j - 1] + 1)
    pairs = []
    i, j = n, m
    while i > 0 or j > 0:
        if i > 0 and j > 0 and cost[i][j] == cost[i - 1][j - 1] + (0 if reference[i - 1] == hypothesis[j - 1] else 1):
            pairs.append((i - 1, j - 1))
            i, j = i - 1, j - 1
        elif i > 0 and cost[i][j] == cost[i - 1][j] + 1:
            pairs.append((i - 1, None))
            i -= 1
        else:
            pairs.append((None, j - 1))
            j -= 1
    return pairs[::-1]


def percentile(values, fraction):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    index = min(len(ordered) - 1, max(0, round(fraction * (len(ordered) - 1))))
    return ordered[index]


def measure(pairs_of_files):
    """End errors of right words, and (confidence, right) of every recognised word."""
    end_errors, judged = [], []
    for festival, ours in pairs_of_files:
        reference = [normalised(word) for word, _ in festival]
        hypothesis = [normalised(word) for word, *_ in ours]
        for i, j in align(reference, hypothesis):
            if j is None:
                continue
            right = i is not None and reference[i] == hypothesis[j]
            judged.append((ours[j][3], right))
            if right:
                end_errors.append(abs(ours[j][2] - festival[i][1]))
    return end_errors, judged


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--work", default=None)
    parser.add_argument("--limit", type=int, default=None)
    parser.add_argument("--half", default="test", choices=["test", "dev"])
    parser.add_argument("--cached", action="store_true")
    args = parser.parse_args()
    tool = os.path.join(args.build, "tolva-speech")
    work = args.work or os.path.join(args.build, "eval", "word-times")
    texts = eval_sets.sentences(args.half)[:args.limit]

    rows, everything, all_judged = [], [], []
    total = 0
    for voice in eval_sets.VOICES:
        if args.cached:
            directory = os.path.join(work, voice)
            paths = [os.path.join(directory, eval_sets.digest(voice, text)) for text in texts]
            spoken = festival_words(voice, [t for t, p in zip(texts, paths) if os.path.exists(p + ".wav.words.json")],
                                    directory)
        else:
            spoken = festival_words(voice, texts, os.path.join(work, voice))
        with ThreadPoolExecutor(2) as pool:
            ours = list(pool.map(lambda item: transcribe_words(tool, item[0]), spoken))
        end_errors, judged = measure([(words, mine) for (_, words), mine in zip(spoken, ours)])
        everything += end_errors
        all_judged += judged
        total += len(spoken)
        rows.append((f"{args.half} {voice}", len(spoken), end_errors))
    rows.append(("both voices", total, everything))

    print("| set | sentences | right words | median end error | 95th percentile |")
    print("|---|---|---|---|---|")
    for name, count, errors in rows:
        print(f"| {name} | {count} | {len(errors)} | {statistics.median(errors) * 1000:.0f} ms | "
              f"{percentile(errors, 0.95) * 1000:.0f} ms |")
    right = [c for c, ok in all_judged if ok]
    wrong = [c for c, ok in all_judged if not ok]
    low = [ok for c, ok in all_judged if c < 0.5]
    high = [ok for c, ok in all_judged if c >= 0.5]
    print()
    print("| words | count | mean confidence |")
    print("|---|---|---|")
    print(f"| right | {len(right)} | {statistics.mean(right):.3f} |")
    print(f"| wrong | {len(wrong)} | {statistics.mean(wrong) if wrong else float('nan'):.3f} |")
    print()
    print("| confidence | words | wrong |")
    print("|---|---|---|")
    for name, group in (("below 0.5", low), ("0.5 and above", high)):
        errors = sum(1 for ok in group if not ok)
        share = errors / len(group) if group else float("nan")
        print(f"| {name} | {len(group)} | {errors} ({share:.1%}) |")


if __name__ == "__main__":
    main()
