#!/usr/bin/env python3
"""The recognition guard's audio and scoring (tests/e2e/recognition_guard_test.cpp),
by the evaluation's own recipes and rules, so that the guard measures what the
evaluation measures, on a small part of the dev half.

usage: bench/eval/guard.py audio DIR
           Speaks every 8th dev sentence (20) with each voice, makes their
           telephone-band and 20 dB noise copies (the voices alternating, as
           in the evaluation's degraded sets) under DIR, and prints one JSON
           line per file, {"set", "wav", "reference"}: the sets "slt", "kal",
           "telephone", "noise 20 dB" and "librivox" (the five clips).
       bench/eval/guard.py score
           Reads JSON lines {"reference", "hypothesis"} and prints
           "errors words" for each, scored as the evaluation scores.
"""
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import scoring  # noqa: E402
import sets as eval_sets  # noqa: E402

SENTENCES = 20
DEGRADED = ("telephone", "noise 20 dB")


def guard_sentences():
    return eval_sets.sentences("dev")[::8][:SENTENCES]


def audio(directory):
    texts = guard_sentences()
    spoken = {voice: eval_sets.synthesize(voice, texts, os.path.join(directory, voice)) for voice in eval_sets.VOICES}
    lines = [("librivox", u.wav, u.reference) for u in eval_sets.librivox_set().utterances]
    for voice, paths in spoken.items():
        lines += [(voice, path, text) for path, text in zip(paths, texts)]
    mixed = [spoken["slt" if i % 2 == 0 else "kal"][i] for i in range(len(texts))]
    for name in DEGRADED:
        recipe = eval_sets.DEGRADATIONS[name]
        for i, (clean, text) in enumerate(zip(mixed, texts)):
            path = os.path.join(directory, f"{name.replace(' ', '-')}-{i:02d}.wav")
            eval_sets.degrade(clean, recipe, path)
            lines.append((name, path, text))
    for set_name, wav, reference in lines:
        print(json.dumps({"set": set_name, "wav": wav, "reference": reference}))


def score():
    for line in sys.stdin:
        if line.strip():
            item = json.loads(line)
            errors, words = scoring.utterance_errors(item["reference"], item["hypothesis"])
            print(errors, words)


def main():
    if sys.argv[1:2] == ["audio"] and len(sys.argv) == 3:
        audio(sys.argv[2])
    elif sys.argv[1:] == ["score"]:
        score()
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
