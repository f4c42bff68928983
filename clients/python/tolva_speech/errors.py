"""The one exception the client raises."""
from __future__ import annotations


class TolvaSpeechError(Exception):
    """An error document of the tool, an error event of `listen`, or a failure
    of the tool process itself.

    `code` is the tool's own error code ("no-such-file", "locale-unsupported",
    ...) or one of the client's codes for a process that misbehaved:

    - "tool-not-found": no tolva-speech executable could be found;
    - "usage": the tool refused its command line (exit status 2);
    - "crashed": the tool died on a signal, exited unexpectedly, or wrote
      output that is not its documented JSON;
    - "timeout": the tool did not answer within the bound the caller gave.
    """

    def __init__(self, code: str, message: str, detail: str | None = None) -> None:
        super().__init__(f"{code}: {message}" + (f" ({detail})" if detail else ""))
        self.code = code
        self.message = message
        self.detail = detail
