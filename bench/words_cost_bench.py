#!/usr/bin/env python3
"""What `transcribe --words` costs: the same reading (the librivox clips, each
followed by 0.7 s of silence, `rounds` times over) transcribed with and
without --words, alternating runs on one decoding thread, under nice 10.
Prints the median CPU time (user + system) of each and the difference as a
share of the plain run's.

usage: bench/words_cost_bench.py [path/to/tolva-speech] [runs] [rounds]
"""
import glob
import os
import statistics
import subprocess
import sys
import tempfile

LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"


def cpu_seconds(cmd, env):
    proc = subprocess.Popen(["nice", "-n", "10", *cmd], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(cmd)}")
    return usage.ru_utime + usage.ru_stime


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else "build/tolva-speech"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 4
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data"), TOLVA_SPEECH_THREADS="1")
        silence = os.path.join(tmp, "silence.wav")
        subprocess.run(["sox", "-n", "-r", "16000", "-c", "1", "-b", "16", silence, "trim", "0", "0.7"], check=True)
        reading = os.path.join(tmp, "reading.wav")
        clips = sorted(glob.glob(f"{LIBRIVOX}/*.wav"))
        subprocess.run(["sox", *[path for _ in range(rounds) for clip in clips for path in (clip, silence)], reading],
                       check=True)
        seconds = float(subprocess.run(["soxi", "-D", reading], capture_output=True, text=True).stdout)
        plain, words = [], []
        for _ in range(runs):
            plain.append(cpu_seconds([tool, "transcribe", reading, "--locale", "en-US"], env))
            words.append(cpu_seconds([tool, "transcribe", reading, "--locale", "en-US", "--words"], env))
    base, timed = statistics.median(plain), statistics.median(words)
    print(f"{seconds:.0f} s of audio, {runs} runs each, one decoding thread")
    print(f"median CPU: plain {base:.3f} s, --words {timed:.3f} s")
    print(f"--words costs {100 * (timed - base) / base:+.2f}% (target <= 2%); "
          f"plain runs spread {min(plain):.3f}-{max(plain):.3f} s")


if __name__ == "__main__":
    main()
