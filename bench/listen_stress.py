#!/usr/bin/env python3
"""Start/stop/quit stress of one `listen` process with random timing.

Each cycle sends a start (a replay with a small chunkMs, now and then one
with an hour's pause that only the stop can cut short, or the microphone),
waits a random time (sometimes not even for `session-started`, so the stop
meets the session during admission), sends a stop and mostly waits for
`session-ended`; sometimes it starts the next cycle at once, so the start
meets a session that is still ending. Now and then a stray stop, a malformed
line or a second start goes in between. The last cycle ends with `quit`
instead of a stop.

Checked, and printed:
  - no deadlock: every cycle ends within --cycle-timeout seconds, and the
    process exits 0 within 10 s of the quit;
  - seq counts 1, 2, ... without a gap;
  - every start is admitted (session-started) or refused as already active,
    every admitted session has exactly one session-ended, and every event of
    a session comes between the two;
  - no error codes but the expected ones, no sanitizer report on stderr;
  - VmRSS after `ready`, after the warm-up cycles and at the end.

usage:
  bench/listen_stress.py --scripted build-thread/tests/tolva-speech-scripted [--cycles 1000]
  bench/listen_stress.py build/tolva-speech [--cycles 100]
"""
import argparse
import json
import os
import queue
import random
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from listen_client import Listen, clip_path  # noqa: E402

# A replay that never ends by itself (an hour) with results arriving as it
# plays, and a microphone that delivers a buffer every 10 ms.
SCRIPTED_SCENARIO = {
    "installedLocales": ["en_US"],
    "files": {"hour.wav": {"length": 16000 * 3600}, "second.wav": {"length": 16000}},
    "analyzer": {"results": [{"text": "one", "isFinal": False, "delayMs": 15},
                             {"text": "one two", "isFinal": True, "delayMs": 15},
                             {"text": "three", "isFinal": False, "delayMs": 30}]},
    "capture": {"bufferFrames": 480, "intervalMs": 10},
}
# Codes a cycle may rightly cause: a start meeting a session that is still
# ending, the stray lines, and a session stopped before any audio came.
EXPECTED_CODES = {"session-already-active", "no-session", "bad-command", "no-audio-captured"}
SANITIZER_REPORT = re.compile(r"WARNING: ThreadSanitizer|ERROR: AddressSanitizer|runtime error:|LeakSanitizer")


class Stress:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.events = []        # every event, in arrival order
        self.cycle_seconds = []
        self.starts_sent = 0
        self.answered = 0       # starts answered: session-started or refused as active
        self.open = 0           # sessions started and not yet ended

    def take(self, timeout):
        """The next event, counted; fails when none comes in time."""
        try:
            _, event = self.listen.events.get(timeout=timeout)
        except queue.Empty:
            raise TimeoutError("deadlock? no event within %.0f s; last events: %s"
                               % (timeout, self.events[-5:])) from None
        if event is None:
            raise RuntimeError("listen ended early; last events: %s" % self.events[-5:])
        self.events.append(event)
        name = event["event"]
        if name == "session-started" or (name == "error" and event.get("code") == "session-already-active"):
            self.answered += 1
        self.open += {"session-started": 1, "session-ended": -1}.get(name, 0)
        return event

    def wait_until(self, condition, timeout):
        deadline = time.monotonic() + timeout
        while not condition():
            self.take(max(deadline - time.monotonic(), 0.001))

    def send_start(self):
        self.starts_sent += 1
        if self.args.scripted and self.rng.random() < 0.3:
            self.listen.send({"cmd": "start", "locale": "en-US"})
        else:
            replay = self.replay
            chunk_ms = self.rng.randint(self.args.min_chunk_ms, self.args.max_chunk_ms)
            if self.rng.random() < self.args.long_pauses:
                # The first chunk is the whole (short) file; only the stop ends the hour's pause after it.
                replay, chunk_ms = self.short_replay, 3600000
            self.listen.send({"cmd": "start", "locale": "en-US", "replay": replay, "chunkMs": chunk_ms})

    def send_noise(self):
        noise = self.rng.choice([{"cmd": "stop"}, {"cmd": "dance"}, "not json", None])
        if noise is None:
            self.send_start()
        elif isinstance(noise, str):
            self.listen.proc.stdin.write((noise + "\n").encode())
            self.listen.proc.stdin.flush()
        else:
            self.listen.send(noise)

    def idle_rss_kb(self):
        """VmRSS once every session has ended and its threads had time to go."""
        self.wait_until(lambda: self.answered == self.starts_sent and self.open == 0, self.args.cycle_timeout)
        time.sleep(0.2)
        return self.listen.rss_kb()

    # Every start is followed by a stop before the next start, so no session
    # is ever left without one, and whatever the timing the driver only waits
    # for what must come: the answer to each start sent, and after a stop
    # the end of every session started.
    def cycle(self, last):
        began = time.monotonic()
        timeout = self.args.cycle_timeout
        self.send_start()
        if self.rng.random() < 0.7:  # else the stop may meet the start in admission
            self.wait_until(lambda: self.answered == self.starts_sent, timeout)
        time.sleep(self.rng.uniform(0, self.args.max_wait_ms / 1000))
        if self.rng.random() < 0.05:
            self.send_noise()
        if last:
            self.listen.send({"cmd": "quit"})
            self.listen.proc.wait(timeout=10)
        else:
            self.listen.send({"cmd": "stop"})
            if self.rng.random() < 0.75:  # else the next start may meet this session still ending
                self.wait_until(lambda: self.answered == self.starts_sent and self.open == 0, timeout)
        self.cycle_seconds.append(time.monotonic() - began)

    def run(self):
        tool, args = self.args.tool, self.args
        with tempfile.TemporaryDirectory() as tmp:
            env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data"))
            if args.scripted:
                env["TOLVA_SCENARIO"] = json.dumps(SCRIPTED_SCENARIO)
                self.replay, self.short_replay = "hour.wav", "second.wav"
            else:
                self.replay = self.short_replay = clip_path(args.clip)
            env.setdefault("TSAN_OPTIONS", "halt_on_error=0 second_deadlock_stack=1")
            stderr_path = os.path.join(tmp, "stderr")
            with open(stderr_path, "wb") as stderr:
                self.listen = Listen(tool, env, stderr=stderr)
                self.wait_until(lambda: self.events and self.events[0]["event"] == "ready", 60)
                rss = {"ready": self.idle_rss_kb()}
                series = []  # (cycles done, VmRSS) at every tenth of the run
                for n in range(1, args.cycles + 1):
                    last = n == args.cycles
                    if last:
                        rss["end"] = self.idle_rss_kb()
                    self.cycle(last)
                    if n == args.warmup:
                        rss["warm"] = self.idle_rss_kb()
                    if n % max(args.cycles // 10, 1) == 0 and not last:
                        series.append((n, self.idle_rss_kb()))
                rss["series"] = series
                status = self.listen.proc.wait(timeout=10)
            while True:
                _, event = self.listen.events.get(timeout=10)
                if event is None:
                    break
                self.events.append(event)
            with open(stderr_path, errors="replace") as stderr:
                reports = [line.rstrip() for line in stderr if SANITIZER_REPORT.search(line)]
        return self.report(status, rss, reports)

    def report(self, status, rss, reports):
        events = self.events
        seqs = [e["seq"] for e in events]
        started = [e["session"] for e in events if e["event"] == "session-started"]
        ended = [e["session"] for e in events if e["event"] == "session-ended"]
        codes = {}
        for e in events:
            if e["event"] == "error":
                codes[e["code"]] = codes.get(e["code"], 0) + 1
        refused = codes.get("session-already-active", 0)
        unexpected = {c: n for c, n in codes.items() if c not in EXPECTED_CODES}
        failed_ends = sum(1 for e in events if e["event"] == "session-ended" and e.get("failed"))
        # Every event of a session between its session-started and session-ended.
        open_session, outside = None, 0
        for e in events:
            if e["event"] == "session-started":
                open_session = e["session"]
            elif "session" in e and e["session"] != open_session:
                outside += 1
            if e["event"] == "session-ended":
                open_session = None
        cycles = sorted(self.cycle_seconds)
        checks = {
            "exit status 0 after quit": status == 0,
            "seq 1..N without gaps": seqs == list(range(1, len(seqs) + 1)),
            "each start admitted or refused as active": self.starts_sent == len(started) + refused,
            "one session-ended per session-started": sorted(ended) == sorted(started) and len(set(ended)) == len(ended),
            "every session event inside its session": outside == 0,
            "no unexpected error codes": not unexpected,
            "no failed sessions": failed_ends == 0,
            "no sanitizer report": not reports,
        }
        print(f"tool {self.args.tool}, seed {self.args.seed}")
        print(f"cycles {len(cycles)}: starts sent {self.starts_sent}, admitted {len(started)}, "
              f"refused as active {refused}, session-ended {len(ended)}, events {len(events)}")
        print(f"cycle time: median {cycles[len(cycles) // 2] * 1000:.0f} ms, "
              f"p99 {cycles[int(len(cycles) * 0.99)] * 1000:.0f} ms, max {cycles[-1] * 1000:.0f} ms "
              f"(bound {self.args.cycle_timeout} s)")
        print("error codes:", json.dumps(codes, sort_keys=True))
        warm = rss.get("warm", rss["ready"])
        print(f"VmRSS: after ready {rss['ready'] / 1024:.1f} MB, after {self.args.warmup} cycles "
              f"{warm / 1024:.1f} MB, at the end {rss['end'] / 1024:.1f} MB "
              f"(growth after warm-up {(rss['end'] - warm) / 1024:+.1f} MB)")
        print("VmRSS by cycles done (MB):", " ".join(f"{n}:{kb / 1024:.1f}" for n, kb in rss["series"]))
        for line in reports[:20]:
            print("  sanitizer:", line)
        for name, ok in checks.items():
            print(f"  {'ok  ' if ok else 'FAIL'} {name}")
        return all(checks.values())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("tool", help="tolva-speech, or the scripted test executable with --scripted")
    parser.add_argument("--scripted", action="store_true", help="the tool runs the scripted platform")
    parser.add_argument("--cycles", type=int)
    parser.add_argument("--warmup", type=int, default=10, help="cycles before the second RSS sample")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--clip", default="0880", help="librivox clip replayed by the real engine")
    parser.add_argument("--min-chunk-ms", type=int, default=0, help="replay chunkMs is drawn from this ...")
    parser.add_argument("--max-chunk-ms", type=int, help="... to this")
    parser.add_argument("--max-wait-ms", type=int, help="the wait between start and stop is drawn up to this")
    parser.add_argument("--long-pauses", type=float,
                        help="share of replays with chunkMs 3600000 (default 0.1 scripted, 0 real)")
    parser.add_argument("--cycle-timeout", type=float, default=30, help="seconds a cycle may take")
    args = parser.parse_args()
    if args.cycles is None:
        args.cycles = 1000 if args.scripted else 100
    if args.long_pauses is None:
        args.long_pauses = 0.1 if args.scripted else 0
    if args.max_chunk_ms is None:
        args.max_chunk_ms = 20 if args.scripted else 100
    if args.max_wait_ms is None:
        args.max_wait_ms = 60 if args.scripted else 2000
    sys.exit(0 if Stress(args).run() else 1)


if __name__ == "__main__":
    main()
