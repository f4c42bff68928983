"""The one-shot commands against the scripted tool and misbehaving stand-ins."""
from __future__ import annotations

import os
import signal
from pathlib import Path

import pytest

import tolva_speech as ts
from tolva_speech import Install, Probe, Segment, TolvaSpeechError, Transcript

ENGLISH = {"supportedLocales": ["de_DE", "en_US"], "installedLocales": ["en_US"],
           "files": {"a.wav": {"sampleRate": 16000, "channels": 1, "length": 32000}}}


def test_probe_returns_the_document(scripted):
    scripted(ENGLISH)
    probe = ts.probe("en-US")
    assert isinstance(probe, Probe)
    assert probe.is_available is True
    assert probe.supported_locales == ["de_DE", "en_US"]
    assert probe.installed_locales == ["en_US"]
    assert probe.requested_locale == "en-US"
    assert probe.requested_locale_resolved == "en_US"
    assert probe.requested_locale_status == "installed"
    assert probe.maximum_reserved_locales == 5


def test_transcribe_returns_segments_and_reports_progress(scripted, audio):
    # The analysis lasts 1.5 s, so the tool logs progress more than once.
    scripted({**ENGLISH, "analyzer": {"results": [
        {"text": " Hello", "start": 0, "end": 1.25, "alternatives": 2, "delayMs": 1500},
        {"text": " world.", "start": 1.25, "end": 2, "alternatives": 1}]}})
    fractions: list[float] = []
    result = ts.transcribe(audio, on_progress=fractions.append)
    assert isinstance(result, Transcript)
    assert result.transcript == "Hello world."
    assert result.segments == [Segment(0.0, 1.25, " Hello"), Segment(1.25, 2.0, " world.")]
    assert isinstance(result.segments[0].start, float)
    assert (result.locale_used, result.locale_requested, result.duration) == ("en_US", "en-US", 2.0)
    assert result.alternatives_count == 3
    assert len(fractions) >= 2
    assert fractions == sorted(fractions) and all(0 <= f <= 1 for f in fractions)
    assert fractions[-1] == 1.0


def test_install_reports_the_download_fractions(scripted):
    scripted({"supportedLocales": ["de_DE"], "install": {
        "progress": [{"atMs": 0, "fraction": 0.25}, {"atMs": 600, "fraction": 0.75}], "durationMs": 1300}})
    fractions: list[float] = []
    result = ts.install("de-DE", on_progress=fractions.append)
    assert isinstance(result, Install)
    assert (result.resolved_locale, result.status_before, result.status_after) == ("de_DE", "supported", "installed")
    assert result.install_requested and result.reserved
    assert fractions[0] == 0.25 and 0.75 in fractions
    assert result.progress_samples == [f"{f:.3f}" for f in fractions]


@pytest.mark.parametrize("call, scenario, code, message, detail", [
    (lambda a: ts.transcribe("/no/such.wav"), ENGLISH, "no-such-file", "audio file not found: /no/such.wav", None),
    (lambda a: ts.transcribe(a, locale="xx-XX"), ENGLISH, "unsupported-locale",
     "SpeechTranscriber has no model for 'xx-XX' \u2014 it supports only 2 locales; there is no download that adds it",
     "de_DE,en_US"),
    (lambda a: ts.transcribe(a, locale="de-DE"), ENGLISH, "asset-not-installed",
     "locale assets for de_DE are 'supported' \u2014 rerun with --auto-install or run `install` first", None),
    (lambda a: ts.install("de-DE"), {"reservedLocales": ["a_A", "b_B", "c_C", "d_D", "e_E"]},
     "locale-reservation-full", "no free AssetInventory reservation slot for de_DE", "reserved=5 maximum=5"),
    (lambda a: ts.install("de-DE"), {"install": {"downloadError": "disk full"}},
     "install-failed", "downloadAndInstall threw", "disk full"),
    (lambda a: ts.release(""), {}, "locale-not-regioned",
     "release requires a locale with a region subtag (e.g. de-DE); got ''", None),
], ids=["no-such-file", "unsupported-locale", "not-installed", "reservation-full", "install-failed", "release"])
def test_error_documents_raise_their_code_message_and_detail(scripted, audio, call, scenario, code, message, detail):
    scripted(scenario)
    with pytest.raises(TolvaSpeechError) as raised:
        call(audio)
    assert (raised.value.code, raised.value.message, raised.value.detail) == (code, message, detail)


@pytest.mark.parametrize("body, code, words", [
    ("echo 'usage: tolva-speech ...' >&2; exit 2", "usage", "usage: tolva-speech"),
    ("kill -SEGV $$", "crashed", "SIGSEGV"),
    ("echo 'not json'", "crashed", "not json"),
    ("exit 0", "crashed", "no JSON document"),
    ("echo '[1]'; exit 0", "crashed", "not a JSON object"),
    ("echo '{\"transcript\":\"\"}'", "crashed", "'segments'"),
    ("echo '{\"error\":\"encode-failed\"}'", "encode-failed", ""),
], ids=["usage", "signal", "unparsable", "silent", "array", "incomplete", "encode-failed"])
def test_a_misbehaving_tool_is_an_error(fake_tool, body, code, words):
    with pytest.raises(TolvaSpeechError) as raised:
        ts.transcribe("a.wav", tool=fake_tool(body), timeout=30)
    assert raised.value.code == code
    assert words in str(raised.value)


def test_a_chatty_log_does_not_stall_the_tool(fake_tool):
    # 4 MB of log lines before the document: more than any pipe buffer holds.
    body = ("i=0; while [ $i -lt 40000 ]; do "
            "echo '{\"event\":\"transcribe.progress\",\"fraction\":0.5,\"padding\":\"" + "x" * 60 + "\"}' >&2; "
            "i=$((i+1)); done; echo '{\"locale\":\"de-DE\",\"resolvedLocale\":\"de_DE\",\"released\":true}'")
    assert ts.release("de-DE", tool=fake_tool(body), timeout=120).released is True


def test_a_tool_that_does_not_answer_is_killed_after_the_timeout(fake_tool):
    with pytest.raises(TolvaSpeechError) as raised:
        ts.probe(tool=fake_tool("exec sleep 60"), timeout=0.5)
    assert raised.value.code == "timeout"


def test_the_tool_is_found_by_argument_then_variable_then_path(scripted, fake_tool, tmp_path, monkeypatch):
    binary = scripted(ENGLISH)
    other = fake_tool("exit 3")
    on_path = tmp_path / "bin"
    on_path.mkdir()
    (on_path / "tolva-speech").symlink_to(other)
    monkeypatch.setenv("PATH", str(on_path))
    assert ts.find_tool(other) == str(other)
    assert ts.find_tool() == str(binary)
    monkeypatch.delenv("TOLVA_SPEECH")
    assert ts.find_tool() == str(on_path / "tolva-speech")
    monkeypatch.setenv("PATH", str(tmp_path / "empty"))
    with pytest.raises(TolvaSpeechError) as raised:
        ts.probe()
    assert raised.value.code == "tool-not-found"
    with pytest.raises(TolvaSpeechError) as raised:
        ts.probe(tool=tmp_path / "missing")
    assert raised.value.code == "tool-not-found"
