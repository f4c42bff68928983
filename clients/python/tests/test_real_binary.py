"""The client against the shipped binary: one replay session and one
transcription of a librivox clip with its reference words."""
from __future__ import annotations

from tolva_speech import Final, Listener, SessionEnded, SessionError, Volatile, transcribe

from conftest import LIBRIVOX

# 3 s of speech: "he was not an ill disposed young man".
CLIP = LIBRIVOX / "sense_and_sensibility_01_austen_64kb-0880.wav"


def reference_words() -> set[str]:
    for line in (LIBRIVOX / "transcription").read_text().splitlines():
        if "0880" in line:
            return {word for word in line.rsplit("(", 1)[0].lower().split() if not word.startswith("<")}
    raise AssertionError("no reference line for the clip")


def test_a_replay_session_of_real_speech(real_tool):
    with Listener(real_tool) as listener:
        events = list(listener.start("en-US", replay=CLIP))
    volatiles = [e for e in events if isinstance(e, Volatile)]
    finals = [e for e in events if isinstance(e, Final) and not e.empty]
    ended = events[-1]
    assert isinstance(ended, SessionEnded) and ended.audio_fed_ms > 2500
    assert volatiles and ended.volatile_count > 0
    if finals:
        heard = " ".join(f.text for f in finals)
        assert not ended.failed and ended.final_count == len(finals)
    else:
        # A machine too loaded to decode in real time misses the finalize
        # bound; the session then says so, and its provisional text stands.
        assert [e.code for e in events if isinstance(e, SessionError)] == ["finalize-timeout"]
        assert ended.failed
        heard = volatiles[-1].text
    assert len(set(heard.lower().split()) & reference_words()) >= 2, heard


def test_a_transcription_of_real_speech(real_tool):
    fractions: list[float] = []
    result = transcribe(CLIP, on_progress=fractions.append, tool=real_tool)
    assert result.segments and result.locale_used == "en_US"
    assert len(set(result.transcript.lower().split()) & reference_words()) >= 2, result.transcript
    assert result.duration and abs(result.duration - 2.99) < 0.05
    assert fractions and fractions[-1] == 1.0
