"""Listener against the scripted tool and misbehaving stand-ins."""
from __future__ import annotations

import threading

import pytest

from tolva_speech import (CaptureSource, CaptureStarted, Final, Listener, SessionEnded, SessionError,
                          TolvaSpeechError, Volatile, devices)

RESULTS = [{"text": " Hello", "isFinal": False, "delayMs": 50},
           {"text": " Hello world", "isFinal": True, "delayMs": 50}]
ENGLISH = {"supportedLocales": ["de_DE", "en_US"], "installedLocales": ["en_US"],
           "files": {"a.wav": {"sampleRate": 16000, "channels": 1, "length": 8000}},
           "analyzer": {"results": RESULTS}}
READY = '{"event":"ready","seq":1,"tMs":0,"pid":1,"protocol":1}'


def test_a_replay_session_yields_typed_events_and_ends(scripted, audio):
    scripted(ENGLISH)
    with Listener() as listener:
        assert listener.ready["protocol"] == 1
        session = listener.start("en-US", replay=audio, chunk_ms=50)
        assert (session.number, session.locale, session.mode) == (1, "en_US", "replay")
        events = list(session)
        assert [type(e) for e in events] == [CaptureStarted, Volatile, Final, SessionEnded]
        assert events[1].text == " Hello" and events[2].text == " Hello world"
        ended = events[-1]
        assert (ended.volatile_count, ended.final_count, ended.audio_fed_ms, ended.failed) == (1, 1, 500, False)
        assert session.ended == ended
        assert list(session) == []
    assert listener.exit_status == 0


def test_refusals_are_raised_in_the_caller(scripted):
    scripted(ENGLISH)
    with Listener() as listener:
        for locale, code, words in [("de", "locale-not-regioned", "locale 'de' has no region subtag"),
                                    ("xx-XX", "locale-unsupported", "has no model for 'xx-XX'"),
                                    ("de-DE", "locale-not-installed", "assets for 'de_DE' report 'supported'")]:
            with pytest.raises(TolvaSpeechError) as raised:
                listener.start(locale)
            assert raised.value.code == code
            assert words in raised.value.message
        with pytest.raises(TolvaSpeechError) as raised:
            listener.stop()
        assert (raised.value.code, raised.value.message) == ("no-session", "`stop` with no active dictation session")

        session = listener.start("en-US")  # refusals take no session number
        assert session.number == 1 and session.mode == "mic"
        with pytest.raises(TolvaSpeechError) as raised:
            listener.start("en-US")
        assert raised.value.code == "session-already-active"
        assert listener.stop().session == 1


def test_one_thread_reads_while_another_stops(scripted):
    scripted(ENGLISH)  # the scripted microphone never ends by itself
    with Listener() as listener:
        session = listener.start("en-US")
        stopped: list[SessionEnded] = []
        seen = []
        for event in session:
            seen.append(event)
            if isinstance(event, Final):
                stopper = threading.Thread(target=lambda: stopped.append(listener.stop()))
                stopper.start()
        stopper.join()
        assert seen[-1] == stopped[0]
        assert seen[-1].final_count == 1 and seen[-1].audio_fed_ms > 0


def test_session_errors_are_events(scripted):
    scripted({**ENGLISH, "analyzer": {"results": []}, "capture": {"haltAtMs": 200}})
    with Listener() as listener:
        events = list(listener.start("en-US"))
    errors = [e for e in events if isinstance(e, SessionError)]
    assert [e.code for e in errors] == ["capture-halted"]
    assert errors[0].session == 1
    assert isinstance(events[-1], SessionEnded)
    assert any(isinstance(e, Final) and e.empty for e in events)


def test_close_stops_a_running_session_its_reader_still_sees_the_end(scripted):
    scripted(ENGLISH)
    listener = Listener()
    session = listener.start("en-US")
    events: list = []
    reader = threading.Thread(target=lambda: events.extend(session))
    reader.start()
    listener.close()
    reader.join()
    assert isinstance(events[-1], SessionEnded)
    assert listener.exit_status == 0
    with pytest.raises(RuntimeError):
        listener.start("en-US")


def test_an_unavailable_engine_is_raised_at_once(scripted):
    scripted({"available": False})
    with pytest.raises(TolvaSpeechError) as raised:
        Listener()
    assert raised.value.code == "unavailable"


def test_a_tool_that_ignores_quit_is_terminated(fake_tool):
    listener = Listener(fake_tool(f"echo '{READY}'; exec sleep 60"), close_timeout=0.2)
    listener.close()
    assert listener.exit_status is not None and listener.exit_status < 0


@pytest.mark.parametrize("after_start, words", [
    ("exit 1", "status 1"),
    ("echo 'Segmentation fault'", "not an event"),
    ("kill -KILL $$", "SIGKILL"),
], ids=["exit", "garbage", "signal"])
def test_a_tool_that_dies_mid_session_is_an_error_not_a_hang(fake_tool, after_start, words):
    started = '{"event":"session-started","session":1,"locale":"en_US","mode":"mic","analyzerFormat":"x"}'
    body = f"echo '{READY}'; read line; echo '{started}'; {after_start}"
    with Listener(fake_tool(body)) as listener:
        session = listener.start("en-US")
        with pytest.raises(TolvaSpeechError) as raised:
            list(session)
        assert raised.value.code == "crashed" and words in raised.value.message + str(raised.value.detail)
        with pytest.raises(TolvaSpeechError):
            listener.start("en-US")


def test_a_stream_session_takes_its_raw_format_and_ends_with_the_stream(scripted):
    raw = {"format": "s16le", "rate": 16000, "channels": 1}
    scripted({**ENGLISH, "streams": {"a.fifo": {"length": 8000, "expectRaw": raw}}})
    with Listener() as listener:
        session = listener.start("en-US", stream="/tmp/a.fifo", stream_format="s16le", rate=16000, channels=1)
        assert session.mode == "stream"
        events = list(session)
        assert isinstance(events[0], CaptureStarted) and events[0].source == "stream"
        assert (events[-1].audio_fed_ms, events[-1].failed) == (500, False)


def test_a_refused_stream_option_is_raised_in_the_caller(scripted):
    scripted(ENGLISH)
    with Listener() as listener:
        with pytest.raises(TolvaSpeechError) as refused:
            listener.start("en-US", stream="a.fifo", stream_format="mp3")
        assert (refused.value.code, refused.value.message) == ("bad-command", "`format` must be s16le or f32le")


def test_a_named_device_and_the_devices_list(scripted):
    sources = [{"name": "usb-mic", "sampleRate": 16000, "channels": 2, "default": True},
               {"name": "desk.monitor", "sampleRate": 48000, "channels": 2, "monitor": True}]
    scripted({**ENGLISH, "capture": {"sources": sources, "intervalMs": 20}})
    assert devices() == [CaptureSource("desk.monitor", "", 48000, 2, False, True),
                         CaptureSource("usb-mic", "", 16000, 2, True, False)]
    with Listener() as listener:
        session = listener.start("en-US", device="usb-mic")
        assert session.mode == "mic"
        assert listener.stop(timeout=10).failed is False
        session = listener.start("en-US", device="nope")
        errors = [e for e in session if isinstance(e, SessionError)]
        assert errors[0].message.startswith("the sound server has no capture source named 'nope'")
