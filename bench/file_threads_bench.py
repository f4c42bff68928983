#!/usr/bin/env python3
"""`tolva-speech transcribe` of a long file on 1, 2 and 4 decoding threads
(TOLVA_SPEECH_THREADS) and the distribution's pocketsphinx_continuous on the
same file, in one run, alternating, each `runs` times. The file is the five
librivox clips of pocketsphinx-testdata joined and repeated to about 5
minutes, made with sox. Prints per configuration the median wall time, its
real-time factor, peak RSS and peak PSS (the proportional set size of
/proc/PID/smaps_rollup, sampled every 50 ms and summed over the processes
of the run), the ratio of the default thread count to the
peer, and checks that every thread count gave the same segments.
With --hour, also transcribes an hour of the same audio on the default thread
count and compares its peak RSS with the 5-minute file's.
Writes the figures to bench/results/file_threads.json (for bench/plot.py).

With --no-peer, runs only tolva-speech (for memory figures; no ratios).

usage: bench/file_threads_bench.py [path/to/tolva-speech] [runs] [--hour] [--no-peer]
"""
import glob
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"
THREADS = [1, 2, 4]


def pss_mb(pids):
    """The summed PSS of the processes, in MB (those already gone count 0)."""
    total = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/smaps_rollup") as rollup:
                for line in rollup:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total / 1024


def children(pid):
    """The children of every thread of the process (decoders fork from any)."""
    found = []
    for listing in glob.glob(f"/proc/{pid}/task/*/children"):
        try:
            with open(listing) as listed:
                found += [int(p) for p in listed.read().split()]
        except OSError:
            pass
    return found


def timed(cmd, env):
    """Runs cmd; returns (wall seconds, peak RSS in MB, peak PSS in MB, stdout)."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    peak_pss = [0.0]
    done = threading.Event()

    def sample():
        while not done.wait(0.05):
            peak_pss[0] = max(peak_pss[0], pss_mb([proc.pid, *children(proc.pid)]))

    sampler = threading.Thread(target=sample)
    sampler.start()
    out = proc.stdout.read()
    done.set()
    sampler.join()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(cmd)}")
    return wall, usage.ru_maxrss / 1024, peak_pss[0], out


def repeated(tmp, name, times):
    """The clips joined, repeated `times` times; returns (path, seconds)."""
    joined = os.path.join(tmp, "joined.wav")
    if not os.path.exists(joined):
        subprocess.run(["sox", *sorted(glob.glob(f"{LIBRIVOX}/*.wav")), joined], check=True)
    path = os.path.join(tmp, name + ".wav")
    subprocess.run(["sox", *([joined] * times), path], check=True)
    seconds = float(subprocess.run(["soxi", "-D", path], capture_output=True, text=True, check=True).stdout)
    return path, seconds


def ours(tool, path, env, threads=None):
    run_env = dict(env)
    if threads is not None:
        run_env["TOLVA_SPEECH_THREADS"] = str(threads)
    wall, rss, pss, out = timed([tool, "transcribe", path, "--locale", "en-US"], run_env)
    return wall, rss, pss, json.loads(out)["segments"]


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    tool = args[0] if args else "build/tolva-speech"
    runs = int(args[1]) if len(args) > 1 else 3
    hour = "--hour" in sys.argv
    with_peer = "--no-peer" not in sys.argv
    default_threads = os.sysconf("SC_NPROCESSORS_ONLN")
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data"))
        env.pop("TOLVA_SPEECH_THREADS", None)
        path, seconds = repeated(tmp, "five-minutes", 12)
        walls = {t: [] for t in THREADS}
        rss = {t: [] for t in THREADS}
        pss = {t: [] for t in THREADS}
        peer = []
        segments = {}
        for _ in range(runs):
            if with_peer:
                peer.append(timed(["pocketsphinx_continuous", "-infile", path, "-logfn", "/dev/null"], env)[0])
            for t in THREADS:
                wall, peak, peak_pss, found = ours(tool, path, env, t)
                walls[t].append(wall)
                rss[t].append(peak)
                pss[t].append(peak_pss)
                segments.setdefault(t, found)
        long_rss = None
        if hour:
            long_path, long_seconds = repeated(tmp, "hour", 144)
            long_wall, long_rss, _, _ = ours(tool, long_path, env)

    same = all(segments[t] == segments[THREADS[0]] for t in THREADS)
    peer_wall = statistics.median(peer) if peer else float("nan")
    print(f"file: {seconds:.1f} s (librivox clips repeated); {runs} runs; {default_threads} online processors; "
          f"load average now {os.getloadavg()[0]:.2f}")
    print(f"pocketsphinx_continuous: median {peer_wall:.1f} s, real-time factor {peer_wall / seconds:.3f}")
    result = {"date": time.strftime("%Y-%m-%d"), "audioSeconds": seconds, "runs": runs,
              "peer": {"wallSeconds": peer, "rtf": peer_wall / seconds}, "threads": {}}
    for t in THREADS:
        wall = statistics.median(walls[t])
        print(f"tolva-speech, {t} thread{'s' if t > 1 else ''}: median {wall:.1f} s, real-time factor "
              f"{wall / seconds:.3f}, ratio to the peer {wall / peer_wall:.2f}, peak RSS {max(rss[t]):.1f} MB, "
              f"peak PSS {max(pss[t]):.1f} MB (runs: {', '.join(f'{w:.1f}' for w in walls[t])} s)")
        result["threads"][str(t)] = {"wallSeconds": walls[t], "rtf": wall / seconds, "peakRssMb": max(rss[t]),
                                     "peakPssMb": max(pss[t])}
    default = min(default_threads, 4)
    print(f"default ({default} threads) against the peer: {statistics.median(walls[default]) / peer_wall:.2f} "
          f"(target <= 0.55 on 2 cores); peak RSS {max(rss[default]):.1f} MB")
    print(f"peak PSS, 2 threads {max(pss[2]):.1f} MB (goal <= 170 MB), 4 threads {max(pss[4]):.1f} MB (goal <= 250 MB)")
    print(f"segments, times and texts the same for {THREADS} threads: {same}")
    if long_rss is not None:
        growth = long_rss / max(rss[default]) - 1
        print(f"an hour ({long_seconds:.0f} s): {long_wall:.0f} s, real-time factor {long_wall / long_seconds:.3f}, "
              f"peak RSS {long_rss:.1f} MB, {100 * growth:+.1f}% against 5 minutes (target within 10%)")
        result["hour"] = {"audioSeconds": long_seconds, "wallSeconds": long_wall, "peakRssMb": long_rss}
    if not with_peer:
        return  # the plot's data holds whole runs only
    os.makedirs(os.path.join(HERE, "results"), exist_ok=True)
    with open(os.path.join(HERE, "results", "file_threads.json"), "w") as out:
        json.dump(result, out, indent=1)


if __name__ == "__main__":
    main()
