"""Finding the tool and running its one-shot subcommands.

A one-shot run reads standard output and standard error together on the
calling thread, so neither pipe can fill up and stall the tool, and the log
lines reach `on_log` while the tool runs, not after it ends.
"""
from __future__ import annotations

import json
import os
import selectors
import shutil
import signal
import subprocess
import time
from collections.abc import Callable, Mapping, Sequence
from typing import Any

from .errors import TolvaSpeechError

TOOL_NAME = "tolva-speech"
TOOL_VARIABLE = "TOLVA_SPEECH"

# How much of standard error a crash report carries.
_STDERR_TAIL_BYTES = 2000

LogHandler = Callable[[dict[str, Any]], None]


def find_tool(tool: str | os.PathLike[str] | None = None) -> str:
    """The executable to run: `tool` when given, else $TOLVA_SPEECH, else
    tolva-speech on PATH."""
    for candidate in (tool, os.environ.get(TOOL_VARIABLE)):
        if candidate:
            return _resolved(os.fspath(candidate))
    found = shutil.which(TOOL_NAME)
    if found:
        return found
    raise TolvaSpeechError("tool-not-found",
                           f"{TOOL_NAME} is not on PATH; pass its path or set {TOOL_VARIABLE}")


def _resolved(candidate: str) -> str:
    path = candidate if os.sep in candidate else shutil.which(candidate)
    if path and os.path.isfile(path) and os.access(path, os.X_OK):
        return path
    raise TolvaSpeechError("tool-not-found", f"{candidate} is not an executable file")


def stderr_tail(data: bytes) -> str:
    return data[-_STDERR_TAIL_BYTES:].decode("utf-8", "replace").strip()


def exit_error(status: int, detail: str) -> TolvaSpeechError:
    """The error for a tool that ended without a usable answer; `detail` is
    the end of what it wrote on standard error."""
    if status == 2:
        return TolvaSpeechError("usage", "the tool refused its command line", detail)
    if status < 0:
        try:
            name = signal.Signals(-status).name
        except ValueError:
            name = f"signal {-status}"
        return TolvaSpeechError("crashed", f"the tool was killed by {name}", detail)
    return TolvaSpeechError("crashed", f"the tool exited with status {status}", detail)


class _LogLines:
    """Splits standard error into lines and hands each parsed line on."""

    def __init__(self, on_log: LogHandler | None) -> None:
        self.on_log = on_log
        self.pending = b""
        self.all = bytearray()

    def feed(self, data: bytes) -> None:
        self.all += data
        if self.on_log is None:
            return
        lines = (self.pending + data).split(b"\n")
        self.pending = lines.pop()
        for line in lines:
            try:
                entry = json.loads(line)
            except ValueError:
                continue  # the log is diagnostic; a stray line is not an answer
            if isinstance(entry, dict):
                self.on_log(entry)


def _drain(proc: subprocess.Popen[bytes], log: _LogLines, deadline: float | None) -> bytes:
    out = bytearray()
    with selectors.DefaultSelector() as selector:
        assert proc.stdout is not None and proc.stderr is not None
        selector.register(proc.stdout, selectors.EVENT_READ, out.extend)
        selector.register(proc.stderr, selectors.EVENT_READ, log.feed)
        while selector.get_map():
            left = None if deadline is None else deadline - time.monotonic()
            if left is not None and left <= 0:
                raise TimeoutError
            for key, _ in selector.select(left):
                data = os.read(key.fd, 65536)
                if data:
                    key.data(data)
                else:
                    selector.unregister(key.fileobj)
    return bytes(out)


def run_document(tool: str | os.PathLike[str] | None, args: Sequence[str], *,
                 on_log: LogHandler | None = None, timeout: float | None = None,
                 env: Mapping[str, str] | None = None) -> dict[str, Any]:
    """Runs one one-shot subcommand and returns its result document; raises
    TolvaSpeechError for an error document or a tool that misbehaved."""
    executable = find_tool(tool)
    deadline = None if timeout is None else time.monotonic() + timeout
    log = _LogLines(on_log)
    with subprocess.Popen([executable, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=None if env is None else dict(env)) as proc:
        try:
            out = _drain(proc, log, deadline)
            status = proc.wait(None if deadline is None else max(0.0, deadline - time.monotonic()))
        except (TimeoutError, subprocess.TimeoutExpired):
            proc.kill()
            proc.wait()
            raise TolvaSpeechError("timeout", f"the tool did not answer within {timeout} s",
                                   stderr_tail(bytes(log.all))) from None
        except BaseException:
            proc.kill()  # an exception from on_log, or KeyboardInterrupt
            proc.wait()
            raise
    return _document(status, out, bytes(log.all))


def _document(status: int, out: bytes, err: bytes) -> dict[str, Any]:
    if status not in (0, 1):
        raise exit_error(status, stderr_tail(err))
    try:
        document = json.loads(out)
    except ValueError:
        raise TolvaSpeechError("crashed", "the tool wrote no JSON document",
                               out[:200].decode("utf-8", "replace") or stderr_tail(err)) from None
    if not isinstance(document, dict):
        raise TolvaSpeechError("crashed", "the tool's answer is not a JSON object", out[:200].decode())
    if "error" in document:
        raise TolvaSpeechError(str(document["error"]), str(document.get("message", "")),
                               None if document.get("detail") is None else str(document["detail"]))
    if status != 0:
        raise TolvaSpeechError("crashed", "the tool exited with status 1 after a result", stderr_tail(err))
    return document
