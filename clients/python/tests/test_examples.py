"""The demos in examples/ run against the scripted tool."""
from __future__ import annotations

import subprocess
import sys

from conftest import REPO

ENGLISH = {"supportedLocales": ["en_US"], "installedLocales": ["en_US"],
           "files": {"a.wav": {"sampleRate": 16000, "channels": 1, "length": 8000}}}


def run_example(name: str, *args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, str(REPO / "examples" / name), *args], capture_output=True, text=True,
                          timeout=60)


def test_dictate_replays_a_file(scripted, audio):
    scripted({**ENGLISH, "analyzer": {"results": [{"text": " Hello", "isFinal": False},
                                                  {"text": " Hello world", "isFinal": True}]}})
    run = run_example("dictate.py", "--replay", str(audio))
    assert run.returncode == 0, run.stderr
    assert run.stdout == "\u2026 Hello\nHello world\n"  # not a terminal: one line per update
    assert "session 1: 1 final, 1 volatile" in run.stderr


def test_dictate_without_a_sound_server_says_so_in_one_sentence(scripted):
    scripted({**ENGLISH, "capture": {"formatError": "cannot connect to the sound server: Connection refused"}})
    run = run_example("dictate.py")
    assert run.returncode == 1
    assert run.stderr.splitlines()[-1] == ("No sound server is running (PulseAudio or PipeWire), so there is no "
                                           "microphone to listen to.")


def test_transcribe_prints_timed_segments(scripted, audio):
    scripted({**ENGLISH, "analyzer": {"results": [{"text": " Hello", "start": 0, "end": 0.25},
                                                  {"text": " world.", "start": 61.5, "end": 62}]}})
    run = run_example("transcribe.py", str(audio))
    assert run.returncode == 0, run.stderr
    assert run.stdout == "[00:00.00 - 00:00.25] Hello\n[01:01.50 - 01:02.00] world.\n"
    assert "100%" in run.stderr


def test_feed_transcribes_the_speech_it_writes_into_a_fifo(scripted):
    scripted({**ENGLISH, "streams": {"audio.fifo": {"sampleRate": 22050, "length": 22050}},
              "analyzer": {"results": [{"text": " the quick", "isFinal": False},
                                       {"text": " the quick brown fox", "isFinal": True}]}})
    run = run_example("feed.py", "the quick brown fox")
    assert run.returncode == 0, run.stderr
    assert run.stdout == "\u2026 the quick\nthe quick brown fox\n"
    assert "session 1: 1 final, 1.0 s of audio fed" in run.stderr


def test_transcribe_prints_subtitles(scripted, audio):
    scripted({**ENGLISH, "analyzer": {"results": [
        {"text": " Hello world.", "start": 0.5, "end": 1.75,
         "words": [{"word": "Hello", "start": 0.5, "end": 1.0, "confidence": 0.9},
                   {"word": "world.", "start": 1.1, "end": 1.75, "confidence": 0.8}]}]}})
    run = run_example("transcribe.py", str(audio), "--srt")
    assert run.returncode == 0, run.stderr
    assert run.stdout == "1\n00:00:00,500 --> 00:00:01,750\nHello world.\n\n"
