"""Fixtures: the tool binaries ctest points at, scenarios for the scripted
one, and small stand-in tools that misbehave on purpose."""
from __future__ import annotations

import json
import os
import stat
import sys
from collections.abc import Callable
from pathlib import Path
from typing import Any

import pytest

CLIENT_DIR = Path(__file__).resolve().parent.parent
REPO = CLIENT_DIR.parent.parent
sys.path.insert(0, str(CLIENT_DIR))

LIBRIVOX = Path("/usr/share/pocketsphinx/test/data/librivox")


def _binary(variable: str, default: Path) -> Path:
    path = Path(os.environ.get(variable, default))
    if not os.access(path, os.X_OK):
        pytest.skip(f"{path} is not built (set {variable})")
    return path


@pytest.fixture
def scripted(monkeypatch: pytest.MonkeyPatch) -> Callable[[dict[str, Any]], Path]:
    """Makes the scripted tool the one the client finds, playing `scenario`."""
    binary = _binary("TOLVA_SCRIPTED_BINARY", REPO / "build/tests/tolva-speech-scripted")
    monkeypatch.setenv("TOLVA_SPEECH", str(binary))

    def play(scenario: dict[str, Any]) -> Path:
        monkeypatch.setenv("TOLVA_SCENARIO", json.dumps(scenario))
        return binary

    return play


@pytest.fixture
def real_tool(monkeypatch: pytest.MonkeyPatch, tmp_path: Path) -> Path:
    """The shipped binary with a private, empty model store."""
    binary = _binary("TOLVA_REAL_BINARY", REPO / "build/tolva-speech")
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "data"))
    return binary


@pytest.fixture
def fake_tool(tmp_path: Path) -> Callable[[str], Path]:
    """A stand-in tool: a shell script with the given body."""
    def make(body: str) -> Path:
        path = tmp_path / "fake-tool"
        path.write_text("#!/bin/sh\n" + body + "\n")
        path.chmod(path.stat().st_mode | stat.S_IXUSR)
        return path

    return make


@pytest.fixture
def audio(tmp_path: Path) -> Path:
    """A file the scripted tool knows as a.wav (it only has to exist)."""
    path = tmp_path / "a.wav"
    path.write_bytes(b"")
    return path
