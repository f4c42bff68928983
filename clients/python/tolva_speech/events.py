"""The events of a dictation session, as typed values.

Times are whole milliseconds: `session_ms` since the session started,
`t_ms` since the tool started.
"""
from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Union

from .documents import Word, from_document


@dataclass(frozen=True)
class CaptureStarted:
    """Audio has begun to flow into the session, from "mic", "replay" or
    "stream" (for a stream: the tool has opened it and waits for its data)."""
    session: int
    source: str
    t_ms: int = 0


@dataclass(frozen=True)
class Volatile:
    """Provisional text of the utterance being spoken; the next Volatile or
    Final replaces it. `truncated`: only the text's last 8192 characters came."""
    session: int
    text: str
    session_ms: int
    truncated: bool = False
    t_ms: int = 0


@dataclass(frozen=True)
class Final:
    """Settled text of one utterance. `empty` marks the empty Final of a
    session that ended without any text. `words` is None unless the session
    was started with words=True."""
    session: int
    text: str
    session_ms: int
    empty: bool = False
    truncated: bool = False
    t_ms: int = 0
    words: list[Word] | None = None


@dataclass(frozen=True)
class SessionError:
    """An error of the running session ("capture-halted", "session-failed",
    ...); the session still ends with SessionEnded."""
    session: int
    code: str
    message: str
    t_ms: int = 0


@dataclass(frozen=True)
class SessionEnded:
    """The last event of a session, with its counts. `first_volatile_ms` is
    None when there was no provisional text."""
    session: int
    session_ms: int
    volatile_count: int
    final_count: int
    first_volatile_ms: int | None
    audio_fed_ms: int
    failed: bool = False
    t_ms: int = 0


Event = Union[CaptureStarted, Volatile, Final, SessionError, SessionEnded]


def session_event(event: dict[str, Any]) -> Event | None:
    """The typed form of a session's event line, or None for other lines."""
    name = event.get("event")
    session = event["session"]
    t_ms = event.get("tMs", 0)
    if name == "capture-started":
        return CaptureStarted(session, event["source"], t_ms)
    if name == "volatile":
        return Volatile(session, event["text"], event["sessionMs"], event.get("truncated", False), t_ms)
    if name == "final":
        words = event.get("words")
        return Final(session, event["text"], event["sessionMs"], event.get("empty", False),
                     event.get("truncated", False), t_ms,
                     None if words is None else [from_document(Word, word) for word in words])
    if name == "error":
        return SessionError(session, event["code"], event["message"], t_ms)
    if name == "session-ended":
        first = event["firstVolatileMs"]
        return SessionEnded(session, event["sessionMs"], event["volatileCount"], event["finalCount"],
                            None if first < 0 else first, event["audioFedMs"], event.get("failed", False), t_ms)
    return None
