#!/usr/bin/env python3
"""Compares settings on the dev half: one row per candidate, the WER on each
dev set and over all of them, the change in errors against the first
candidate with a 95% paired bootstrap interval, and the CPU time per second
of audio. Each dev sentence is in every set (two voices, five degraded
copies), so the interval resamples whole sentences: the files of one sentence
are not independent. --file-intervals adds the interval that resamples files
as if they were, for comparison. Decoded texts are cached like run.py's, so a candidate already
decoded costs nothing.

usage: bench/eval/sweep.py --mode batch|dictation [--chunk-ms N] [--limit N]
                           [--sets REGEX] [--jobs N] [--peer] [--file-intervals]
                           CANDIDATE...
A candidate is "base" (the shipped defaults) or comma-separated settings
words, e.g. batch.lw=8,batch.wip=0.2 (see settings_arguments.hpp).
"""
import argparse
import os
import re
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import decoding  # noqa: E402
import scoring  # noqa: E402
import sets as eval_sets  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--work", default=None)
    parser.add_argument("--mode", choices=("batch", "dictation"), required=True)
    parser.add_argument("--chunk-ms", type=int, default=100)
    parser.add_argument("--limit", type=int, default=None, help="first N dev sentences only")
    parser.add_argument("--sets", default=r"^dev ", help="sets to use (regular expression)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--peer", action="store_true", help="a row for the peer too")
    parser.add_argument("--file-intervals", action="store_true",
                        help="also the interval that resamples files as if independent")
    parser.add_argument("candidates", nargs="+")
    return parser.parse_args()


def main():
    args = parse_arguments()
    work = args.work or os.path.join(args.build, "eval")
    tool = os.path.join(args.build, "bench", "eval", "tolva-eval-decode")
    all_sets = eval_sets.build_sets(work, halves=("dev",), limit=args.limit, jobs=args.jobs)
    chosen = [s for name, s in all_sets.items() if re.search(args.sets, name)]
    paths = sorted({u.wav for s in chosen for u in s.utterances})
    cache = decoding.Cache(work)
    rows = []
    with tempfile.TemporaryDirectory() as data_home:
        env = dict(os.environ, XDG_DATA_HOME=data_home)
        runners = []
        for candidate in args.candidates:
            words = [] if candidate == "base" else candidate.split(",")
            runners.append(decoding.Runner.ours(candidate, tool, args.mode, args.chunk_ms, words, env))
        if args.peer:
            runners.append(decoding.Runner.peer(env))
        for runner in runners:
            by_path = decoding.decode_all(runner, paths, cache, args.jobs)
            per_set = {s.name: scoring.score(s.utterances, {u.key: by_path[u.wav].text for u in s.utterances})
                       for s in chosen}
            pooled = scoring.pooled([per_set[s.name] for s in chosen])
            audio = sum(by_path[p].audio_sec for p in paths)
            cpu = sum(by_path[p].cpu_sec for p in paths) / audio
            rows.append((runner.label, per_set, pooled, cpu))
            print(f"{runner.label}: {100 * pooled.wer:.2f}%", file=sys.stderr, flush=True)
    names = [s.name for s in chosen]
    print(f"{args.mode}, {len(paths)} files, " + (f"first {args.limit} sentences of each set" if args.limit else
                                                    "the whole dev half") + "\n")
    extra = " files resampled [95%] |" if args.file_intervals else ""
    print("| candidate | " + " | ".join(names) + " | all | errors vs first, sentences resampled [95%] |" + extra +
          " CPU s/s |")
    print("|---|" + "---|" * (len(names) + 3 + bool(extra)))
    base = rows[0][2]
    for label, per_set, pooled, cpu in rows:
        low, high = scoring.paired_difference_interval(pooled.counts, base.counts, pooled.keys)
        diff = pooled.errors - base.errors
        cells = [f"{100 * per_set[n].wer:.1f}" for n in names]
        line = (f"| {label} | " + " | ".join(cells) + f" | {100 * pooled.wer:.2f} ({pooled.errors}/{pooled.words}) | "
                f"{diff:+d} [{100 * low:+.1f}, {100 * high:+.1f} pts] |")
        if args.file_intervals:
            low, high = scoring.paired_difference_interval(pooled.counts, base.counts)
            line += f" [{100 * low:+.1f}, {100 * high:+.1f} pts] |"
        print(line + f" {cpu:.3f} |")


if __name__ == "__main__":
    main()
