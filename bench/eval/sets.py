"""The evaluation sets: the librivox clips of pocketsphinx-testdata, and the
committed sentences spoken by two Festival voices, clean and degraded.

Audio is made at bench time and cached under the work directory by the hash
of what it is made from (the sentence, the voice, the recipe, and the
versions of Festival, its voices and sox), so a changed sentence, recipe or
tool makes new audio and an unchanged one is reused. Every sox call runs with -R (fixed random seed)
and -D (no dither), so the same inputs give the same bytes.
"""
import functools
import hashlib
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import sphinx_wer  # noqa: E402  (librivox references)

# Festival voice functions; text2wave -eval '(voice_...)' speaks with the same.
VOICES = {"slt": "voice_cmu_us_slt_arctic_hts", "kal": "voice_kal_diphone"}

# sox effects after the clean 16 kHz file; noise is mixed in separately.
DEGRADATIONS = {
    "noise 20 dB": ("noise", 20),
    "noise 10 dB": ("noise", 10),
    "telephone": ("effects", ["sinc", "300-3400", "rate", "8000", "rate", "16000"]),
    "level -20 dB": ("effects", ["gain", "-20"]),
    "reverb": ("effects", ["reverb", "50", "50", "100", "channels", "1"]),
}


@dataclass
class Utterance:
    key: str  # unique within its set
    wav: str
    reference: str  # text as written; scoring normalises it


@dataclass
class EvalSet:
    name: str
    utterances: list = field(default_factory=list)


def sentences(half):
    """The committed sentences of `half` ("dev" or "test"), one per line."""
    with open(os.path.join(HERE, "sentences", half + ".txt")) as lines:
        return [line.strip() for line in lines if line.strip()]


# The packages that make the audio besides the text and the recipe.
AUDIO_PACKAGES = ["festival", "festvox-us-slt-hts", "festvox-kallpc16k", "sox", "libsox3"]


@functools.lru_cache(maxsize=None)
def audio_tools():
    """The installed versions of AUDIO_PACKAGES, one line each."""
    out = subprocess.run(["dpkg-query", "-W", "-f", "${Package} ${Version}\\n", *AUDIO_PACKAGES],
                         capture_output=True, text=True)
    if out.returncode != 0:
        raise SystemExit("cannot read the versions of " + " ".join(AUDIO_PACKAGES) + ": " + out.stderr.strip())
    return out.stdout


def digest(*parts):
    return hashlib.sha1("\0".join((audio_tools(),) + parts).encode()).hexdigest()[:16]


def sox(*args):
    subprocess.run(["sox", "-R", "-D", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def scheme_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def synthesize(voice, texts, directory):
    """Speaks each text with one Festival process per voice; returns the 16 kHz
    mono 16-bit WAV paths. For a one-sentence text the bytes are the ones
    text2wave writes (check_text2wave verifies it)."""
    os.makedirs(directory, exist_ok=True)
    paths = [os.path.join(directory, digest(voice, text) + ".wav") for text in texts]
    todo = [(text, path) for text, path in zip(texts, paths) if not os.path.exists(path)]
    if todo:
        script = [f"({VOICES[voice]})"]
        for text, path in todo:
            script.append(f"(utt.save.wave (utt.synth (Utterance Text {scheme_string(text)})) "
                          f"{scheme_string(path + '.raw.wav')} 'riff)")
        subprocess.run(["festival", "--pipe"], input="\n".join(script) + "\n", text=True, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _, path in todo:
            resample(path + ".raw.wav", path)
    return paths


def resample(raw, path):
    sox(raw, "-r", "16000", "-c", "1", "-b", "16", path + ".tmp.wav")
    os.replace(path + ".tmp.wav", path)
    os.remove(raw)


def check_text2wave(voice, text, directory):
    """Whether text2wave speaks `text` with the very bytes of synthesize()."""
    ours = synthesize(voice, [text], directory)[0]
    probe = os.path.join(directory, "text2wave-check")
    with open(probe + ".txt", "w") as out:
        out.write(text + "\n")
    subprocess.run(["text2wave", "-eval", f"({VOICES[voice]})", probe + ".txt", "-o", probe + ".raw.wav"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    resample(probe + ".raw.wav", probe + ".wav")
    with open(ours, "rb") as a, open(probe + ".wav", "rb") as b:
        return a.read() == b.read()


def rms_db(path):
    out = subprocess.run(["sox", path, "-n", "stats"], capture_output=True, text=True, check=True).stderr
    return float(re.search(r"RMS lev dB\s+(-?[\d.]+)", out).group(1))


def degrade(clean, recipe, path):
    """Writes the degraded copy of `clean`. Noise: pink noise scaled to the
    SNR below the RMS level of the whole clean utterance."""
    if os.path.exists(path):
        return
    kind, value = recipe
    tmp = path + ".tmp.wav"
    if kind == "noise":
        seconds = float(subprocess.run(["soxi", "-D", clean], capture_output=True, text=True, check=True).stdout)
        noise = path + ".noise.wav"
        sox("-n", "-r", "16000", "-c", "1", "-b", "16", noise, "synth", f"{seconds:.4f}", "pinknoise")
        gain = 10 ** ((rms_db(clean) - value - rms_db(noise)) / 20)
        sox("-m", "-v", "1", clean, "-v", f"{gain:.6f}", noise, tmp)
        os.remove(noise)
    else:
        sox(clean, tmp, *value)
    os.replace(tmp, path)


def librivox_set():
    refs = sphinx_wer.references()
    return EvalSet("librivox", [Utterance(clip, os.path.join(sphinx_wer.LIBRIVOX, clip + ".wav"), " ".join(words))
                                for clip, words in sorted(refs.items())])


def build_sets(work, halves=("dev", "test"), degradations=tuple(DEGRADATIONS), limit=None, jobs=2):
    """Name -> EvalSet: librivox, '<half> <voice>' for each half and voice, and
    '<half> <degradation>' over the half with voices alternating (even lines
    slt, odd lines kal). `limit` keeps the first sentences of each half."""
    audio = os.path.join(work, "audio")
    texts = {half: sentences(half)[:limit] for half in halves}
    sets = {"librivox": librivox_set()}
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        spoken = {voice: pool.submit(synthesize, voice, [t for half in halves for t in texts[half]],
                                     os.path.join(audio, voice)) for voice in VOICES}
        spoken = {voice: future.result() for voice, future in spoken.items()}
    for voice in VOICES:
        at = 0
        for half in halves:
            paths = spoken[voice][at:at + len(texts[half])]
            at += len(texts[half])
            sets[f"{half} {voice}"] = EvalSet(f"{half} {voice}", [
                Utterance(f"{half}-{i:03d}", path, text) for i, (path, text) in enumerate(zip(paths, texts[half]))])
    for half in halves:
        mixed = [sets[f"{half} {'slt' if i % 2 == 0 else 'kal'}"].utterances[i] for i in range(len(texts[half]))]
        jobs_list = []
        for name in degradations:
            recipe = DEGRADATIONS[name]
            directory = os.path.join(audio, "degraded")
            os.makedirs(directory, exist_ok=True)
            eval_set = EvalSet(f"{half} {name}")
            for utt in mixed:
                path = os.path.join(directory, digest(os.path.basename(utt.wav), repr(recipe)) + ".wav")
                jobs_list.append((utt.wav, recipe, path))
                eval_set.utterances.append(Utterance(utt.key, path, utt.reference))
            sets[eval_set.name] = eval_set
        with ThreadPoolExecutor(max_workers=jobs) as pool:
            list(pool.map(lambda job: degrade(*job), jobs_list))
    return sets
