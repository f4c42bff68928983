#!/usr/bin/env python3
"""`tolva-speech listen` on a microphone: a private PulseAudio daemon whose
default source is a FIFO fed in real time (100 ms of PCM every 100 ms).
Prints:
  - lag of the first volatile after the speech onset was written to the FIFO,
    for a 16 kHz mono source and for a 48 kHz stereo one (a real device's
    rate), the latter also written 20 ms at a time, as a sound card's periods
    arrive
  - CPU use of the listen process over a long microphone session
  - time from device loss (pactl unload-module) to the "capture-halted" error

usage: bench/mic_bench.py [path/to/tolva-speech] [cpu-session-seconds]
(0 seconds measures the latencies only)
"""
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from listen_client import Listen, PacedWriter, PulseDaemon, as_pcm, clip_pcm, save_results, speech_onset_ms  # noqa: E402,E501

CLIPS = ["0870", "0880", "0890", "0920", "0930"]
MIC_START = {"cmd": "start", "locale": "en-US"}
CHUNK_MS = 100
SILENCE = bytes(2 * 16000)  # 1 s


def first_volatile_lag(listen, daemon, clip, source="fakemic", rate=16000, channels=1, chunk_ms=CHUNK_MS):
    """ms from writing the chunk that holds the speech onset to the first volatile."""
    pcm = as_pcm(SILENCE + clip_pcm(clip) + SILENCE * 2, rate, channels)
    onset = 1000 + speech_onset_ms(clip_pcm(clip))
    daemon.pactl("set-default-source", source)
    listen.send(MIC_START)
    listen.await_event("capture-started")
    writer = PacedWriter(daemon.fifo(source), pcm, chunk_ms, rate, channels)
    at, _ = listen.await_event("volatile", timeout=30)
    writer.stop()
    listen.send({"cmd": "stop"})
    listen.await_event("session-ended")
    onset_written = writer.written_at[onset // chunk_ms]
    return (at - onset_written) * 1000


def cpu_use(listen, daemon, seconds):
    """Average cores used by the listen process while speech plays for `seconds`."""
    speech = b"".join(clip_pcm(c) + SILENCE for c in CLIPS)
    pcm = (speech * (seconds * 32000 // len(speech) + 1))[: seconds * 32000]
    listen.send(MIC_START)
    listen.await_event("capture-started")
    cpu_before, wall_before = listen.cpu_seconds(), time.monotonic()
    writer = PacedWriter(daemon.fifo("fakemic"), pcm, CHUNK_MS)
    writer.join()
    cpu, wall = listen.cpu_seconds() - cpu_before, time.monotonic() - wall_before
    writer.stop()
    listen.send({"cmd": "stop"})
    _, ended = listen.await_event("session-ended", timeout=30)
    return cpu / wall, wall, ended


def halt_latency(listen, daemon, module):
    """ms from the unload-module command to the capture-halted error."""
    listen.send(MIC_START)
    listen.await_event("capture-started")
    writer = PacedWriter(daemon.fifo("fakemic"), clip_pcm("0880") + SILENCE * 5, CHUNK_MS)
    time.sleep(1.5)
    before = time.monotonic()
    daemon.pactl("unload-module", str(module))
    after = time.monotonic()
    at, _ = listen.await_event("error", timeout=10, accept=lambda e: e.get("code") == "capture-halted")
    listen.await_event("session-ended")
    writer.stop()
    return (at - before) * 1000, (after - before) * 1000


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else "build/tolva-speech"
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    daemon = PulseDaemon()
    try:
        daemon.add_microphone("mic48", rate=48000, channels=2)
        module = daemon.add_microphone()
        with tempfile.TemporaryDirectory() as tmp:
            listen = Listen(tool, dict(daemon.env, XDG_DATA_HOME=os.path.join(tmp, "data")))
            listen.await_event("ready")
            lags = [first_volatile_lag(listen, daemon, clip) for clip in CLIPS]
            lags48 = [first_volatile_lag(listen, daemon, clip, "mic48", 48000, 2) for clip in CLIPS]
            lags48fine = [first_volatile_lag(listen, daemon, clip, "mic48", 48000, 2, 20) for clip in CLIPS]
            daemon.pactl("set-default-source", "fakemic")
            halts = []
            if seconds > 0:
                cores, wall, ended = cpu_use(listen, daemon, seconds)
                for _ in range(3):
                    halts.append(halt_latency(listen, daemon, module))
                    module = daemon.add_microphone()
            listen.quit()
    finally:
        daemon.close()

    print("first volatile after the speech onset was written, 16 kHz mono (ms):",
          " ".join(f"{lag:.0f}" for lag in lags), f"| median {statistics.median(lags):.0f} (target <= 300 ms)")
    print("first volatile after the speech onset was written, 48 kHz stereo (ms):",
          " ".join(f"{lag:.0f}" for lag in lags48), f"| median {statistics.median(lags48):.0f} (target <= 200 ms)")
    print("the same, written 20 ms at a time as a sound card's periods come (ms):",
          " ".join(f"{lag:.0f}" for lag in lags48fine), f"| median {statistics.median(lags48fine):.0f}")
    save_results("microphone", {"lags16kMonoMs": lags, "lags48kStereoMs": lags48, "lags48kStereo20msWritesMs": lags48fine})
    if not halts:
        return
    print(f"CPU over a {wall:.1f} s microphone session: {cores:.3f} cores on average (must stay < 1); "
          f"session fed {ended['audioFedMs']} ms, {ended['volatileCount']} volatile, {ended['finalCount']} final")
    print("unload-module -> capture-halted (ms):",
          " ".join(f"{total:.0f} (pactl {pactl:.0f})" for total, pactl in halts),
          f"| median {statistics.median(t for t, _ in halts):.0f} (target <= 500 ms)")


if __name__ == "__main__":
    main()
