"""The written-text score: a token error rate against the sentences as they
are written, sensitive to case and punctuation, each punctuation mark a
token of its own ("Dr." and "Mr." are one token; so are "3:30", "$5.50",
"2,500" and "21st").

References whose numbers are written in another style than the one the
formatter documents (the man page's WRITTEN TEXT) are rewritten to that
style here; the sentences and the audio stay as they are.

The formatted text is made again from the words and times of one decoding
(`tolva-eval-decode text=timed`) by `tolva-eval-write`, which writes them as
the engine does; the raw text is the words alone, as TOLVA_SPEECH_TEXT=raw
gives them."""
import json
import os
import re
import subprocess

import scoring

# Sentence as written in sentences/ -> the same words in the documented style.
REWRITES = {
    "Our flight lands at eight in the evening, so don't wait up.":
        "Our flight lands at 8 in the evening, so don't wait up.",
    "The doctor wants to see me again in six weeks.": "The doctor wants to see me again in 6 weeks.",
    "I booked a table for four people at seven thirty.": "I booked a table for four people at 7:30.",
    "I have a job interview on Monday at ten in the morning.":
        "I have a job interview on Monday at 10 in the morning.",
    "I am stuck in traffic, I will be there in twenty minutes.":
        "I am stuck in traffic, I will be there in 20 minutes.",
    "I will be on vacation from the fifth to the nineteenth.":
        "I will be on vacation from the fifth to the 19th.",
    "The train leaves at a quarter past six, so we have to hurry.":
        "The train leaves at 6:15, so we have to hurry.",
    "We are meeting our friends for brunch on Sunday at eleven.":
        "We are meeting our friends for brunch on Sunday at 11.",
    "The kids are excited because school ends in two weeks.":
        "The kids are excited because school ends in 2 weeks.",
    "The repair will cost more than we expected, about 400 dollars.":
        "The repair will cost more than we expected, about $400.",
    "We need to leave the house by seven to catch the early flight.":
        "We need to leave the house by 7 to catch the early flight.",
    "The meeting room is booked from two until four.": "The meeting room is booked from two until 4.",
    "Can you tell the kids that we are leaving in five minutes?":
        "Can you tell the kids that we are leaving in 5 minutes?",
    "I will be about ten minutes late for the meeting this morning.":
        "I will be about 10 minutes late for the meeting this morning.",
    "The kids have a dentist appointment next Tuesday at four.":
        "The kids have a dentist appointment next Tuesday at 4.",
    "My sister is visiting us for two weeks in July.": "My sister is visiting us for 2 weeks in July.",
    "The repair man is coming between nine and eleven.": "The repair man is coming between nine and 11.",
    "The concert starts at eight, so let's have dinner first.":
        "The concert starts at 8, so let's have dinner first.",
    "I have a dentist appointment, so I will leave at three today.":
        "I have a dentist appointment, so I will leave at 3 today.",
    "Our team finished the project two days ahead of schedule.":
        "Our team finished the project 2 days ahead of schedule.",
}

TOKEN = re.compile(r"(?:Mrs|Mr|Ms|Dr)\.|\$?\d+(?:[,.:]\d+)*(?:%|st|nd|rd|th)?|[A-Za-z0-9']+(?:-[A-Za-z0-9']+)*|[.,?!;:]")


def written_reference(sentence):
    return REWRITES.get(sentence, sentence)


def tokens(text):
    return TOKEN.findall(text)


def utterance_errors(reference, hypothesis):
    """(errors, reference tokens) of one utterance."""
    ref = tokens(written_reference(reference))
    return scoring.word_errors(ref, tokens(hypothesis)), len(ref)


def score(utterances, texts):
    return scoring.Score([utterance_errors(u.reference, texts[u.key]) for u in utterances], [u.key for u in utterances])


def raw_text(timed):
    """The recognizer's words of a timed text, single-spaced."""
    return " ".join(item.rsplit("@", 1)[0] for item in timed.split() if item != "|")


def formatted_texts(build, timed_by_key, settings):
    """key -> (written text, CPU seconds of writing it), written by tolva-eval-write."""
    tool = os.path.join(build, "bench", "eval", "tolva-eval-write")
    if not os.access(tool, os.X_OK):
        raise SystemExit(f"{tool} is missing: build tolva-eval-write")
    keys = sorted(timed_by_key)
    out = subprocess.run(["nice", "-n", "10", tool, *settings], input="".join(timed_by_key[k] + "\n" for k in keys),
                         capture_output=True, text=True, check=True)
    lines = [json.loads(line) for line in out.stdout.splitlines()]
    return {k: (line["text"], line["cpuSec"]) for k, line in zip(keys, lines)}


def print_tables(chosen_sets, columns, decoded, build, settings):
    """The written-text table: raw and formatted per set and column, the
    normalised WER of each, and what writing the text costs."""
    labels = [r.label for r in columns if r.label != "peer"]
    rows = {}
    write_cpu = audio = 0.0
    for s in chosen_sets:
        for label in labels:
            timed = {u.key: decoded[(s.name, label)][u.wav].text for u in s.utterances}
            raw = {k: raw_text(t) for k, t in timed.items()}
            written = formatted_texts(build, timed, settings)
            formatted = {k: text for k, (text, _) in written.items()}
            write_cpu += sum(cpu for _, cpu in written.values())
            audio += sum(decoded[(s.name, label)][u.wav].audio_sec for u in s.utterances)
            rows[(s.name, label)] = (score(s.utterances, raw), score(s.utterances, formatted),
                                     scoring.score(s.utterances, raw), scoring.score(s.utterances, formatted))
    print("\nWritten text: token errors, case- and punctuation-sensitive, raw and formatted"
          + (f" ({' '.join(settings)})" if settings else "") + ":\n")
    print("| set | " + " | ".join(f"{label} raw | {label} formatted | formatted/raw" for label in labels) + " |")
    print("|---|" + "---|---|---|" * len(labels))
    for s in chosen_sets:
        cells = []
        for label in labels:
            raw, formatted = rows[(s.name, label)][:2]
            cells += [raw.cell(), formatted.cell(), f"{formatted.errors / raw.errors:.2f}" if raw.errors else "–"]
        print(f"| {s.name} | " + " | ".join(cells) + " |")
    print("\nNormalised WER of the same texts, raw and formatted:\n")
    print("| set | " + " | ".join(f"{label} raw | {label} formatted" for label in labels) + " |")
    print("|---|" + "---|---|" * len(labels))
    for s in chosen_sets:
        cells = []
        for label in labels:
            _, _, raw, formatted = rows[(s.name, label)]
            cells += [f"{100 * raw.wer:.2f}% ({raw.errors})", f"{100 * formatted.wer:.2f}% ({formatted.errors})"]
        print(f"| {s.name} | " + " | ".join(cells) + " |")
    decode_cpu = sum(d.cpu_sec for (name, label), by_key in decoded.items() if label in labels
                     for d in by_key.values())
    print(f"\nWriting the text: {write_cpu:.4f} CPU s for {audio:.0f} s of audio "
          f"({write_cpu / audio:.6f} s/s), {100 * write_cpu / decode_cpu:.3f}% of decoding's CPU time.")
