"""The result documents of the one-shot subcommands, as dataclasses.

Each field names the document key it comes from in its metadata; keys the
client does not know are ignored, so a newer tool still works.
"""
from __future__ import annotations

import dataclasses
from dataclasses import dataclass, field
from typing import Any, TypeVar

from .errors import TolvaSpeechError

T = TypeVar("T")


def _key(name: str, default: Any = dataclasses.MISSING, factory: Any = dataclasses.MISSING) -> Any:
    return field(default=default, default_factory=factory, metadata={"key": name})


def from_document(cls: type[T], document: dict[str, Any]) -> T:
    """Builds `cls` from a document; a missing optional key takes its default,
    a missing required one means the tool did not write its documented answer."""
    values: dict[str, Any] = {}
    for f in dataclasses.fields(cls):  # type: ignore[arg-type]
        key = f.metadata["key"]
        if key in document:
            decode = f.metadata.get("decode")
            value = decode(document[key]) if decode else document[key]
            if "float" in str(f.type) and type(value) is int:
                value = float(value)  # the tool writes 2.0 as 2
            values[f.name] = value
        elif f.default is dataclasses.MISSING and f.default_factory is dataclasses.MISSING:
            raise TolvaSpeechError("crashed", f"the tool's {cls.__name__} document has no '{key}'")
    return cls(**values)


@dataclass(frozen=True)
class Word:
    """One recognised word: its times in seconds, like its segment's, and the
    recogniser's confidence in it, from 0 to 1."""
    word: str = _key("word")
    start: float = _key("start")
    end: float = _key("end")
    confidence: float = _key("confidence")


def _words(values: list[dict[str, Any]]) -> list[Word]:
    return [from_document(Word, value) for value in values]


@dataclass(frozen=True)
class Segment:
    """A timed piece of a transcript; times in seconds from the audio's start.
    `words` is None unless words were asked for; joined by spaces they are the
    text."""
    start: float = _key("start")
    end: float = _key("end")
    text: str = _key("text")
    words: list[Word] | None = field(default=None, metadata={"key": "words", "decode": _words})


def _segments(values: list[dict[str, Any]]) -> list[Segment]:
    return [from_document(Segment, value) for value in values]


@dataclass(frozen=True)
class Transcript:
    """What `transcribe` answers: the whole text and the segments it is made of."""
    transcript: str = _key("transcript")
    segments: list[Segment] = field(metadata={"key": "segments", "decode": _segments})
    language: str | None = _key("language", None)
    duration: float | None = _key("duration", None)
    processing_time_ms: float = _key("processingTimeMs", 0.0)
    locale_used: str = _key("_localeUsed", "")
    locale_requested: str = _key("_localeRequested", "")
    asset_status_before: str = _key("_assetStatusBefore", "")
    audio_format: str = _key("_audioFormat", "")
    realtime_factor: float | None = _key("_realtimeFactor", None)
    alternatives_count: int = _key("_alternativesCount", 0)

    def to_srt(self) -> str:
        """SubRip subtitles of the transcript, cut from the word times when
        the transcript has them (transcribe(..., words=True)), else from the
        segments' text spread over their times."""
        from .subtitles import srt_text
        return srt_text(self.segments)

    def to_vtt(self) -> str:
        """WebVTT subtitles of the transcript, cut as to_srt() cuts them."""
        from .subtitles import vtt_text
        return vtt_text(self.segments)


@dataclass(frozen=True)
class Probe:
    """What `probe` answers: the machine's speech set-up."""
    is_available: bool = _key("isAvailable")
    os_version: str = _key("osVersion", "")
    cpu: str = _key("cpu", "")
    maximum_reserved_locales: int = _key("maximumReservedLocales", 0)
    reserved_locales: list[str] = _key("reservedLocales", factory=list)
    supported_locales: list[str] = _key("supportedLocales", factory=list)
    installed_locales: list[str] = _key("installedLocales", factory=list)
    supported_locale_count: int = _key("supportedLocaleCount", 0)
    installed_locale_count: int = _key("installedLocaleCount", 0)
    de_locale_resolution: dict[str, str] = _key("deLocaleResolution", factory=dict)
    asset_status_for_de: str = _key("assetStatusForDE", "")
    asset_status_for_en: str = _key("assetStatusForEN", "")
    requested_locale: str | None = _key("requestedLocale", None)
    requested_locale_resolved: str | None = _key("requestedLocaleResolved", None)
    requested_locale_status: str | None = _key("requestedLocaleStatus", None)
    locale_statuses: dict[str, str] = _key("localeStatuses", factory=dict)
    locale_statuses_complete: bool = _key("localeStatusesComplete", False)


@dataclass(frozen=True)
class Install:
    """What `install` answers."""
    locale: str = _key("locale")
    status_before: str = _key("statusBefore")
    status_after: str = _key("statusAfter")
    resolved_locale: str | None = _key("resolvedLocale", None)
    reserved: bool = _key("reserved", False)
    install_requested: bool = _key("installRequested", False)
    elapsed_ms: float = _key("elapsedMs", 0.0)
    progress_samples: list[str] = _key("progressSamples", factory=list)
    reserved_count: int = _key("reservedCount", 0)
    maximum_reserved_locales: int = _key("maximumReservedLocales", 0)


@dataclass(frozen=True)
class Release:
    """What `release` answers."""
    locale: str = _key("locale")
    resolved_locale: str = _key("resolvedLocale")
    released: bool = _key("released")
    status_before: str = _key("statusBefore", "")
    status_after: str = _key("statusAfter", "")
    reserved_before: list[str] = _key("reservedBefore", factory=list)
    reserved_after: list[str] = _key("reservedAfter", factory=list)
    maximum_reserved_locales: int = _key("maximumReservedLocales", 0)
    elapsed_ms: float = _key("elapsedMs", 0.0)


@dataclass(frozen=True)
class CaptureSource:
    """One capture source `devices` lists; `name` is what `Listener.start`
    takes as `device`."""
    name: str = _key("name")
    description: str = _key("description", "")
    rate: int = _key("rate", 0)
    channels: int = _key("channels", 0)
    default: bool = _key("default", False)
    monitor: bool = _key("monitor", False)
