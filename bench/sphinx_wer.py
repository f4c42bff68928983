#!/usr/bin/env python3
"""Word error rate of `tolva-speech transcribe` and of the distribution's
pocketsphinx_continuous on the librivox clips of pocketsphinx-testdata, alone
and joined into longer audio (back to back, with 1 s pauses, in pairs), built
with sox at run time. Prints one line per audio set and tool.

usage: bench/sphinx_wer.py [path/to/tolva-speech]
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time

LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"


def references():
    """Clip id -> reference words (lowercase, without sentence marks)."""
    refs = {}
    with open(os.path.join(LIBRIVOX, "transcription")) as lines:
        for line in lines:
            match = re.match(r"(.*)\((\S+)\)\s*$", line)
            if match:
                words = [w for w in match.group(1).lower().split() if w not in ("<s>", "</s>")]
                refs[match.group(2)] = words
    return refs


def word_errors(ref, hyp):
    """Word-level edit distance."""
    row = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        diagonal, row[0] = row[0], i
        for j, h in enumerate(hyp, 1):
            diagonal, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, diagonal + (r != h))
    return row[-1]


def audio_sets(tmp, ids):
    """Set name -> list of (wav path, clip ids it holds)."""
    clip = {i: os.path.join(LIBRIVOX, i + ".wav") for i in ids}
    pause = os.path.join(tmp, "pause.wav")
    subprocess.run(["sox", "-n", "-r", "16000", "-c", "1", "-b", "16", pause, "trim", "0", "1"], check=True)

    def joined(name, parts):
        path = os.path.join(tmp, name + ".wav")
        subprocess.run(["sox", *parts, path], check=True)
        return path

    gapped = [p for i in ids for p in (clip[i], pause)][:-1]
    pairs = [(ids[k], ids[(k + 1) % len(ids)]) for k in range(len(ids))]
    return {
        "5 clips": [(clip[i], [i]) for i in ids],
        "joined 25 s": [(joined("joined", [clip[i] for i in ids]), ids)],
        "1 s pauses 29 s": [(joined("gapped", gapped), ids)],
        "5 pairs": [(joined(f"pair{k}", [clip[a], clip[b]]), [a, b]) for k, (a, b) in enumerate(pairs)],
    }


def tolva_text(tool, path, env):
    out = subprocess.run([tool, "transcribe", path, "--locale", "en-US"], capture_output=True, text=True, env=env)
    if out.returncode != 0:
        sys.exit(f"tolva-speech failed on {path}: {out.stdout}")
    return json.loads(out.stdout)["transcript"]


def peer_text(path, env):
    out = subprocess.run(["pocketsphinx_continuous", "-infile", path, "-logfn", "/dev/null"],
                         capture_output=True, text=True, env=env, check=True)
    return " ".join(out.stdout.split())


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else "build/tolva-speech"
    refs = references()
    ids = sorted(refs)
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data"))
        for name, items in audio_sets(tmp, ids).items():
            for label, run in (("tolva-speech", lambda p: tolva_text(tool, p, env)),
                               ("pocketsphinx_continuous", lambda p: peer_text(p, env))):
                errors = words = 0
                start = time.monotonic()
                for path, clip_ids in items:
                    ref = [w for i in clip_ids for w in refs[i]]
                    errors += word_errors(ref, run(path).lower().split())
                    words += len(ref)
                wall = time.monotonic() - start
                print(f"{name:16} {label:24} WER {100 * errors / words:5.1f}% ({errors}/{words})  {wall:.1f} s")


if __name__ == "__main__":
    main()
