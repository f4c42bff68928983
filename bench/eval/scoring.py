"""Word error rates: normalised words, errors per utterance, and a 95%
bootstrap interval over utterances."""
import os
import random
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from sphinx_wer import word_errors  # noqa: E402,F401  (word-level edit distance)

# Spellings of one spoken word; both sides are mapped to the right-hand form.
SPOKEN_FORMS = {"mr": "mister", "mrs": "missus", "dr": "doctor", "ok": "okay", "pm": "p m"}

ONES = ("zero one two three four five six seven eight nine ten eleven twelve thirteen fourteen fifteen sixteen "
        "seventeen eighteen nineteen").split()
TENS = "_ _ twenty thirty forty fifty sixty seventy eighty ninety".split()


def number_words(n):
    """Cardinal words as Festival speaks them: 250 -> two hundred fifty."""
    if n < 20:
        return [ONES[n]]
    if n < 100:
        return [TENS[n // 10]] + ([ONES[n % 10]] if n % 10 else [])
    if n < 1000:
        return [ONES[n // 100], "hundred"] + (number_words(n % 100) if n % 100 else [])
    if n < 1000000:
        return number_words(n // 1000) + ["thousand"] + (number_words(n % 1000) if n % 1000 else [])
    return [str(n)]


ORDINAL_ENDINGS = {"one": "first", "two": "second", "three": "third", "five": "fifth", "eight": "eighth",
                   "nine": "ninth", "twelve": "twelfth"}


def ordinal_words(n):
    words = number_words(n)
    last = words[-1]
    words[-1] = ORDINAL_ENDINGS.get(last) or (last[:-1] + "ieth" if last.endswith("y") else last + "th")
    return words


def spoken_forms(text):
    """Written amounts as they are said: $5.50 -> 5 dollars and 50 cents,
    15% -> 15 percent, 21st -> twenty first, 4 PM -> 4 p m."""
    def money(match):
        dollars, cents = match.group(1).replace(",", ""), match.group(2)
        said = dollars + (" dollar" if dollars == "1" else " dollars")
        return said + (f" and {int(cents)} cents" if cents else "")

    text = re.sub(r"\$([\d,]+)(?:\.(\d\d))?", money, text)
    text = re.sub(r"(\d)%", r"\1 percent", text)
    text = re.sub(r"\b(\d+)(?:st|nd|rd|th)\b", lambda m: " ".join(ordinal_words(int(m.group(1)))), text)
    return re.sub(r"\b([AP])M\b", lambda m: m.group(1).lower() + " m", text)


def normalise(text):
    """Lower-case words without punctuation; numbers as words; one spelling
    per spoken word (mr and mister count as the same word)."""
    words = []
    for token in re.findall(r"[a-z0-9']+", spoken_forms(text).lower().replace(",", "")):
        token = token.strip("'")
        if not token:
            continue
        if token.isdigit():
            words.extend(number_words(int(token)))
        else:
            words.extend(SPOKEN_FORMS.get(token, token).split())
    return words


def utterance_errors(reference, hypothesis):
    """(errors, reference words) of one utterance."""
    ref = normalise(reference)
    return word_errors(ref, normalise(hypothesis)), len(ref)


def bootstrap_interval(counts, reps=1000, seed=14):
    """95% interval of the WER when the utterances are resampled with
    replacement; counts are (errors, words) per utterance."""
    rng = random.Random(seed)
    n = len(counts)
    rates = []
    for _ in range(reps):
        errors = words = 0
        for _ in range(n):
            e, w = counts[rng.randrange(n)]
            errors += e
            words += w
        rates.append(errors / words if words else 0.0)
    rates.sort()
    return rates[int(0.025 * reps)], rates[int(0.975 * reps) - 1]


def paired_difference_interval(ours, theirs, reps=1000, seed=14):
    """95% interval of WER(ours) - WER(theirs), resampling utterances jointly."""
    rng = random.Random(seed)
    n = len(ours)
    diffs = []
    for _ in range(reps):
        e1 = e2 = words = 0
        for _ in range(n):
            i = rng.randrange(n)
            e1 += ours[i][0]
            e2 += theirs[i][0]
            words += ours[i][1]
        diffs.append((e1 - e2) / words if words else 0.0)
    diffs.sort()
    return diffs[int(0.025 * reps)], diffs[int(0.975 * reps) - 1]


class Score:
    """Errors and words of one tool on one set, per utterance."""

    def __init__(self, counts):
        self.counts = counts
        self.errors = sum(e for e, _ in counts)
        self.words = sum(w for _, w in counts)

    @property
    def wer(self):
        return self.errors / self.words if self.words else 0.0

    def cell(self):
        low, high = bootstrap_interval(self.counts)
        return f"{100 * self.wer:.1f}% ({self.errors}/{self.words}) [{100 * low:.1f}–{100 * high:.1f}]"


def score(utterances, texts):
    """Score of hypotheses `texts` (key -> text) over `utterances`."""
    return Score([utterance_errors(u.reference, texts[u.key]) for u in utterances])
