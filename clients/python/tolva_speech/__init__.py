"""A Python client for tolva-speech, the on-device speech-to-text tool.

One-shot commands return dataclasses of the tool's documents:

    from tolva_speech import transcribe
    result = transcribe("talk.wav", on_progress=lambda f: print(f"{f:.0%}"))
    for segment in result.segments:
        print(f"{segment.start:6.2f} {segment.text}")

Subtitles come from the word times:

    result = transcribe("talk.wav", words=True)
    open("talk.srt", "w").write(result.to_srt())

Live dictation runs `listen` through a Listener:

    from tolva_speech import Listener, Final
    with Listener() as listener:
        for event in listener.start("en-US"):
            if isinstance(event, Final):
                print(event.text)

The tool is found through the `tool` argument, else the TOLVA_SPEECH
environment variable, else PATH. Every failure is a TolvaSpeechError.

Texts (segments, transcripts, volatile and final events) come as written
text: sentence capitals and marks, capitals of "I", days, months and names,
numbers as digits ("at 3:30", "$20", "15%", "March 3"); the man page's
WRITTEN TEXT gives the rules. The tool runs with the caller's environment
(or `env`), so TOLVA_SPEECH_TEXT=raw there gives the recognizer's lower-case
words as they are:

    transcribe("talk.wav", env={**os.environ, "TOLVA_SPEECH_TEXT": "raw"})
"""
from .commands import devices, install, probe, release, transcribe
from .documents import CaptureSource, Install, Probe, Release, Segment, Transcript, Word
from .errors import TolvaSpeechError
from .events import CaptureStarted, Event, Final, SessionEnded, SessionError, Volatile
from .listener import Listener, Session
from .process import find_tool

__all__ = [
    "CaptureSource", "CaptureStarted", "Event", "Final", "Install", "Listener", "Probe", "Release", "Segment",
    "Session", "SessionEnded", "SessionError", "TolvaSpeechError", "Transcript", "Volatile", "devices", "find_tool",
    "install", "probe", "release", "transcribe", "Word",
]
