"""Word error rates: normalised words, errors per utterance, and 95%
bootstrap intervals that resample whole sentences (a cluster bootstrap)."""
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


def clusters_of(counts, keys=None):
    """Per-utterance rows summed by cluster key (one cluster per row without
    keys), in the order the keys first appear. A row is a tuple of numbers."""
    if keys is None:
        return [tuple(row) for row in counts]
    summed = {}
    for key, row in zip(keys, counts):
        before = summed.get(key)
        summed[key] = tuple(row) if before is None else tuple(a + b for a, b in zip(before, row))
    return list(summed.values())


def _percentiles(values):
    values.sort()
    return values[int(0.025 * len(values))], values[int(0.975 * len(values)) - 1]


def bootstrap_interval(counts, keys=None, reps=1000, seed=14):
    """95% interval of the WER when whole clusters are resampled with
    replacement; counts are (errors, words) per utterance and keys their
    clusters (the sentence each was spoken from: a sentence's voices and
    degraded copies stand or fall together). Without keys every utterance is
    its own cluster."""
    rng = random.Random(seed)
    groups = clusters_of(counts, keys)
    n = len(groups)
    rates = []
    for _ in range(reps):
        errors = words = 0
        for _ in range(n):
            e, w = groups[rng.randrange(n)]
            errors += e
            words += w
        rates.append(errors / words if words else 0.0)
    return _percentiles(rates)


def paired_difference_interval(ours, theirs, keys=None, reps=1000, seed=14):
    """95% interval of WER(ours) - WER(theirs), resampling whole clusters of
    both jointly; `ours` and `theirs` are (errors, words) per utterance in the
    same order, `keys` their clusters."""
    rng = random.Random(seed)
    groups = clusters_of([(a[0], b[0], a[1]) for a, b in zip(ours, theirs)], keys)
    n = len(groups)
    diffs = []
    for _ in range(reps):
        e1 = e2 = words = 0
        for _ in range(n):
            a, b, w = groups[rng.randrange(n)]
            e1 += a
            e2 += b
            words += w
        diffs.append((e1 - e2) / words if words else 0.0)
    return _percentiles(diffs)


class Score:
    """Errors and words of one tool on one set, per utterance, with the
    cluster (sentence) of each utterance."""

    def __init__(self, counts, keys=None):
        self.counts = counts
        self.keys = list(keys) if keys is not None else list(range(len(counts)))
        self.errors = sum(e for e, _ in counts)
        self.words = sum(w for _, w in counts)

    @property
    def wer(self):
        return self.errors / self.words if self.words else 0.0

    def cell(self):
        low, high = bootstrap_interval(self.counts, self.keys)
        return f"{100 * self.wer:.1f}% ({self.errors}/{self.words}) [{100 * low:.1f}–{100 * high:.1f}]"


def pooled(scores):
    """One Score over several sets; an utterance keeps its sentence's cluster."""
    return Score([c for s in scores for c in s.counts], [k for s in scores for k in s.keys])


def score(utterances, texts):
    """Score of hypotheses `texts` (key -> text) over `utterances`, each
    clustered by its key (the sentence it was spoken from)."""
    return Score([utterance_errors(u.reference, texts[u.key]) for u in utterances], [u.key for u in utterances])
