"""Texts of the tools under evaluation, for many files, cached.

Ours: tolva-eval-decode, the real engine with settings from its command line,
loaded once per process, the files split over `jobs` processes. The peer:
pocketsphinx_continuous once per file. Every process runs under nice 10.

The cache holds one JSON-lines file per runner, keyed by the audio file's
bytes, so an unchanged runner on unchanged audio is not decoded again. Ours
is identified by the sources that decide its words (the platform's code and
the tool's), its mode and chunk size, and every setting it runs with (so
naming a default changes nothing); the peer by its binary.
"""
import hashlib
import json
import os
import subprocess
import wave
from concurrent.futures import ThreadPoolExecutor

NICE = ["nice", "-n", "10"]
PEER = "pocketsphinx_continuous"
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Where the code that turns audio into words lives.
DECODING_SOURCES = ["src/platform", "src/live/sources/analyzer_format_converter.cpp", "src/live/sources/replay_source.cpp",
                    "bench/eval", "src/text"]
# Timed words do not depend on how text is written from them.
WRITING_SOURCES = ("src/text/", "bench/eval/write_text.cpp")


def file_digest(path):
    with open(path, "rb") as data:
        return hashlib.sha1(data.read()).hexdigest()


def which(program):
    for directory in os.environ.get("PATH", "").split(os.pathsep):
        candidate = os.path.join(directory, program)
        if os.access(candidate, os.X_OK):
            return candidate
    raise SystemExit(f"{program} is not installed")


def source_files(writing=True):
    for entry in DECODING_SOURCES:
        path = os.path.join(REPO, entry)
        if os.path.isfile(path):
            yield path
            continue
        for directory, _, names in sorted(os.walk(path)):
            for name in sorted(names):
                path = os.path.join(directory, name)
                if name.endswith((".cpp", ".hpp")) and (writing or not os.path.relpath(path, REPO).startswith(
                        WRITING_SOURCES)):
                    yield path


def sources_digest(tool, writing=True):
    """Digest of the decoding sources (without those that write text from
    words, when `writing` is false); exits when the tool is older than one."""
    digest = hashlib.sha1()
    built = os.path.getmtime(tool)
    for path in source_files(writing):
        if os.path.getmtime(path) > built:
            raise SystemExit(f"{tool} is older than {os.path.relpath(path, REPO)}: build it first")
        digest.update(os.path.relpath(path, REPO).encode() + b"\0" + open(path, "rb").read())
    return digest.hexdigest()


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
        effective = effective_settings(tool, settings)
        identity = [sources_digest(tool, writing="text=timed" not in effective), mode,
                    str(chunk_ms if mode == "dictation" else 0), *effective]
        return cls(label, command, identity, False, env)

    @classmethod
    def peer(cls, env):
        peer = which(PEER)
        return cls("peer", [peer, "-logfn", "/dev/null"], [file_digest(peer)], True, env)


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
    def __init__(self, work):
        self.directory = os.path.join(work, "decoded")
        os.makedirs(self.directory, exist_ok=True)

    def load(self, runner):
        entries = {}
        path = os.path.join(self.directory, runner.key + ".jsonl")
        if os.path.exists(path):
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
