#!/usr/bin/env python3
"""Word error rates of tolva-speech and of the peer CLI on the evaluation sets,
as one markdown table: a row per set, a column per way of decoding
(transcribe; listen replay fed in chunks of 100 ms and of 20 ms; the peer
pocketsphinx_continuous). Each cell: WER (errors/words) [95% bootstrap
interval over sentences]. A second table gives ours minus the peer with a
paired interval, a third the CPU time per second of audio: the peer's gross,
and net of the model load it pays for every file. With --written, also the
written-text score (written.py) of our columns, raw and formatted.

Needs a build with -DTOLVA_BENCH=ON (tolva-eval-decode); with --check, also
the shipped binary. Audio and decoded texts are cached in the work directory.

usage: bench/eval/run.py [--build DIR] [--work DIR] [--jobs N] [--dev]
                         [--limit N] [--sets REGEX] [--columns LIST] [--check]
                         [--no-cache] [--written [PAUSES]]
                         [name=value ...]
Settings words (name=value, see bench/eval/settings_arguments.hpp) replace
the shipped defaults in our columns.
"""
import argparse
import os
import re
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import decoding  # noqa: E402
import fidelity  # noqa: E402
import scoring  # noqa: E402
import sets as eval_sets  # noqa: E402
import written  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))
COLUMNS = {
    "transcribe": ("batch", 100),
    "listen 100 ms": ("dictation", 100),
    "listen 20 ms": ("dictation", 20),
    "peer": None,
}
COLUMN_KEYS = {"transcribe": "transcribe", "listen100": "listen 100 ms", "listen20": "listen 20 ms", "peer": "peer"}


def progress(line):
    print(line, file=sys.stderr, flush=True)


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(REPO, "build"), help="build directory")
    parser.add_argument("--work", default=None, help="audio and cache directory (default BUILD/eval)")
    parser.add_argument("--jobs", type=int, default=2, help="decoding processes at once")
    parser.add_argument("--dev", action="store_true", help="also the dev half")
    parser.add_argument("--limit", type=int, default=None, help="first N sentences of each half only")
    parser.add_argument("--sets", default=None, help="only sets whose name matches this regular expression")
    parser.add_argument("--columns", default="transcribe,listen100,listen20,peer",
                        help="comma-separated: transcribe, listen100, listen20, peer")
    parser.add_argument("--check", action="store_true",
                        help="first check that tolva-eval-decode gives the shipped binary's words")
    parser.add_argument("--written", nargs="?", const="", default=None, metavar="PAUSES",
                        help="also the written-text table; our columns then score the raw words. PAUSES: "
                             "comma-separated sentence pauses in seconds to try (default: the shipped one)")
    parser.add_argument("--no-cache", action="store_true", help="decode everything again (the cache is not read)")
    parser.add_argument("settings", nargs="*", help="name=value settings for our columns")
    return parser.parse_args()


def runners(args, env):
    tool = os.path.join(args.build, "bench", "eval", "tolva-eval-decode")
    if not os.access(tool, os.X_OK):
        sys.exit(f"{tool} is missing: configure with -DTOLVA_BENCH=ON and build tolva-eval-decode")
    chosen = [COLUMN_KEYS[c.strip()] for c in args.columns.split(",") if c.strip()]
    result = []
    for label in chosen:
        if COLUMNS[label] is None:
            result.append(decoding.Runner.peer(env))
        else:
            mode, chunk = COLUMNS[label]
            result.append(decoding.Runner.ours(label, tool, mode, chunk, args.settings, env))
    return result


# Sets that were used to choose the settings, so their figures are not held out.
NOT_HELD_OUT = {"librivox"}
# Notes printed under the tables, by the set they are about.
NOTES = {
    "telephone": "On the telephone band the peer loses to `listen` by its streaming normalisation: it decodes "
                 "with the library's schedule for the cepstral mean (the model's clean-speech mean until 800 "
                 "frames have passed), where ours re-estimates it every 100 ms. The two recognizers, model and "
                 "search are the same.",
}


def set_label(name):
    return f"{name} (not held out)" if name in NOT_HELD_OUT else name


def print_tables(chosen_sets, columns, texts, decoded, peer_load):
    labels = [r.label for r in columns]
    scores = {(s.name, r.label): scoring.score(s.utterances, texts[(s.name, r.label)])
              for s in chosen_sets for r in columns}
    print("| set | utterances | " + " | ".join(labels) + " |")
    print("|---|---|" + "---|" * len(labels))
    for s in chosen_sets:
        cells = [scores[(s.name, label)].cell() for label in labels]
        print(f"| {set_label(s.name)} | {len(s.utterances)} | " + " | ".join(cells) + " |")
    if "peer" in labels and len(labels) > 1:
        ours = [label for label in labels if label != "peer"]
        print("\nOurs minus the peer, WER points [95% paired bootstrap interval]:\n")
        print("| set | " + " | ".join(ours) + " |")
        print("|---|" + "---|" * len(ours))
        for s in chosen_sets:
            peer = scores[(s.name, "peer")]
            cells = []
            for label in ours:
                mine = scores[(s.name, label)]
                low, high = scoring.paired_difference_interval(mine.counts, peer.counts, mine.keys)
                cells.append(f"{100 * (mine.wer - peer.wer):+.1f} [{100 * low:+.1f}, {100 * high:+.1f}]")
            print(f"| {set_label(s.name)} | " + " | ".join(cells) + " |")
    for s in chosen_sets:
        for name, note in NOTES.items():
            if s.name.endswith(" " + name) and "peer" in labels:
                print(f"\n{s.name}: {note}")
    print_cpu(labels, decoded, peer_load)


def print_cpu(labels, decoded, peer_load):
    """CPU seconds per second of audio, over the distinct files each column
    decoded; for the peer also net of its model load."""
    headers, cells = [], []
    for label in labels:
        items = {path: d for (_, lab), by_path in decoded.items() if lab == label for path, d in by_path.items()}
        audio = sum(d.audio_sec for d in items.values())
        cpu = sum(d.cpu_sec for d in items.values())
        if label == "peer":
            headers += ["peer, gross", "peer, net of model load"]
            cells += [f"{cpu / audio:.3f}", f"{(cpu - peer_load * len(items)) / audio:.3f}"] if audio else ["–", "–"]
        else:
            headers.append(label)
            cells.append(f"{cpu / audio:.3f}" if audio else "–")
    print("\nCPU seconds per second of audio (the peer loads the model for every file: "
          f"{peer_load:.3f} s measured on a 0.1 s file, as many at once as its files were, taken off for its "
          "net figure; ours decode with one decoder per process, as many processes at once):\n"
          if "peer" in labels else "\nCPU seconds per second of audio:\n")
    print("| " + " | ".join(headers) + " |")
    print("|" + "---|" * len(headers))
    print("| " + " | ".join(cells) + " |")


def main():
    args = parse_arguments()
    work = args.work or os.path.join(args.build, "eval")
    os.makedirs(work, exist_ok=True)
    halves = ("dev", "test") if args.dev else ("test",)
    started = time.monotonic()
    # Degraded copies only for the sets asked for.
    degradations = [d for d in eval_sets.DEGRADATIONS
                    if not args.sets or any(re.search(args.sets, f"{half} {d}") for half in halves)]
    all_sets = eval_sets.build_sets(work, halves=halves, degradations=degradations, limit=args.limit,
                                    jobs=args.jobs)
    progress(f"sets ready after {time.monotonic() - started:.0f} s")
    chosen_sets = [s for name, s in all_sets.items() if not args.sets or re.search(args.sets, name)]
    if args.written is not None:
        # One decoding gives the words with their times; the texts are written from them.
        args.settings = [*args.settings, "text=timed"]
    with tempfile.TemporaryDirectory() as data_home:
        env = dict(os.environ, XDG_DATA_HOME=data_home)
        if args.check:
            fidelity.check(args.build, work, all_sets, env)
        columns = runners(args, env)
        cache = decoding.Cache(work, read=not args.no_cache)
        texts, decoded = {}, {}
        peer_load = 0.0
        for runner in columns:
            paths = sorted({u.wav for s in chosen_sets for u in s.utterances})
            by_path = decoding.decode_all(runner, paths, cache, args.jobs)
            progress(f"{runner.label}: {len(paths)} files after {time.monotonic() - started:.0f} s")
            if runner.label == "peer":
                peer_load = decoding.peer_load_cpu(runner, work, args.jobs)
            for s in chosen_sets:
                decoded[(s.name, runner.label)] = {u.wav: by_path[u.wav] for u in s.utterances}
                texts[(s.name, runner.label)] = {u.key: written.raw_text(by_path[u.wav].text) if runner.label != "peer"
                                                 and args.written is not None else by_path[u.wav].text
                                                 for u in s.utterances}
    if args.settings:
        print("Settings over the shipped defaults: " + " ".join(args.settings) + "\n")
    print_tables(chosen_sets, columns, texts, decoded, peer_load)
    if args.written is not None:
        for pause in [p for p in args.written.split(",") if p] or [None]:
            written.print_tables(chosen_sets, columns, decoded, args.build, [f"text.pause={pause}"] if pause else [])


if __name__ == "__main__":
    main()
