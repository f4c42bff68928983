#!/usr/bin/env python3
"""Word error rate of `tolva-speech listen` replaying the librivox clips at
several chunk sizes: the words must not depend on how the audio is chunked.
Prints one line per chunkMs with its WER and the difference to chunkMs 100.

usage: bench/chunk_wer.py [path/to/tolva-speech] [chunkMs ...]
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from listen_client import CLIP_PREFIX, Listen, clip_path  # noqa: E402
from sphinx_wer import references, word_errors  # noqa: E402

CLIPS = ["0870", "0880", "0890", "0920", "0930"]


def heard(listen, clip, chunk_ms):
    """The text of a session's finals."""
    listen.send({"cmd": "start", "locale": "en-US", "replay": clip_path(clip), "chunkMs": chunk_ms})
    _, started = listen.await_event("session-started", timeout=120)
    session = started["session"]
    _, ended = listen.await_event("session-ended", timeout=600)
    finals = [e for e in listen.seen if e.get("event") == "final" and e.get("session") == session]
    return "".join(f.get("text", "") for f in finals), ended.get("failed", False)


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else "build/tolva-speech"
    chunks = [int(c) for c in sys.argv[2:]] or [100, 0, 10, 20, 50, 250, 1000]
    refs = references()
    refs = {c: refs[CLIP_PREFIX + c] for c in CLIPS}
    clips = CLIPS
    words = sum(len(refs[c]) for c in clips)
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, XDG_DATA_HOME=home)
        baseline = None
        for chunk_ms in chunks:
            listen = Listen(tool, env)
            listen.await_event("ready")
            errors, failed = 0, 0
            for clip in clips:
                text, session_failed = heard(listen, clip, chunk_ms)
                errors += word_errors(refs[clip], text.lower().split())
                failed += bool(session_failed)
            listen.quit()
            wer = 100.0 * errors / words
            baseline = wer if baseline is None else baseline
            print(f"chunkMs {chunk_ms:5d}: WER {wer:5.1f}% ({errors}/{words} words)"
                  f"  diff to chunkMs {chunks[0]}: {wer - baseline:+.1f}  failed sessions: {failed}", flush=True)


if __name__ == "__main__":
    main()
