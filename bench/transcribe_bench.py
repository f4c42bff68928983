#!/usr/bin/env python3
"""Transcribes 25 s of librivox speech with tolva-speech and with the
distribution's pocketsphinx_continuous on the same file, alternating runs, and
prints the median wall-time ratio, tolva-speech's peak RSS and the median time
of `probe`.

usage: bench/transcribe_bench.py [path/to/tolva-speech] [runs]
"""
import glob
import os
import statistics
import subprocess
import sys
import tempfile
import time

LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"


def timed(cmd, env):
    """Runs cmd; returns (wall seconds, peak RSS in MB)."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(cmd)}")
    return wall, usage.ru_maxrss / 1024


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else "build/tolva-speech"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data"))
        joined = os.path.join(tmp, "librivox-25s.wav")
        subprocess.run(["sox", *sorted(glob.glob(f"{LIBRIVOX}/*.wav")), joined], check=True)

        ours, peer, rss = [], [], []
        for _ in range(runs):
            wall, peak = timed([tool, "transcribe", joined, "--locale", "en-US"], env)
            ours.append(wall)
            rss.append(peak)
            wall, _ = timed(["pocketsphinx_continuous", "-infile", joined, "-logfn", "/dev/null"], env)
            peer.append(wall)

        probes = [timed([tool, "probe"], env)[0] for _ in range(20)]

    ratio = statistics.median(ours) / statistics.median(peer)
    print(f"transcribe median wall: tolva-speech {statistics.median(ours):.3f} s, "
          f"pocketsphinx_continuous {statistics.median(peer):.3f} s")
    print(f"wall-time ratio (target <= 0.9): {ratio:.2f}")
    print(f"tolva-speech peak RSS, a decoder per thread (target <= 250 MB): {max(rss):.1f} MB")
    print(f"probe median wall (target <= 15 ms): {statistics.median(probes) * 1000:.1f} ms")


if __name__ == "__main__":
    main()
