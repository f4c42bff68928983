"""The evaluation's scoring rules and its bootstrap intervals (pytest)."""
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scoring  # noqa: E402


@pytest.mark.parametrize("number, words", [
    (0, "zero"),
    (7, "seven"),
    (13, "thirteen"),
    (20, "twenty"),
    (42, "forty two"),
    (100, "one hundred"),
    (250, "two hundred fifty"),
    (1000, "one thousand"),
    (1905, "one thousand nine hundred five"),
    (21017, "twenty one thousand seventeen"),
    (1000000, "1000000"),
])
def test_number_words_as_festival_speaks_them(number, words):
    assert scoring.number_words(number) == words.split()


@pytest.mark.parametrize("text, words", [
    ("Mr. Smith paid $250, OK?", "mister smith paid two hundred fifty dollars okay"),
    ("Dr Jones and Mrs Lee", "doctor jones and missus lee"),
    ("It's 1,000 miles; don't 'worry'.", "it's one thousand miles don't worry"),
    ("  \u2014 ''  ", ""),
    ("mister okay", "mister okay"),
])
def test_normalise_folds_case_punctuation_numbers_and_spoken_forms(text, words):
    assert scoring.normalise(text) == words.split()


def test_utterance_errors_count_against_the_normalised_reference():
    assert scoring.utterance_errors("Mr. Brown has 2 cats.", "mister brown has two hats") == (1, 5)


def test_clusters_sum_the_rows_of_one_key_in_first_seen_order():
    rows = [(1, 10), (2, 5), (0, 4), (3, 6)]
    assert scoring.clusters_of(rows, ["b", "a", "b", "a"]) == [(1, 14), (5, 11)]
    assert scoring.clusters_of(rows) == rows


def test_copies_of_a_sentence_resample_together():
    # Seven copies of each sentence (two voices, five degradations) are one
    # cluster: their interval is the interval of the sentences themselves,
    # and wider than the one that takes the copies as independent.
    sentences = [(e, 10) for e in (0, 1, 3, 0, 5, 2, 1, 0, 4, 2, 0, 1)]
    copies = [row for row in sentences for _ in range(7)]
    keys = [i for i in range(len(sentences)) for _ in range(7)]
    summed = [(7 * e, 7 * w) for e, w in sentences]
    clustered = scoring.bootstrap_interval(copies, keys)
    assert clustered == scoring.bootstrap_interval(summed)
    low, high = scoring.bootstrap_interval(copies)
    assert high - low < clustered[1] - clustered[0]


def test_intervals_hold_the_rate_and_collapse_without_spread():
    rows = [(e, 10) for e in (0, 1, 3, 0, 5, 2, 1, 0, 4, 2)]
    low, high = scoring.bootstrap_interval(rows)
    assert low <= scoring.Score(rows).wer <= high
    assert scoring.bootstrap_interval([(2, 10)] * 8) == (0.2, 0.2)


def test_paired_difference_of_a_tool_with_itself_is_zero_and_sign_follows_ours():
    ours = [(e, 10) for e in (0, 1, 3, 0, 5, 2)]
    assert scoring.paired_difference_interval(ours, ours, keys=[0, 0, 1, 1, 2, 2]) == (0.0, 0.0)
    worse = [(e + 1, w) for e, w in ours]
    low, high = scoring.paired_difference_interval(worse, ours)
    assert low == pytest.approx(0.1) and high == pytest.approx(0.1)


def test_pooled_scores_keep_each_utterances_sentence():
    class Utterance:
        def __init__(self, key, reference):
            self.key, self.reference = key, reference

    clean = scoring.score([Utterance("dev-000", "one two"), Utterance("dev-001", "three")],
                          {"dev-000": "one two", "dev-001": "tree"})
    noisy = scoring.score([Utterance("dev-000", "one two"), Utterance("dev-001", "three")],
                          {"dev-000": "one", "dev-001": "three"})
    pooled = scoring.pooled([clean, noisy])
    assert (pooled.errors, pooled.words) == (2, 6)
    assert scoring.clusters_of(pooled.counts, pooled.keys) == [(1, 4), (1, 2)]
