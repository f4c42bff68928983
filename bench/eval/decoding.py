"""Texts of the tools under evaluation, for many files, cached.

Ours: tolva-eval-decode, the real engine with settings from its command line,
loaded once per process, the files split over `jobs` processes. The peer:
pocketsphinx_continuous once per file. Every process runs under nice 10.

The cache holds one JSON-lines file per runner, keyed by the audio file's
bytes, so an unchanged runner on unchanged audio is not decoded again. A
runner is identified by everything that decides its words: its executable's
bytes (for ours all of the product's code it runs: the pool, the presets, the
text trimming, every header), the bytes of every shared library it loads
(PocketSphinx, sphinxbase, FFmpeg, the C++ runtime), the model's files, and
for ours its mode, chunk size and every setting it runs with (so naming a
default changes nothing).
"""
import hashlib
import json
import os
import re
import shutil
import statistics
import subprocess
import wave
from concurrent.futures import ThreadPoolExecutor

NICE = ["nice", "-n", "10"]
PEER = "pocketsphinx_continuous"
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The sources of our tool, which must not be newer than the tool.
DECODING_SOURCES = ["src", "bench/eval"]
# The model both recognizers load (pocketsphinx-en-us).
MODEL = "/usr/share/pocketsphinx/model/en-us"


def file_digest(path):
    digest = hashlib.sha1()
    with open(path, "rb") as data:
        for block in iter(lambda: data.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def which(program):
    for directory in os.environ.get("PATH", "").split(os.pathsep):
        candidate = os.path.join(directory, program)
        if os.access(candidate, os.X_OK):
            return candidate
    raise SystemExit(f"{program} is not installed")


def source_files():
    for entry in DECODING_SOURCES:
        path = os.path.join(REPO, entry)
        if os.path.isfile(path):
            yield path
            continue
        for directory, _, names in sorted(os.walk(path)):
            for name in sorted(names):
                if name.endswith((".cpp", ".hpp")):
                    yield os.path.join(directory, name)


def require_built(tool):
    """Exits when the tool is older than one of its sources."""
    built = os.path.getmtime(tool)
    for path in source_files():
        if os.path.getmtime(path) > built:
            raise SystemExit(f"{tool} is older than {os.path.relpath(path, REPO)}: build it first")


def shared_libraries(executable):
    """Paths of the shared libraries the executable loads, as ldd resolves them."""
    out = subprocess.run(["ldd", executable], capture_output=True, text=True, check=True).stdout
    return sorted({m.group(1) for m in re.finditer(r"=> (/\S+)", out)})


def model_digest():
    digest = hashlib.sha1()
    for directory, _, names in sorted(os.walk(MODEL)):
        for name in sorted(names):
            path = os.path.join(directory, name)
            digest.update(os.path.relpath(path, MODEL).encode() + b"\0" + file_digest(path).encode())
    return digest.hexdigest()


def executable_identity(executable):
    """Digests of the executable, its shared libraries and the model."""
    return ([file_digest(executable)] + [f"{path}:{file_digest(path)}" for path in shared_libraries(executable)] +
            [model_digest()])


def effective_settings(tool, settings):
    out = subprocess.run([tool, "--print-settings", *settings], capture_output=True, text=True)
    if out.returncode != 0:
        raise SystemExit(out.stderr.strip())
    return out.stdout.split()


class Runner:
    """One way of turning audio into text: ours in a mode, or the peer."""

    def __init__(self, label, command, identity, per_file, env):
        self.label = label
        self.command = command  # our tool's command line, or the peer's prefix
        self.per_file = per_file
        self.env = env
        self.key = hashlib.sha1("\0".join(identity).encode()).hexdigest()[:16]

    @classmethod
    def ours(cls, label, tool, mode, chunk_ms, settings, env):
        command = [tool, "--mode", mode, "--chunk-ms", str(chunk_ms), *settings]
        require_built(tool)
        identity = [*executable_identity(tool), mode, str(chunk_ms if mode == "dictation" else 0),
                    *effective_settings(tool, settings)]
        # The jobs already fill the cores: a second decoder per process would
        # only make them contend, which inflates the CPU time measured. The
        # words are the same for every count.
        return cls(label, command, identity, False, dict(env, TOLVA_SPEECH_THREADS="1"))

    @classmethod
    def peer(cls, env):
        peer = which(PEER)
        return cls("peer", [peer, "-logfn", "/dev/null"], executable_identity(peer), True, env)


def peer_load_cpu(runner, work, jobs, runs=3):
    """CPU seconds the peer spends on a 0.1 s file: its model load, which it
    pays again for every file. The median of `runs` rounds of `jobs` at once,
    as its files were decoded: CPU time grows when processes share the cores."""
    path = os.path.join(work, "peer-load-0.1s.wav")
    subprocess.run(["sox", "-R", "-D", "-n", "-r", "16000", "-c", "1", "-b", "16", path, "trim", "0", "0.1"],
                   check=True)
    copies = []
    for i in range(jobs * runs):
        copies.append(f"{path}.{i}.wav")
        shutil.copyfile(path, copies[-1])
    return statistics.median(d.cpu_sec for d in run_peer(runner, copies, jobs).values())


class Decoded:
    def __init__(self, text, audio_sec, cpu_sec):
        self.text, self.audio_sec, self.cpu_sec = text, audio_sec, cpu_sec


def run_ours(runner, paths, jobs):
    """path -> Decoded, the paths split over `jobs` processes."""
    shards = [paths[i::jobs] for i in range(jobs) if paths[i::jobs]]

    def shard(items):
        out = subprocess.run(NICE + runner.command, input="".join(p + "\n" for p in items), capture_output=True,
                             text=True, env=runner.env)
        if out.returncode != 0:
            raise SystemExit(f"{runner.label}: {out.stderr.strip()}")
        results = {}
        for line in out.stdout.splitlines():
            item = json.loads(line)
            if "error" in item:
                raise SystemExit(f"{runner.label} failed on {item['path']}: {item['error']}")
            results[item["path"]] = Decoded(item["text"], item["audioSec"], item["cpuSec"])
        return results

    merged = {}
    with ThreadPoolExecutor(max_workers=len(shards) or 1) as pool:
        for part in pool.map(shard, shards):
            merged.update(part)
    return merged


def run_peer(runner, paths, jobs):
    def one(path):
        proc = subprocess.Popen(NICE + runner.command + ["-infile", path], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, env=runner.env, text=True)
        text = proc.stdout.read()
        _, status, usage = os.wait4(proc.pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit(f"{PEER} failed on {path}")
        with wave.open(path) as audio:
            seconds = audio.getnframes() / audio.getframerate()
        return path, Decoded(" ".join(text.split()), seconds, usage.ru_utime + usage.ru_stime)

    with ThreadPoolExecutor(max_workers=jobs) as pool:
        return dict(pool.map(one, paths))


class Cache:
    """Decoded texts by runner and audio digest; with read=False it only
    writes, so every file is decoded again."""

    def __init__(self, work, read=True):
        self.directory = os.path.join(work, "decoded")
        self.read = read
        os.makedirs(self.directory, exist_ok=True)

    def load(self, runner):
        entries = {}
        path = os.path.join(self.directory, runner.key + ".jsonl")
        if self.read and os.path.exists(path):
            with open(path) as lines:
                for line in lines:
                    item = json.loads(line)
                    entries[item["audio"]] = Decoded(item["text"], item["audioSec"], item["cpuSec"])
        return entries

    def store(self, runner, decoded_by_digest):
        path = os.path.join(self.directory, runner.key + ".jsonl")
        with open(path, "a") as out:
            for audio, d in decoded_by_digest.items():
                out.write(json.dumps({"audio": audio, "text": d.text, "audioSec": d.audio_sec,
                                      "cpuSec": d.cpu_sec}) + "\n")


def decode_all(runner, paths, cache, jobs):
    """path -> Decoded for every path, decoding only what the cache lacks."""
    digests = {path: file_digest(path) for path in paths}
    known = cache.load(runner)
    missing = sorted({p for p in paths if digests[p] not in known}, key=lambda p: digests[p])
    if missing:
        fresh = (run_peer if runner.per_file else run_ours)(runner, missing, jobs)
        by_digest = {digests[p]: d for p, d in fresh.items()}
        cache.store(runner, by_digest)
        known.update(by_digest)
    return {path: known[digests[path]] for path in paths}
