"""Checks that the evaluation measures the product: Festival in one process
speaks a sentence with the bytes text2wave writes, and tolva-eval-decode,
with no settings given, finds the words the shipped binary finds with
`transcribe` on a few files of each set, and with `listen` replay at chunkMs
100 and 20 on two of them (played at natural speed, so only a few). Exits
when anything differs."""
import json
import os
import queue
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import decoding  # noqa: E402
import sets as eval_sets  # noqa: E402
from listen_client import Listen  # noqa: E402


def samples(all_sets):
    picked = []
    for s in all_sets.values():
        picked += [u.wav for u in s.utterances[: 5 if s.name == "librivox" else 2]]
    return picked


def shipped_transcript(shipped, path, env):
    out = subprocess.run(decoding.NICE + [shipped, "transcribe", path, "--locale", "en-US"], capture_output=True,
                         text=True, env=env)
    if out.returncode != 0:
        sys.exit(f"tolva-speech transcribe failed on {path}: {out.stdout}")
    return json.loads(out.stdout)["transcript"]


def next_event(listen, names, timeout=120):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            _, event = listen.events.get(timeout=max(deadline - time.monotonic(), 0.01))
        except queue.Empty:
            continue
        if event is None:
            sys.exit("listen ended early")
        if event.get("event") in names:
            return event
    sys.exit(f"no {names} event from listen within {timeout} s")


def shipped_replay(shipped, paths, chunk_ms, env):
    listen = Listen(shipped, env)
    listen.await_event("ready")
    texts = []
    for path in paths:
        listen.send({"cmd": "start", "locale": "en-US", "replay": path, "chunkMs": chunk_ms})
        finals = []
        while True:
            event = next_event(listen, ("final", "session-ended", "error"))
            if event["event"] == "error":
                sys.exit(f"listen replay of {path} failed: {event}")
            if event["event"] == "session-ended":
                break
            finals.append(event["text"])
        texts.append("".join(finals).strip())
    listen.quit()
    return texts


def check(build, work, all_sets, env):
    shipped = os.path.join(build, "tolva-speech")
    tool = os.path.join(build, "bench", "eval", "tolva-eval-decode")
    paths = samples(all_sets)
    differences = []
    sentence = eval_sets.sentences("test")[0]
    for voice in eval_sets.VOICES:
        if not eval_sets.check_text2wave(voice, sentence, os.path.join(work, "audio", voice)):
            differences.append(f"text2wave speaks {sentence!r} differently with {voice}")
    batch = decoding.run_ours(decoding.Runner.ours("check", tool, "batch", 100, [], env), paths, 1)
    for path in paths:
        shipped_text = shipped_transcript(shipped, path, env)
        if shipped_text != batch[path].text:
            differences.append(f"transcribe {path}: shipped {shipped_text!r}, tool {batch[path].text!r}")
    replayed = paths[5:7]
    for chunk_ms in (100, 20):
        live = decoding.run_ours(decoding.Runner.ours("check", tool, "dictation", chunk_ms, [], env), replayed, 1)
        for path, shipped_text in zip(replayed, shipped_replay(shipped, replayed, chunk_ms, env)):
            if shipped_text != live[path].text:
                differences.append(f"listen {chunk_ms} ms {path}: shipped {shipped_text!r}, tool {live[path].text!r}")
    if differences:
        sys.exit("tolva-eval-decode and the shipped binary differ:\n" + "\n".join(differences))
    print(f"check: tolva-eval-decode gives the shipped binary's words on {len(paths)} files (transcribe) "
          f"and {len(replayed)} (listen replay at 100 and 20 ms)\n")
