"""The one-shot subcommands: probe, install, release, transcribe and devices.

Each runs the tool once and returns the dataclass of its document, or raises
TolvaSpeechError. `tool` overrides where the tool is found; `timeout` bounds
the run in seconds (the tool is killed after it); `env` replaces the tool's
environment.
"""
from __future__ import annotations

import os
from collections.abc import Callable, Mapping
from typing import Any

from .documents import CaptureSource, Install, Probe, Release, Transcript, from_document
from .process import LogHandler, run_document

ProgressHandler = Callable[[float], None]

ToolPath = str | os.PathLike[str] | None


def _progress_reader(event: str, on_progress: ProgressHandler | None) -> LogHandler | None:
    """A log handler that passes the `fraction` of each `event` line on."""
    if on_progress is None:
        return None

    def on_log(entry: dict[str, Any]) -> None:
        fraction = entry.get("fraction")
        if entry.get("event") == event and isinstance(fraction, (int, float)):
            on_progress(float(fraction))

    return on_log


def probe(locale: str | None = None, *, tool: ToolPath = None, timeout: float | None = None,
          env: Mapping[str, str] | None = None) -> Probe:
    """The machine's speech set-up; with `locale`, also how that locale resolves."""
    args = ["probe"] + (["--locale", locale] if locale is not None else [])
    return from_document(Probe, run_document(tool, args, timeout=timeout, env=env))


def install(locale: str, on_progress: ProgressHandler | None = None, *, tool: ToolPath = None,
            timeout: float | None = None, env: Mapping[str, str] | None = None) -> Install:
    """Reserves `locale` and installs its model; `on_progress` receives the
    download's fractions (0 to 1) while it runs, on the calling thread."""
    document = run_document(tool, ["install", "--locale", locale],
                            on_log=_progress_reader("install.progress", on_progress), timeout=timeout, env=env)
    return from_document(Install, document)


def release(locale: str, *, tool: ToolPath = None, timeout: float | None = None,
            env: Mapping[str, str] | None = None) -> Release:
    """Frees the reservation of `locale`."""
    return from_document(Release, run_document(tool, ["release", "--locale", locale], timeout=timeout, env=env))


def transcribe(path: str | os.PathLike[str], locale: str = "en-US", auto_install: bool = False,
               on_progress: ProgressHandler | None = None, *, words: bool = False,
               max_segment: float | None = None, tool: ToolPath = None, timeout: float | None = None,
               env: Mapping[str, str] | None = None) -> Transcript:
    """Transcribes an audio file; `on_progress` receives the fraction of the
    audio analysed so far (0 to 1), about twice a second, on the calling thread.
    `words`: each segment carries its words with times and confidence.
    `max_segment`: no segment lasts longer than this many seconds (long ones
    are cut at their longest pause)."""
    audio = os.fspath(path)
    if audio.startswith("--"):
        audio = os.path.join(".", audio)  # the tool takes a leading "--" for a flag
    args = ["transcribe", audio, "--locale", locale] + (["--auto-install"] if auto_install else [])
    if words:
        args.append("--words")
    if max_segment is not None:
        args += ["--max-segment", repr(float(max_segment))]
    document = run_document(tool, args, on_log=_progress_reader("transcribe.progress", on_progress),
                            timeout=timeout, env=env)
    return from_document(Transcript, document)


def devices(*, tool: ToolPath = None, timeout: float | None = None,
            env: Mapping[str, str] | None = None) -> list[CaptureSource]:
    """The sound server's capture sources, sorted by name; the one marked
    `default` is what a session without `device` records from."""
    document = run_document(tool, ["devices"], timeout=timeout, env=env)
    return [from_document(CaptureSource, source) for source in document.get("sources", [])]
