#!/usr/bin/env python3
"""`tolva-speech listen` on audio the application feeds: each librivox clip,
between 1 s of silence before and 2 s after, is written into a FIFO in 20 ms
pieces at the pace of real speech, and the lag from writing the piece that
holds the speech onset to the first volatile event is measured, for
  - raw s16le PCM at 16 kHz ("format":"s16le")
  - a WAV file as a stream (header first, then the PCM)
  - Ogg/Opus muxed in 20 ms pages, as a live encoder writes it: each page
    when its audio is complete (from its granule position)
Prints the lags per clip and their median (target: <= 250 ms).

usage: bench/stream_bench.py [path/to/tolva-speech]
"""
import os
import struct
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from listen_client import Listen, PacedWriter, clip_pcm, save_results, speech_onset_ms  # noqa: E402

CLIPS = ["0870", "0880", "0890", "0920", "0930"]
PIECE_MS = 20
RATE = 16000
SILENCE = bytes(2 * RATE)  # 1 s


def wav_header(data_bytes):
    return (b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE * 2, 2, 16) + b"data" + struct.pack("<I", data_bytes))


def ogg_opus(pcm):
    raw = ["-f", "s16le", "-ar", str(RATE), "-ac", "1"]
    return subprocess.run(["ffmpeg", "-v", "error", *raw, "-i", "-", "-c:a", "libopus", "-b:a", "48k",
                           "-page_duration", "20000", "-f", "ogg", "-"], input=pcm, capture_output=True,
                          check=True).stdout


def ogg_schedule(data):
    """The header pages' bytes, and each audio page with the time its audio
    ends, from its granule position less the Opus pre-skip."""
    pages, at = [], 0
    while at < len(data):
        if data[at:at + 4] != b"OggS":
            sys.exit("ffmpeg wrote an Ogg stream this bench cannot cut into pages")
        granule = struct.unpack_from("<q", data, at + 6)[0]
        segments = data[at + 26]
        size = 27 + segments + sum(data[at + 27:at + 27 + segments])
        pages.append((granule, data[at:at + size]))
        at += size
    pre_skip = struct.unpack_from("<H", pages[0][1], 27 + pages[0][1][26] + 10)[0]
    head = b"".join(page for granule, page in pages if granule == 0)
    schedule, seconds = [], 0.0
    for granule, page in pages:
        if granule == 0:
            continue
        if granule > 0:
            seconds = max(seconds, (granule - pre_skip) / 48000)
        schedule.append((seconds, page))
    return head, schedule


def lag(listen, fifo, kind, clip):
    pcm = SILENCE + clip_pcm(clip) + SILENCE * 2
    onset_ms = 1000 + speech_onset_ms(clip_pcm(clip))
    command = {"cmd": "start", "locale": "en-US", "stream": fifo}
    if kind == "raw":
        data, head, piece = pcm, 0, RATE * 2 * PIECE_MS // 1000
        command.update({"format": "s16le", "rate": RATE, "channels": 1})
    elif kind == "wav":
        data, head, piece = wav_header(len(pcm)) + pcm, 44, RATE * 2 * PIECE_MS // 1000
    else:
        header, schedule = ogg_schedule(ogg_opus(pcm))
        data, head, piece = header, len(header), None
    listen.send(command)
    listen.await_event("capture-started")
    feeder = PacedWriter(fifo, data, PIECE_MS, head=head, piece=piece,
                         schedule=schedule if kind == "ogg" else None)
    at, _ = listen.await_event("volatile", timeout=120)
    feeder.stop()
    listen.send({"cmd": "stop"})  # the rest of the clip is not needed
    listen.await_event("session-ended", timeout=120)
    if kind == "ogg":  # the first page whose audio reaches the onset
        onset_piece = next(i for i, (ends, _) in enumerate(schedule) if ends * 1000 > onset_ms)
    else:
        onset_piece = onset_ms // PIECE_MS
    if onset_piece >= len(feeder.written_at):
        return None  # a volatile came before the speech was written: heard in the silence
    return (at - feeder.written_at[onset_piece]) * 1000


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else "build/tolva-speech"
    figures = {}
    with tempfile.TemporaryDirectory() as tmp:
        fifo = os.path.join(tmp, "audio.fifo")
        os.mkfifo(fifo)
        listen = Listen(tool, dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data")))
        listen.await_event("ready")
        for kind in ["raw", "wav", "ogg"]:
            lags = [lag(listen, fifo, kind, clip) for clip in CLIPS]
            figures[kind + "LagsMs"] = lags
            timed = [value for value in lags if value is not None]
            median = f"median {statistics.median(timed):.0f}" if timed else "no median"
            print(f"{kind:>3}: first volatile after the speech onset was written (ms):",
                  " ".join("early" if value is None else f"{value:.0f}" for value in lags),
                  f"| {median} (target <= 250 ms)")
        listen.quit()
    save_results("stream", figures)


if __name__ == "__main__":
    main()
