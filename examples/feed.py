#!/usr/bin/env python3
"""Audio the application feeds: speech this program synthesises (with
espeak-ng) is written into a FIFO in 20 ms pieces, at the pace of real
speech, and `listen` transcribes it as it arrives, the way an application
hands over audio it captured itself (a browser's MediaRecorder, a call).

By default the FIFO carries espeak-ng's WAV output as it is, header and all;
with --raw it carries bare 16-bit PCM, described by the start command.

usage: examples/feed.py [--locale en-US] [--raw] [--tool PATH] [TEXT ...]
"""
from __future__ import annotations

import argparse
import errno
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "clients", "python"))
from tolva_speech import Final, Listener, SessionEnded, SessionError, TolvaSpeechError, Volatile  # noqa: E402

PIECE_SECONDS = 0.02
WAV_HEADER_BYTES = 44  # espeak-ng writes the canonical 44-byte header
DEFAULT_TEXT = "the quick brown fox jumps over the lazy dog"


def synthesise(text: str) -> bytes:
    """espeak-ng's speech as a WAV file: 16-bit mono at 22050 Hz."""
    return subprocess.run(["espeak-ng", "-v", "en-us", "--stdout", text], check=True, capture_output=True).stdout


def open_writer(fifo: str, session_over: threading.Event) -> int | None:
    """Opens the FIFO for writing once the tool reads it; None when the
    session ended first (a writer must never wait for a reader that left)."""
    while not session_over.is_set():
        try:
            return os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
        except OSError as error:
            if error.errno != errno.ENXIO:  # ENXIO: no reader yet
                raise
            time.sleep(0.01)
    return None


def feed(fifo: str, audio: bytes, bytes_per_second: int, session_over: threading.Event) -> None:
    """Writes `audio` in 20 ms pieces at its own pace, then closes the FIFO:
    the end of the stream ends the session."""
    fd = open_writer(fifo, session_over)
    if fd is None:
        return
    os.set_blocking(fd, True)
    piece = max(2, int(bytes_per_second * PIECE_SECONDS) // 2 * 2)
    start = time.monotonic()
    try:
        for at in range(0, len(audio), piece):
            os.write(fd, audio[at:at + piece])
            delay = start + (at + piece) / bytes_per_second - time.monotonic()
            if delay > 0:
                time.sleep(delay)
    except BrokenPipeError:
        pass  # the session ended (a stop, a failure): nothing more to feed
    finally:
        os.close(fd)


def main() -> int:
    parser = argparse.ArgumentParser(description="Feed synthesised speech into a listen session through a FIFO.")
    parser.add_argument("text", nargs="*", help=f"what to say (default: {DEFAULT_TEXT!r})")
    parser.add_argument("--locale", default="en-US", help="language to recognise (default en-US)")
    parser.add_argument("--raw", action="store_true", help="feed bare s16le PCM instead of the WAV file")
    parser.add_argument("--tool", help="path of tolva-speech (default: $TOLVA_SPEECH, then PATH)")
    args = parser.parse_args()

    wav = synthesise(" ".join(args.text) or DEFAULT_TEXT)
    rate = int.from_bytes(wav[24:28], "little")
    with tempfile.TemporaryDirectory() as directory:
        fifo = os.path.join(directory, "audio.fifo")
        os.mkfifo(fifo)
        raw = {"stream_format": "s16le", "rate": rate, "channels": 1} if args.raw else {}
        audio = wav[WAV_HEADER_BYTES:] if args.raw else wav
        session_over = threading.Event()
        try:
            with Listener(args.tool) as listener:
                session = listener.start(args.locale, stream=fifo, **raw)
                writer = threading.Thread(target=feed, args=(fifo, audio, rate * 2, session_over))
                writer.start()
                try:
                    for event in session:
                        if isinstance(event, Volatile):
                            print("\u2026", event.text.strip(), flush=True)
                        elif isinstance(event, Final):
                            print(event.text.strip(), flush=True)
                        elif isinstance(event, SessionError):
                            print(f"{event.code}: {event.message}", file=sys.stderr)
                        elif isinstance(event, SessionEnded):
                            print(f"session {event.session}: {event.final_count} final, "
                                  f"{event.audio_fed_ms / 1000:.1f} s of audio fed", file=sys.stderr)
                finally:
                    session_over.set()
                    writer.join()
        except TolvaSpeechError as error:
            print(f"tolva-speech: {error.message}" + (f" ({error.detail})" if error.detail else ""), file=sys.stderr)
            return 1
    ended = session.ended
    return 1 if ended is None or ended.failed else 0


if __name__ == "__main__":
    sys.exit(main())
