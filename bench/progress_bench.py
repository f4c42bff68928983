#!/usr/bin/env python3
"""How truthfully `transcribe.progress` follows recognition. Transcribes the
five librivox clips of pocketsphinx-testdata joined and repeated to about 5
minutes (made with sox), reads the log as it comes, and compares every
progress line's `fraction` with the share of the decoding time elapsed when
it was written: the time from `transcribe.analyzeSequence.begin` to
`transcribe.analyzeSequence.end`, both taken from the lines' own `t`. Prints
each sample and the largest gap; the target is a gap of at most 10 points at
every sample.

usage: bench/progress_bench.py [path/to/tolva-speech] [runs]
"""
import glob
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"
TARGET = 0.10


def five_minutes(tmp):
    joined = os.path.join(tmp, "joined.wav")
    subprocess.run(["sox", *sorted(glob.glob(f"{LIBRIVOX}/*.wav")), joined], check=True)
    seconds = float(subprocess.run(["soxi", "-D", joined], capture_output=True, text=True, check=True).stdout)
    times = max(1, round(300 / seconds))
    path = os.path.join(tmp, "five-minutes.wav")
    subprocess.run(["sox", *([joined] * times), path], check=True)
    return path, seconds * times


def run(tool, path, env):
    """The progress samples as (elapsed share, fraction), and the decoding seconds."""
    proc = subprocess.run([tool, "transcribe", path, "--locale", "en-US"], capture_output=True, text=True, env=env)
    if proc.returncode != 0:
        sys.exit(f"transcribe failed: {proc.stdout}")
    begin = end = None
    progress = []
    for line in proc.stderr.splitlines():
        entry = json.loads(line)
        t = float(entry["t"])
        if entry["event"] == "transcribe.analyzeSequence.begin":
            begin = t
        elif entry["event"] == "transcribe.analyzeSequence.end":
            end = t
        elif entry["event"] == "transcribe.progress":
            progress.append((t, entry["fraction"]))
    span = end - begin
    return [((t - begin) / span, fraction) for t, fraction in progress], span


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "tolva-speech")
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data"))
        path, seconds = five_minutes(tmp)
        print(f"file: {seconds:.1f} s of speech")
        worst_of_all = 0
        for number in range(1, runs + 1):
            samples, span = run(tool, path, env)
            worst = max(abs(fraction - share) for share, fraction in samples)
            worst_of_all = max(worst_of_all, worst)
            print(f"run {number}: {len(samples)} samples over {span:.1f} s of decoding, largest gap {worst * 100:.1f} points")
            print("  elapsed share -> fraction: " +
                  ", ".join(f"{share:.2f}->{fraction:.2f}" for share, fraction in samples))
        verdict = "within" if worst_of_all <= TARGET else "OUTSIDE"
        print(f"largest gap {worst_of_all * 100:.1f} points: {verdict} the {TARGET * 100:.0f}-point target")


if __name__ == "__main__":
    main()
