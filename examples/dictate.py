#!/usr/bin/env python3
"""Live dictation in a terminal: talk, and watch the words appear.

The provisional text is rewritten in place on one line; each settled
utterance is committed as a line of its own. Ctrl-C ends the session cleanly
and prints its counts.

usage: examples/dictate.py [--locale en-US] [--replay FILE] [--tool PATH]
"""
from __future__ import annotations

import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "clients", "python"))
from tolva_speech import (Event, Final, Listener, Session, SessionEnded, SessionError,  # noqa: E402
                          TolvaSpeechError, Volatile)


class LiveLine:
    """The one terminal line that shows the provisional text. On a terminal
    it is rewritten in place; into a pipe each update becomes its own line."""

    def __init__(self) -> None:
        self.tty = sys.stdout.isatty()
        self.shown = False

    def show(self, text: str) -> None:
        text = text.strip()
        if self.tty:
            width = shutil.get_terminal_size().columns - 1
            # Keep the end, where the new words are, when the text is wider.
            visible = text if len(text) <= width else "\u2026" + text[-(width - 1):]
            sys.stdout.write("\r\033[K\033[2m" + visible + "\033[0m")
        else:
            sys.stdout.write("\u2026 " + text + "\n")
        sys.stdout.flush()
        self.shown = True

    def commit(self, text: str) -> None:
        self.clear()
        if text.strip():
            print(text.strip(), flush=True)

    def clear(self, always: bool = False) -> None:
        if self.tty and (self.shown or always):
            sys.stdout.write("\r\033[K")
            sys.stdout.flush()
        self.shown = False


def trouble(error: SessionError, mode: str | None) -> str:
    """One sentence for what went wrong, plainly for a microphone."""
    message = error.message
    if mode != "mic":
        return f"The session failed ({error.code}): {message}."
    if "sound server" in message and ("connect" in message or "main loop" in message):
        return "No sound server is running (PulseAudio or PipeWire), so there is no microphone to listen to."
    if "no default input source" in message:
        return "The sound server has no microphone: it offers no input source to record from."
    if error.code == "session-failed":
        return f"The microphone cannot be opened: {message}."
    if error.code == "capture-halted":
        return "The microphone went away during the session."
    if error.code == "no-audio-captured":
        return "The microphone delivered no sound at all."
    return f"{error.code}: {message}"


def summary(ended: SessionEnded) -> str:
    first = "no provisional text" if ended.first_volatile_ms is None else \
        f"first words after {ended.first_volatile_ms / 1000:.2f} s"
    return (f"session {ended.session}: {ended.final_count} final, {ended.volatile_count} volatile, "
            f"{ended.audio_fed_ms / 1000:.1f} s of audio, {first}" + (" (failed)" if ended.failed else ""))


def show(event: Event, line: LiveLine, mode: str | None) -> None:
    if isinstance(event, Volatile):
        line.show(event.text)
    elif isinstance(event, Final):
        line.commit(event.text)
    elif isinstance(event, SessionError):
        line.clear()
        print(trouble(event, mode), file=sys.stderr)
    elif isinstance(event, SessionEnded):
        line.clear()
        if not (event.failed and event.audio_fed_ms == 0):  # its error said it all
            print(summary(event), file=sys.stderr)


def dictate(listener: Listener, session: Session) -> SessionEnded | None:
    line = LiveLine()
    try:
        for event in session:
            show(event, line, session.mode)
    except KeyboardInterrupt:
        # Ctrl-C: stop the session, then show what it still delivers.
        line.clear(always=True)  # also the ^C the terminal echoed
        try:
            listener.stop(timeout=10)
        except TolvaSpeechError as error:
            if error.code != "no-session":  # it had just ended by itself
                raise
        for event in session:
            show(event, line, session.mode)
    return session.ended


def main() -> int:
    parser = argparse.ArgumentParser(description="Live dictation in the terminal; Ctrl-C stops.")
    parser.add_argument("--locale", default="en-US", help="language to recognise (default en-US)")
    parser.add_argument("--replay", metavar="FILE", help="play an audio file instead of the microphone")
    parser.add_argument("--tool", help="path of tolva-speech (default: $TOLVA_SPEECH, then PATH)")
    args = parser.parse_args()
    try:
        with Listener(args.tool) as listener:
            if not args.replay:
                print("Listening; speak, and press Ctrl-C to stop.", file=sys.stderr)
            session = listener.start(args.locale, replay=args.replay)
            ended = dictate(listener, session)
    except TolvaSpeechError as error:
        print(f"tolva-speech: {error.message}" + (f" ({error.detail})" if error.detail else ""), file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    return 1 if ended is None or ended.failed else 0


if __name__ == "__main__":
    sys.exit(main())
