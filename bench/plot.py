#!/usr/bin/python3
"""Draws bench/figures.png from the figures the benchmarks last saved in
bench/results/: the real-time factor of a long transcription against the
number of decoding threads, with pocketsphinx_continuous as a line
(file_threads_bench.py) with the run's peak PSS, and the first volatile's lag after speech onset in
listen: the first session, warm sessions (listen_bench.py) and a 48 kHz stereo
microphone (mic_bench.py).

Runs on Debian's python3 with python3-matplotlib.
usage: bench/plot.py
"""
import json
import os
import statistics

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def load(name):
    with open(os.path.join(HERE, "results", name + ".json")) as data:
        return json.load(data)


def threads_panel(axes, files):
    threads = sorted(int(t) for t in files["threads"])
    rtf = [files["threads"][str(t)]["rtf"] for t in threads]
    axes.plot(threads, rtf, "o-", color="tab:blue", label="tolva-speech transcribe")
    for t, value in zip(threads, rtf):
        axes.annotate(f"{value:.3f}", (t, value), textcoords="offset points", xytext=(6, 6))
    axes.axhline(files["peer"]["rtf"], color="tab:red", linestyle="--",
                 label=f"pocketsphinx_continuous ({files['peer']['rtf']:.3f})")
    axes.set_xticks(threads)
    axes.set_xlabel("decoding threads (TOLVA_SPEECH_THREADS)")
    axes.set_ylabel("real-time factor (wall time / audio time)")
    axes.set_ylim(bottom=0)
    axes.set_title(f"{files['audioSeconds'] / 60:.0f} min of librivox speech, 2 cores ({files['date']})")
    lines, labels = axes.get_legend_handles_labels()
    if all("peakPssMb" in files["threads"][str(t)] for t in threads):
        memory = axes.twinx()
        pss = [files["threads"][str(t)]["peakPssMb"] for t in threads]
        memory.plot(threads, pss, "s:", color="tab:green", label="peak PSS (MB, right axis)")
        for t, value in zip(threads, pss):
            memory.annotate(f"{value:.0f} MB", (t, value), textcoords="offset points", xytext=(6, -14))
        memory.set_ylabel("peak PSS of the run (MB)")
        memory.set_ylim(bottom=0)
        more_lines, more_labels = memory.get_legend_handles_labels()
        lines, labels = lines + more_lines, labels + more_labels
    axes.legend(lines, labels, loc="lower left")


def latency_panel(axes, listen, microphone):
    bars = [
        ("first session\n(replay)", listen["coldLagMs"], 300),
        ("warm sessions\n(replay)", statistics.median(listen["warmLagsMs"]), 250),
        ("48 kHz stereo mic\n100 ms writes", statistics.median(microphone["lags48kStereoMs"]), 200),
        ("48 kHz stereo mic\n20 ms writes", statistics.median(microphone["lags48kStereo20msWritesMs"]), 200),
    ]
    positions = range(len(bars))
    axes.bar(positions, [value for _, value, _ in bars], color="tab:blue", width=0.6)
    for x, (_, value, target) in zip(positions, bars):
        axes.annotate(f"{value:.0f}", (x, value), ha="center", textcoords="offset points", xytext=(0, 4))
        axes.hlines(target, x - 0.35, x + 0.35, colors="tab:red", linestyles="--")
    axes.plot([], [], color="tab:red", linestyle="--", label="target")
    axes.set_xticks(list(positions), [name for name, _, _ in bars])
    axes.set_ylabel("first volatile after speech onset (ms, median)")
    axes.set_title(f"listen ({listen['date']}, microphone {microphone['date']})")
    axes.legend(loc="upper right")


def main():
    figure, (left, right) = plt.subplots(1, 2, figsize=(13, 5))
    threads_panel(left, load("file_threads"))
    latency_panel(right, load("listen"), load("microphone"))
    figure.tight_layout()
    figure.savefig(os.path.join(HERE, "figures.png"), dpi=100)


if __name__ == "__main__":
    main()
