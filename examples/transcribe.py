#!/usr/bin/env python3
"""Transcribe an audio file with a progress bar, then print the transcript
with the time of each segment, or with --srt its subtitles in SubRip form.

usage: examples/transcribe.py FILE [--locale en-US] [--auto-install] [--srt] [--tool PATH]

    examples/transcribe.py talk.mp4 --srt > talk.srt

The bar is tqdm's (Debian's python3-tqdm) when it is installed, a plain one
otherwise.
"""
from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Callable

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "clients", "python"))
from tolva_speech import TolvaSpeechError, Transcript, transcribe  # noqa: E402


class PlainBar:
    """A minimal stand-in for tqdm: one line on standard error, redrawn."""

    def __init__(self, width: int = 40) -> None:
        self.width = width
        self.drawn = False

    def update_to(self, fraction: float) -> None:
        self.drawn = True
        filled = round(fraction * self.width)
        sys.stderr.write(f"\r{fraction:4.0%} |{'#' * filled}{' ' * (self.width - filled)}|")
        sys.stderr.flush()

    def close(self) -> None:
        if self.drawn:
            sys.stderr.write("\n")


class TqdmBar:
    def __init__(self) -> None:
        from tqdm import tqdm
        self.bar = tqdm(total=1000, unit="\u2030", bar_format="{l_bar}{bar}| {elapsed}<{remaining}")

    def update_to(self, fraction: float) -> None:
        self.bar.update(round(fraction * 1000) - self.bar.n)

    def close(self) -> None:
        self.bar.close()


def progress_bar() -> PlainBar | TqdmBar:
    try:
        return TqdmBar()
    except ImportError:
        return PlainBar()


def clock(seconds: float) -> str:
    minutes, seconds = divmod(seconds, 60)
    return f"{int(minutes):02d}:{seconds:05.2f}"


def print_transcript(result: Transcript) -> None:
    for segment in result.segments:
        print(f"[{clock(segment.start)} - {clock(segment.end)}] {segment.text.strip()}")
    factor = f", {result.realtime_factor:.2f}x real time" if result.realtime_factor is not None else ""
    print(f"\n{len(result.segments)} segments, {result.duration or 0:.1f} s of audio in "
          f"{result.processing_time_ms / 1000:.1f} s{factor}", file=sys.stderr)


def main() -> int:
    parser = argparse.ArgumentParser(description="Transcribe an audio file with a progress bar.")
    parser.add_argument("file")
    parser.add_argument("--locale", default="en-US", help="language of the audio (default en-US)")
    parser.add_argument("--auto-install", action="store_true", help="install the locale's model when missing")
    parser.add_argument("--srt", action="store_true", help="print SubRip subtitles cut from the word times")
    parser.add_argument("--tool", help="path of tolva-speech (default: $TOLVA_SPEECH, then PATH)")
    args = parser.parse_args()

    bar = progress_bar()
    on_progress: Callable[[float], None] = bar.update_to
    try:
        result = transcribe(args.file, locale=args.locale, auto_install=args.auto_install,
                            on_progress=on_progress, words=args.srt, tool=args.tool)
    except TolvaSpeechError as error:
        bar.close()
        print(f"tolva-speech: {error.message}" + (f" ({error.detail})" if error.detail else ""), file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        bar.close()
        return 130
    bar.close()
    if args.srt:
        sys.stdout.write(result.to_srt())
    else:
        print_transcript(result)
    return 0


if __name__ == "__main__":
    sys.exit(main())
