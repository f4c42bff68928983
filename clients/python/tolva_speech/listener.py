"""Listener: `tolva-speech listen` as a child process, one session at a time.

    with Listener() as listener:
        session = listener.start("en-US")
        for event in session:      # ends after SessionEnded
            ...

Threads: a reader thread takes every event line off the tool's standard
output and files it with its session; another drains standard error. All
shared state sits behind one condition variable, so a thread may iterate a
session while another calls stop() or close().

Errors the tool answers a command with (no session, unknown locale, a session
already running) are raised by start() and stop(); errors of a running
session arrive as SessionError events. A tool that dies or writes something
that is not an event line makes every waiting call raise TolvaSpeechError
with code "crashed" instead of hanging.
"""
from __future__ import annotations

import json
import os
import subprocess
import threading
import time
from collections import deque
from collections.abc import Iterator, Mapping
from types import TracebackType
from typing import Any

from .errors import TolvaSpeechError
from .events import Event, SessionEnded, session_event
from .process import exit_error, find_tool

# What stop() sees from the tool when the session ended before the stop
# reached it: the session's own end comes first, so the error is not raised.
_NO_SESSION = "no-session"
_STDERR_LINES_KEPT = 40


class Session:
    """One dictation session. Iterating it yields its events and ends after
    SessionEnded. `locale`, `mode` ("mic", "replay" or "stream") and `analyzer_format`
    come from the tool's session-started (None when the session failed before
    it started)."""

    def __init__(self, listener: Listener, number: int) -> None:
        self.number = number
        self.locale: str | None = None
        self.mode: str | None = None
        self.analyzer_format: str | None = None
        self._listener = listener
        self._events: deque[Event] = deque()
        self._ended: SessionEnded | None = None  # seen by the reader
        self._taken_end = False  # handed to the consumer

    @property
    def ended(self) -> SessionEnded | None:
        """The session's SessionEnded once the tool has sent it."""
        with self._listener._cond:
            return self._ended

    def stop(self, timeout: float | None = None) -> SessionEnded:
        """Stops this session (see Listener.stop)."""
        return self._listener.stop(timeout)

    def __iter__(self) -> Iterator[Event]:
        return self

    def __next__(self) -> Event:
        event = self.next_event()
        if event is None:
            raise StopIteration
        return event

    def next_event(self, timeout: float | None = None) -> Event | None:
        """The next event, or None once SessionEnded has been returned.
        Raises TimeoutError when `timeout` seconds pass without one."""
        deadline = None if timeout is None else time.monotonic() + timeout
        cond = self._listener._cond
        with cond:
            while True:
                if self._events:
                    event = self._events.popleft()
                    self._taken_end = isinstance(event, SessionEnded)
                    return event
                if self._taken_end:
                    return None
                if not self._listener._alive:
                    # After close() a session that never ended just stops.
                    if self._listener._closed_by_caller:
                        return None
                    raise self._listener._death_error()
                left = None if deadline is None else deadline - time.monotonic()
                if left is not None and left <= 0:
                    raise TimeoutError(f"no event of session {self.number} within {timeout} s")
                cond.wait(left)


class Listener:
    """Runs `tolva-speech listen` until close(); a context manager.

    The constructor waits up to `ready_timeout` seconds for the tool's `ready`
    event (raising TolvaSpeechError, e.g. code "unavailable", when it does not
    come). close() sends quit and waits `close_timeout` seconds for the tool
    to exit before terminating it."""

    def __init__(self, tool: str | os.PathLike[str] | None = None, *, env: Mapping[str, str] | None = None,
                 ready_timeout: float = 30.0, close_timeout: float = 5.0) -> None:
        self._cond = threading.Condition()
        self._command_lock = threading.Lock()  # one start or stop at a time
        self._write_lock = threading.Lock()
        self._close_timeout = close_timeout
        self._alive = True
        self._closed_by_caller = False
        self._failure: TolvaSpeechError | None = None
        self._status: int | None = None
        self._stderr: deque[str] = deque(maxlen=_STDERR_LINES_KEPT)
        self._router_errors: deque[TolvaSpeechError] = deque()
        self._running: dict[int, Session] = {}
        self._newest: Session | None = None
        self.ready: dict[str, Any] | None = None
        # In a process group of its own, so that a Ctrl-C in the terminal reaches
        # the application, which decides whether it stops the session.
        self._proc = subprocess.Popen([find_tool(tool), "listen"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, env=None if env is None else dict(env),
                                      process_group=0)
        self._threads = [threading.Thread(target=self._read_events, name="tolva-speech events", daemon=True),
                         threading.Thread(target=self._read_log, name="tolva-speech log", daemon=True)]
        for thread in self._threads:
            thread.start()
        try:
            self._wait_ready(ready_timeout)
        except BaseException:
            self._terminate()
            raise

    # -- the caller's side -------------------------------------------------

    def start(self, locale: str, replay: str | os.PathLike[str] | None = None,
              chunk_ms: int | None = None, words: bool = False, *, device: str | None = None,
              stream: str | os.PathLike[str] | None = None, stream_format: str | None = None,
              rate: int | None = None, channels: int | None = None) -> Session:
        """Starts a session on the microphone (the capture source `device`, see
        devices(), else the default one), on the audio file `replay` played in
        chunks of `chunk_ms` (default 100), or on `stream`, a FIFO the caller
        writes audio into: a container FFmpeg decodes (WAV, Ogg/Opus,
        WebM/Opus), or raw PCM when `stream_format` is "s16le" or "f32le",
        with `rate` and `channels`. A stream's session ends when its writer
        closes the FIFO, or at stop(). With `words`, each Final carries its
        words. Returns once the tool has started the session; raises
        TolvaSpeechError when the tool refuses it."""
        command: dict[str, Any] = {"cmd": "start", "locale": locale}
        if replay is not None:
            command["replay"] = os.fspath(replay)
        if chunk_ms is not None:
            command["chunkMs"] = int(chunk_ms)
        if device is not None:
            command["device"] = device
        if stream is not None:
            command["stream"] = os.fspath(stream)
        for key, value in (("format", stream_format), ("rate", rate), ("channels", channels)):
            if value is not None:
                command[key] = value
        if words:
            command["words"] = True
        with self._command_lock:
            with self._cond:
                self._check_open()
                self._router_errors.clear()
                before = self._newest.number if self._newest else 0
            self._send(command)
            with self._cond:
                while not (self._newest and self._newest.number > before):
                    refusal = self._take_router_error(lambda e: e.code != _NO_SESSION)
                    if refusal:
                        raise refusal
                    if not self._alive:
                        raise self._death_error()
                    self._cond.wait()
                return self._newest

    def stop(self, timeout: float | None = None) -> SessionEnded:
        """Stops the running session and returns its SessionEnded (which its
        iterator also yields). Raises TolvaSpeechError "no-session" when no
        session runs, "timeout" when `timeout` seconds pass first."""
        deadline = None if timeout is None else time.monotonic() + timeout
        with self._command_lock:
            with self._cond:
                self._check_open()
                self._router_errors.clear()
                session = self._newest if self._newest and self._newest._ended is None else None
            self._send({"cmd": "stop"})
            with self._cond:
                while not (session and session._ended):
                    refusal = self._take_router_error(lambda e: e.code == _NO_SESSION)
                    if refusal:
                        raise refusal
                    if not self._alive:
                        raise self._death_error()
                    left = None if deadline is None else deadline - time.monotonic()
                    if left is not None and left <= 0:
                        raise TolvaSpeechError("timeout", f"the session did not end within {timeout} s")
                    self._cond.wait(left)
                return session._ended

    def close(self) -> None:
        """Sends quit (a running session is stopped and ends first), waits for
        the tool to exit, and terminates it after the close timeout."""
        with self._cond:
            if self._closed_by_caller:
                return
            self._closed_by_caller = True
        try:
            with self._write_lock:
                assert self._proc.stdin is not None
                self._proc.stdin.write(b'{"cmd":"quit"}\n')
                self._proc.stdin.close()
        except (OSError, ValueError):
            pass  # already gone
        try:
            self._proc.wait(self._close_timeout)
        except subprocess.TimeoutExpired:
            pass
        self._terminate()

    @property
    def exit_status(self) -> int | None:
        """The tool's exit status once it has exited."""
        return self._proc.poll()

    def __enter__(self) -> Listener:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()

    # -- helpers on the caller's side ----------------------------------------

    def _wait_ready(self, timeout: float) -> None:
        deadline = time.monotonic() + timeout
        with self._cond:
            while self.ready is None:
                refusal = self._take_router_error(lambda e: True)
                if refusal:
                    raise refusal
                if not self._alive:
                    raise self._death_error()
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TolvaSpeechError("timeout", f"the tool was not ready within {timeout} s")
                self._cond.wait(left)

    def _check_open(self) -> None:
        if self._closed_by_caller:
            raise RuntimeError("the listener is closed")
        if not self._alive:
            raise self._death_error()

    def _take_router_error(self, wanted: Any) -> TolvaSpeechError | None:
        while self._router_errors:
            error = self._router_errors.popleft()
            if wanted(error):
                return error
        return None

    def _send(self, command: dict[str, Any]) -> None:
        line = json.dumps(command, ensure_ascii=False).encode() + b"\n"
        try:
            with self._write_lock:
                assert self._proc.stdin is not None
                self._proc.stdin.write(line)
                self._proc.stdin.flush()
        except (OSError, ValueError):
            self._threads[0].join(self._close_timeout)  # let the reader record why
            with self._cond:
                raise self._death_error() from None

    def _death_error(self) -> TolvaSpeechError:
        if self._failure:
            return self._failure
        tail = "\n".join(self._stderr)
        if self._status is None:
            return TolvaSpeechError("crashed", "the tool closed its output", tail)
        return exit_error(self._status, tail)

    def _terminate(self) -> None:
        if self._proc.poll() is None:
            self._proc.terminate()
            try:
                self._proc.wait(2)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()
        for thread in self._threads:
            thread.join()
        for pipe in (self._proc.stdin, self._proc.stdout, self._proc.stderr):
            if pipe:
                try:
                    pipe.close()
                except OSError:
                    pass

    # -- the reader threads --------------------------------------------------

    def _read_events(self) -> None:
        assert self._proc.stdout is not None
        try:
            for line in self._proc.stdout:
                try:
                    self._file(json.loads(line))
                except (ValueError, KeyError, TypeError, AttributeError):
                    with self._cond:
                        self._failure = TolvaSpeechError("crashed", "the tool wrote a line that is not an event",
                                                         line[:200].decode("utf-8", "replace"))
                    self._proc.kill()
                    break
        finally:
            status = self._proc.wait()
            with self._cond:
                self._status = status
                self._alive = False
                self._cond.notify_all()

    def _file(self, event: dict[str, Any]) -> None:
        """Files one event line where its reader waits for it."""
        name = event["event"]
        with self._cond:
            if name == "ready":
                self.ready = event
            elif "session" in event:
                self._file_session_event(name, event)
            elif name == "error":
                self._router_errors.append(TolvaSpeechError(event["code"], event["message"]))
            self._cond.notify_all()

    def _file_session_event(self, name: str, event: dict[str, Any]) -> None:
        number = event["session"]
        session = self._running.get(number)
        if session is None:
            if self._newest and number <= self._newest.number:
                return  # a late result of a session that has already ended
            session = self._newest = self._running[number] = Session(self, number)
        if name == "session-started":
            session.locale, session.mode = event["locale"], event["mode"]
            session.analyzer_format = event["analyzerFormat"]
            return
        typed = session_event(event)
        if typed is None:
            return  # an event this client does not know
        session._events.append(typed)
        if isinstance(typed, SessionEnded):
            session._ended = typed
            del self._running[number]

    def _read_log(self) -> None:
        assert self._proc.stderr is not None
        for line in self._proc.stderr:
            with self._cond:
                self._stderr.append(line.decode("utf-8", "replace").rstrip("\n"))
