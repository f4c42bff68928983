"""Helpers shared by the listen benchmarks: a `tolva-speech listen` child that
is talked to line by line, a private PulseAudio daemon with a FIFO
microphone, and the librivox clips as PCM."""
import os
import queue
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import json
import wave

RESULTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "results")

LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"
CLIP_PREFIX = "sense_and_sensibility_01_austen_64kb-"
RATE = 16000


def save_results(name, figures):
    """Writes the figures of one benchmark, dated, to bench/results/<name>.json (for bench/plot.py)."""
    os.makedirs(RESULTS, exist_ok=True)
    with open(os.path.join(RESULTS, name + ".json"), "w") as out:
        json.dump(dict(figures, date=time.strftime("%Y-%m-%d")), out, indent=1)


def clip_path(number):
    return f"{LIBRIVOX}/{CLIP_PREFIX}{number}.wav"


def clip_pcm(number):
    """The clip's s16le mono samples as bytes."""
    with wave.open(clip_path(number)) as w:
        return w.readframes(w.getnframes())


def speech_onset_ms(pcm, frame_ms=10):
    """Start of the first 10 ms frame whose RMS energy rises well above the
    clip's noise floor (the quietest tenth of its frames)."""
    import array
    import math
    samples = array.array("h", pcm)
    step = RATE * frame_ms // 1000
    rms = []
    for at in range(0, len(samples) - step + 1, step):
        frame = samples[at:at + step]
        rms.append(math.sqrt(sum(s * s for s in frame) / step))
    floor = sorted(rms)[len(rms) // 10]
    threshold = max(8 * floor, 0.05 * max(rms))
    for index, value in enumerate(rms):
        if value >= threshold:
            return index * frame_ms
    return 0


class Listen:
    """`tool listen` as a child process; events are read on a thread and
    stamped with time.monotonic() on arrival."""

    def __init__(self, tool, env, stderr=subprocess.DEVNULL):
        self.proc = subprocess.Popen([tool, "listen"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=stderr, env=env, bufsize=0)
        self.events = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.events.put((time.monotonic(), json.loads(line)))
        self.events.put((time.monotonic(), None))

    def send(self, command):
        """Writes one command; returns the monotonic time just after."""
        self.proc.stdin.write((json.dumps(command) + "\n").encode())
        self.proc.stdin.flush()
        return time.monotonic()

    def await_event(self, name, timeout=60, accept=lambda e: True):
        """(arrival time, event) of the next event named `name`."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError(f"no {name} event within {timeout} s")
            try:
                at, event = self.events.get(timeout=left)
            except queue.Empty:
                continue
            if event is None:
                raise RuntimeError(f"listen ended while waiting for {name}")
            self.seen.append(event)
            if event.get("event") == name and accept(event):
                return at, event

    def rss_kb(self):
        with open(f"/proc/{self.proc.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def hwm_kb(self):
        with open(f"/proc/{self.proc.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return 0

    def cpu_seconds(self):
        with open(f"/proc/{self.proc.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        # utime and stime are fields 14 and 15 of the whole line.
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def quit(self):
        try:
            self.send({"cmd": "quit"})
        except BrokenPipeError:
            pass
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class PulseDaemon:
    """A private PulseAudio daemon in a fresh temporary directory; env holds
    the variables that point libpulse (and a child) at it."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="tolva-pulse-")
        d = self.dir
        self.env = dict(os.environ, HOME=d, XDG_RUNTIME_DIR=d, XDG_CONFIG_HOME=d, PULSE_RUNTIME_PATH=d,
                        PULSE_STATE_PATH=d, PULSE_SERVER=f"unix:{d}/native")
        self.proc = subprocess.Popen(
            ["/usr/bin/pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             f"--log-target=file:{d}/pa.log", "-L", f"module-native-protocol-unix auth-anonymous=1 socket={d}/native",
             "-L", "module-null-sink"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        deadline = time.monotonic() + 20
        while subprocess.run(["pactl", "info"], env=self.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL).returncode != 0:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                self.close()
                raise RuntimeError("pulseaudio did not start")
            time.sleep(0.02)

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, check=True, capture_output=True, text=True).stdout

    def fifo(self, name):
        return os.path.join(self.dir, name + ".fifo")

    def add_microphone(self, name="fakemic", rate=RATE, channels=1):
        """A FIFO source of s16le audio at `rate` with `channels`, made the default source."""
        index = int(self.pactl("load-module", "module-pipe-source", f"source_name={name}",
                               f"file={self.fifo(name)}", "format=s16le", f"rate={rate}", f"channels={channels}"))
        self.pactl("set-default-source", name)
        return index

    def close(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def as_pcm(pcm, rate, channels):
    """16 kHz mono s16le `pcm` resampled by sox to `rate` with `channels` (each a copy)."""
    if rate == RATE and channels == 1:
        return pcm
    raw = ["-t", "raw", "-e", "signed", "-b", "16", "-L"]
    return subprocess.run(["sox", *raw, "-r", str(RATE), "-c", "1", "-", *raw, "-r", str(rate), "-c", str(channels),
                           "-"], input=pcm, capture_output=True, check=True).stdout


class PacedWriter:
    """Writes s16le PCM of `rate` and `channels` into a FIFO in real time,
    `chunk_ms` every `chunk_ms`, on a thread; written_at[i] is when chunk i
    was written. `head` bytes (a container's header) go first at once;
    `piece` bytes per chunk replace the PCM's (for compressed data). A
    `schedule` of (seconds from the start, bytes) replaces the chunks: each
    piece is written when its time comes (a container's pages, when their
    audio is complete)."""

    def __init__(self, fifo, pcm, chunk_ms=100, rate=RATE, channels=1, head=0, piece=None, schedule=None):
        self.fd = os.open(fifo, os.O_WRONLY)
        if head:
            os.write(self.fd, pcm[:head])
        self.pcm = pcm
        self.head = head
        self.chunk = piece or rate * channels * 2 * chunk_ms // 1000
        self.period = chunk_ms / 1000
        self.schedule = schedule
        self.written_at = []
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _pieces(self):
        if self.schedule is not None:
            return self.schedule
        return [(index * self.period, self.pcm[at:at + self.chunk])
                for index, at in enumerate(range(self.head, len(self.pcm), self.chunk))]

    def _run(self):
        start = time.monotonic()
        for due, data in self._pieces():
            pause = start + due - time.monotonic()
            if pause > 0 and self.stopped.wait(pause):
                break
            if self.stopped.is_set():
                break
            try:
                os.write(self.fd, data)
            except (BrokenPipeError, OSError):
                break
            self.written_at.append(time.monotonic())

    def join(self):
        self.thread.join()

    def stop(self):
        self.stopped.set()
        self.thread.join()
        os.close(self.fd)
