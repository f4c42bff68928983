"""Word times and subtitles through the client, against the scripted tool."""
from __future__ import annotations

import os
import subprocess

import tolva_speech as ts
from tolva_speech import Segment, Word

ENGLISH = {"supportedLocales": ["en_US"], "installedLocales": ["en_US"],
           "files": {"a.wav": {"sampleRate": 16000, "channels": 1, "length": 16000 * 30}}}


def _word(text: str, start: float, end: float, confidence: float = 0.9) -> dict[str, object]:
    return {"word": text, "start": start, "end": end, "confidence": confidence}


def _speech() -> dict[str, object]:
    """Two results whose words run past every limit of a cue."""
    first = "when the rain came we ran back along the shore, past the boats and the nets, to the house".split()
    second = "nobody said a word. The fire was lit and the kettle sang on the stove all evening".split()
    results = []
    for index, texts in enumerate((first, second)):
        start = 1.0 + index * 12
        words = [_word(t, start + 0.45 * i, start + 0.45 * i + 0.4, 0.5 + 0.02 * i) for i, t in enumerate(texts)]
        results.append({"text": " " + " ".join(texts), "start": words[0]["start"], "end": words[-1]["end"],
                        "words": words})
    return {**ENGLISH, "analyzer": {"results": results}}


def test_words_come_with_their_times_and_confidence(scripted, audio):
    scripted(_speech())
    result = ts.transcribe(audio, words=True)
    first = result.segments[0]
    assert first.words is not None and first.words[0] == Word("when", 1.0, 1.4, 0.5)
    assert " " + " ".join(w.word for w in first.words) == first.text
    assert ts.transcribe(audio).segments[0].words is None


def test_max_segment_cuts_long_segments(scripted, audio):
    scripted(_speech())
    result = ts.transcribe(audio, max_segment=5)
    assert len(result.segments) > 2
    assert all(s.end - s.start <= 5 for s in result.segments)


def test_subtitles_match_the_tools_own(scripted, audio):
    binary = scripted(_speech())
    result = ts.transcribe(audio, words=True)
    for method, form in ((result.to_srt, "srt"), (result.to_vtt, "vtt")):
        tool = subprocess.run([str(binary), "transcribe", str(audio), "--locale", "en-US", "--format", form],
                              capture_output=True, text=True, env=os.environ, timeout=60, check=True)
        assert method() == tool.stdout
    assert result.to_srt().startswith("1\n00:00:01,000 --> ")


def test_segments_without_words_still_make_subtitles():
    transcript = ts.Transcript("hi there", [Segment(0.5, 1.5, " hi there")])
    assert transcript.to_srt() == "1\n00:00:00,500 --> 00:00:01,500\nhi there\n\n"
    assert transcript.to_vtt() == "WEBVTT\n\n00:00:00.500 --> 00:00:01.500\nhi there\n\n"


def test_listen_finals_carry_words_when_asked(scripted, audio):
    hello = [_word("hello", 0.5, 0.9, 0.93), _word("world", 0.95, 1.4, 0.25)]
    half_a_second = {"a.wav": {"sampleRate": 16000, "channels": 1, "length": 8000}}
    scripted({**ENGLISH, "files": half_a_second, "analyzer": {"results": [
        {"text": " hello", "isFinal": False, "delayMs": 50},
        {"text": " hello world", "isFinal": True, "delayMs": 50, "words": hello}]}})
    with ts.Listener() as listener:
        for words, expected in ((True, [Word("hello", 0.5, 0.9, 0.93), Word("world", 0.95, 1.4, 0.25)]),
                                (False, None)):
            finals = [e for e in listener.start("en-US", replay=audio, words=words) if isinstance(e, ts.Final)]
            assert [f.words for f in finals] == [expected]
