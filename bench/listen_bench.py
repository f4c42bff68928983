#!/usr/bin/env python3
"""Replays a librivox clip through `tolva-speech listen` and prints:
  - start command -> session-started, cold (first session) and warm (later ones)
  - lag of the first volatile after the speech begins in the clip, cold and warm
  - stop -> session-ended
  - VmRSS of the listen process after each of 20 sessions, and its growth
The first start is sent `delay` seconds after `ready` (default 1), as a parent
that starts dictating on a user's action would.

usage: bench/listen_bench.py [path/to/tolva-speech] [sessions] [delay]
"""
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from listen_client import Listen, clip_path, clip_pcm, save_results, speech_onset_ms  # noqa: E402

CLIP = "0880"


def ms(seconds):
    return seconds * 1000


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else "build/tolva-speech"
    sessions = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    delay = float(sys.argv[3]) if len(sys.argv) > 3 else 1.0
    onset = speech_onset_ms(clip_pcm(CLIP))
    start = {"cmd": "start", "locale": "en-US", "replay": clip_path(CLIP)}

    with tempfile.TemporaryDirectory() as tmp:
        listen = Listen(tool, dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data")))
        listen.await_event("ready")
        time.sleep(delay)
        starts, lags, stops, rss = [], [], [], [listen.rss_kb()]
        full_sessions = 3  # these run to the end of the clip; the rest are stopped at their first volatile
        for n in range(1, sessions + 1):
            sent = listen.send(start)
            at, _ = listen.await_event("session-started")
            starts.append(ms(at - sent))
            _, first = listen.await_event("volatile")
            lags.append(first["sessionMs"] - onset)
            if n <= full_sessions:
                listen.await_event("session-ended")
            else:
                stopped = listen.send({"cmd": "stop"})
                at, _ = listen.await_event("session-ended")
                stops.append(ms(at - stopped))
            rss.append(listen.rss_kb())
        peak = listen.hwm_kb()
        listen.quit()

    warm = starts[1:]
    print(f"clip {CLIP}: speech onset at {onset} ms (energy threshold)")
    print(f"start -> session-started: cold {starts[0]:.1f} ms (sent {delay:g} s after ready, target <= 100 ms); "
          f"warm median {statistics.median(warm):.1f} ms, max {max(warm):.1f} ms (target <= 100 ms)")
    print(f"first volatile after speech onset: cold {lags[0]} ms (target <= 300 ms); "
          f"warm median {statistics.median(lags[1:])} ms, max {max(lags[1:])} ms (target <= 250 ms)")
    print(f"stop -> session-ended: median {statistics.median(stops):.1f} ms, max {max(stops):.1f} ms "
          f"(target <= 500 ms)")
    print(f"VmRSS (MB) before sessions {rss[0] / 1024:.1f}, after 1 {rss[1] / 1024:.1f}, after 5 {rss[5] / 1024:.1f}, "
          f"after {sessions} {rss[-1] / 1024:.1f}; peak (VmHWM) {peak / 1024:.1f}")
    growth = (rss[-1] - rss[5]) / max(sessions - 5, 1)
    print(f"RSS growth from session 5 to {sessions}: {(rss[-1] - rss[5]) / 1024:.2f} MB "
          f"({growth:.0f} kB/session)")
    print("RSS per session (MB):", " ".join(f"{r / 1024:.1f}" for r in rss[1:]))
    save_results("listen", {"startDelaySeconds": delay, "coldStartMs": starts[0], "warmStartsMs": warm,
                            "coldLagMs": lags[0], "warmLagsMs": lags[1:], "stopsMs": stops})


if __name__ == "__main__":
    main()
