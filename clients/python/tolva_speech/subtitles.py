"""Subtitle cues from a transcript's word times, written as SubRip or WebVTT.

The cues follow the rules the tool's own `--format srt|vtt` follows: at most
2 lines of 42 characters, at most 7 s on screen, cut at a sentence end, a
pause or a phrase boundary where one is near, never inside a word, never
overlapping. Segments without words lend their text's words spread over
their time.
"""
from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from .documents import Segment

LINE_CHARS = 42
LINES = 2
MAX_SECONDS = 7.0
MIN_SECONDS = 1.0

_BINDS_FORWARD = {"a", "an", "the", "this", "these", "those", "my", "your", "his", "her", "its", "our", "their",
                  "very", "no", "every"}
_CLAUSE_STARTS = {"and", "but", "or", "so", "because", "which", "who", "whom", "whose", "when", "where", "while",
                  "if", "although", "though", "until", "unless", "since", "whether", "then", "yet"}
_PHRASE_STARTS = {"to", "of", "in", "on", "at", "for", "with", "from", "by", "into", "about", "through", "after",
                  "before", "over", "under", "that", "as"}


@dataclass
class _Word:
    text: str
    start: float
    end: float
    ends_segment: bool = False


@dataclass
class Cue:
    """One subtitle: times in whole milliseconds and its lines."""
    start_ms: int
    end_ms: int
    lines: list[str]


def _segment_words(segment: Segment) -> list[_Word]:
    if segment.words:
        return [_Word(w.word, w.start, w.end) for w in segment.words]
    texts = segment.text.split()
    characters = sum(len(t) + 1 for t in texts)
    per_char = (segment.end - segment.start) / characters if characters else 0.0
    words, at = [], segment.start
    for text in texts:
        words.append(_Word(text, at, at + len(text) * per_char))
        at += (len(text) + 1) * per_char
    return words


def _all_words(segments: Sequence[Segment]) -> list[_Word]:
    words: list[_Word] = []
    for segment in segments:
        own = _segment_words(segment)
        if own:
            own[-1].ends_segment = True
            words += own
    return words


def _letters(word: str) -> str:
    return "".join(c for c in word.lower() if c.isascii() and c.isalpha() or c == "'")


def _cut_strength(words: list[_Word], i: int) -> float:
    if i + 1 >= len(words) or words[i].ends_segment:
        return 3.0
    mark = words[i].text.rstrip("\"')]")[-1:]
    pause = max(words[i + 1].start - words[i].end, 0.0)
    if mark in (".", "!", "?") or pause >= 0.5:
        return 3.0
    if _letters(words[i].text) in _BINDS_FORWARD:
        return 1.0 if pause >= 0.2 else 0.0
    strength = 2.0 if pause >= 0.2 else 0.0
    following = _letters(words[i + 1].text)
    if mark in (",", ";", ":"):
        strength = max(strength, 1.5)
    elif following in _CLAUSE_STARTS:
        strength = max(strength, 1.0)
    elif following in _PHRASE_STARTS:
        strength = max(strength, 0.5)
    if strength >= 2 and (mark == "," or following in _CLAUSE_STARTS):
        strength = 2.5
    return strength


def _lines(texts: list[str]) -> list[str] | None:
    """The words on at most two balanced lines, or None when they do not fit."""
    whole = " ".join(texts)
    if len(whole) <= LINE_CHARS:
        return [whole]
    best: tuple[int, list[str]] | None = None
    for cut in range(1, len(texts)):
        top, bottom = " ".join(texts[:cut]), " ".join(texts[cut:])
        if len(top) <= LINE_CHARS and len(bottom) <= LINE_CHARS:
            difference = abs(len(top) - len(bottom))
            if best is None or difference < best[0]:
                best = (difference, [top, bottom])
    return best[1] if best else None


def cues(segments: Sequence[Segment]) -> list[Cue]:
    """The cues of the segments' words, in order."""
    words = _all_words(segments)
    result: list[Cue] = []
    first = 0
    while first < len(words):
        def fits(last: int) -> bool:
            return (words[last].end - words[first].start <= MAX_SECONDS
                    and _lines([w.text for w in words[first:last + 1]]) is not None)

        longest = first
        while longest + 1 < len(words) and fits(longest + 1):
            longest += 1
        last = longest
        if longest + 1 < len(words):
            def score(end: int) -> float:
                chars = len(" ".join(w.text for w in words[first:end + 1])) / (LINE_CHARS * LINES)
                seconds = (words[end].end - words[first].start) / MAX_SECONDS
                return _cut_strength(words, end) + min(max(chars, seconds), 1.0)

            last = max(range(first, longest + 1), key=lambda end: (score(end), end))
        texts = [w.text for w in words[first:last + 1]]
        result.append(Cue(round(words[first].start * 1000), round(words[last].end * 1000),
                          _lines(texts) or [" ".join(texts)]))
        first = last + 1
    for i, cue in enumerate(result):
        if i:
            cue.start_ms = max(cue.start_ms, result[i - 1].end_ms)
        cue.end_ms = min(max(cue.end_ms, cue.start_ms + 1), cue.start_ms + round(MAX_SECONDS * 1000))
        if cue.end_ms - cue.start_ms < MIN_SECONDS * 1000:
            room = result[i + 1].start_ms if i + 1 < len(result) else cue.start_ms + round(MIN_SECONDS * 1000)
            cue.end_ms = max(cue.end_ms, min(cue.start_ms + round(MIN_SECONDS * 1000), room))
    return result


def _timestamp(ms: int, separator: str) -> str:
    seconds, millis = divmod(max(ms, 0), 1000)
    return f"{seconds // 3600:02d}:{seconds // 60 % 60:02d}:{seconds % 60:02d}{separator}{millis:03d}"


def srt_text(segments: Sequence[Segment]) -> str:
    out = []
    for number, cue in enumerate(cues(segments), start=1):
        out.append(f"{number}\n{_timestamp(cue.start_ms, ',')} --> {_timestamp(cue.end_ms, ',')}\n")
        out.append("".join(line + "\n" for line in cue.lines) + "\n")
    return "".join(out)


def vtt_text(segments: Sequence[Segment]) -> str:
    out = ["WEBVTT\n\n"]
    for cue in cues(segments):
        out.append(f"{_timestamp(cue.start_ms, '.')} --> {_timestamp(cue.end_ms, '.')}\n")
        for line in cue.lines:
            out.append(line.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;") + "\n")
        out.append("\n")
    return "".join(out)
