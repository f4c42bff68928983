// The one-shot commands against the scripted tool and misbehaving stand-ins.
import assert from "node:assert/strict";
import { existsSync, mkdirSync, readFileSync, symlinkSync } from "node:fs";
import { join } from "node:path";
import { describe, test } from "node:test";

import {
  TolvaSpeechError, devices, findTool, install, probe, release, runText, transcribe, transcribeText,
} from "../dist/index.js";
import { audio, fakeTool, scratch, scripted, scriptedBinary } from "./support.js";

const ENGLISH = {
  supportedLocales: ["de_DE", "en_US"], installedLocales: ["en_US"],
  files: { "a.wav": { sampleRate: 16000, channels: 1, length: 32000 } },
};

const word = (text, start, end, confidence) => ({ word: text, start, end, confidence });
// Two results with their words; the second lasts 12 s with a long pause after "drift".
const WORDS = {
  ...ENGLISH, files: { "a.wav": { sampleRate: 16000, channels: 1, length: 16000 * 15 } },
  analyzer: { results: [
    { text: " hello there", start: 0.5, end: 1.4, alternatives: 1,
      words: [word("hello", 0.5, 0.9, 0.93), word("there", 0.95, 1.4, 0.5)] },
    { text: " the boats drift and the river runs on", start: 2, end: 14, alternatives: 2,
      words: [word("the", 2, 2.2, 0.9), word("boats", 2.2, 3, 0.9), word("drift", 3, 4, 0.8), word("and", 7, 7.5, 0.7),
        word("the", 7.5, 8, 0.9), word("river", 8, 9, 0.9), word("runs", 9.1, 12, 0.6), word("on", 12.1, 14, 0.4)] }] },
};

/** Awaits `promise` to reject with a TolvaSpeechError and returns it. */
async function rejection(promise) {
  const error = await promise.then(() => assert.fail("resolved instead of rejecting"), (e) => e);
  assert.ok(error instanceof TolvaSpeechError, `not a TolvaSpeechError: ${error}`);
  return error;
}

describe("against the scripted tool", { skip: scriptedBinary.skip }, () => {
  test("probe resolves with the document", async () => {
    const document = await probe({ locale: "en-US", ...scripted(ENGLISH) });
    assert.equal(document.isAvailable, true);
    assert.deepEqual(document.supportedLocales, ["de_DE", "en_US"]);
    assert.deepEqual(document.installedLocales, ["en_US"]);
    assert.equal(document.requestedLocale, "en-US");
    assert.equal(document.requestedLocaleResolved, "en_US");
    assert.equal(document.requestedLocaleStatus, "installed");
    assert.equal(document.maximumReservedLocales, 5);
  });

  test("transcribe resolves with segments and reports progress", async () => {
    // The analysis lasts 1.5 s, so the tool logs progress more than once.
    const scenario = { ...ENGLISH, analyzer: { results: [
      { text: " Hello", start: 0, end: 1.25, alternatives: 2, delayMs: 1500 },
      { text: " world.", start: 1.25, end: 2, alternatives: 1 }] } };
    const fractions = [];
    const logged = [];
    const result = await transcribe(audio(), {
      onProgress: (f) => fractions.push(f), onLog: (entry) => logged.push(entry.event), ...scripted(scenario),
    });
    assert.equal(result.transcript, "Hello world.");
    assert.deepEqual(result.segments, [{ start: 0, end: 1.25, text: " Hello" }, { start: 1.25, end: 2, text: " world." }]);
    assert.deepEqual([result._localeUsed, result._localeRequested, result.duration], ["en_US", "en-US", 2]);
    assert.equal(result._alternativesCount, 3);
    assert.ok(fractions.length >= 2, `fractions ${fractions}`);
    assert.deepEqual(fractions, [...fractions].sort((a, b) => a - b));
    assert.equal(fractions.at(-1), 1);
    assert.equal(logged[0], "transcribe.start");
    assert.ok(logged.includes("transcribe.progress"));
  });

  test("install reports the download's fractions", async () => {
    const scenario = { supportedLocales: ["de_DE"], install: {
      progress: [{ atMs: 0, fraction: 0.25 }, { atMs: 600, fraction: 0.75 }], durationMs: 1300 } };
    const fractions = [];
    const result = await install("de-DE", { onProgress: (f) => fractions.push(f), ...scripted(scenario) });
    assert.deepEqual([result.resolvedLocale, result.statusBefore, result.statusAfter], ["de_DE", "supported", "installed"]);
    assert.ok(result.installRequested && result.reserved);
    assert.equal(fractions[0], 0.25);
    assert.ok(fractions.includes(0.75));
    assert.deepEqual(result.progressSamples, fractions.map((f) => f.toFixed(3)));
  });

  test("release resolves with the document", async () => {
    const result = await release("de-DE", scripted({ supportedLocales: ["de_DE", "en_US"], reservedLocales: ["de_DE", "en_US"] }));
    assert.deepEqual([result.locale, result.resolvedLocale, result.released], ["de-DE", "de_DE", true]);
    assert.deepEqual([result.reservedBefore, result.reservedAfter], [["de_DE", "en_US"], ["en_US"]]);
  });

  const errorDocuments = [
    ["no-such-file", () => transcribe("/no/such.wav", scripted(ENGLISH)),
      "audio file not found: /no/such.wav", undefined],
    ["unsupported-locale", (wav) => transcribe(wav, { locale: "xx-XX", ...scripted(ENGLISH) }),
      "SpeechTranscriber has no model for 'xx-XX' \u2014 it supports only 2 locales; there is no download that adds it",
      "de_DE,en_US"],
    ["asset-not-installed", (wav) => transcribe(wav, { locale: "de-DE", ...scripted(ENGLISH) }),
      "locale assets for de_DE are 'supported' \u2014 rerun with --auto-install or run `install` first", undefined],
    ["locale-reservation-full", () => install("de-DE", scripted({ reservedLocales: ["a_A", "b_B", "c_C", "d_D", "e_E"] })),
      "no free AssetInventory reservation slot for de_DE", "reserved=5 maximum=5"],
    ["install-failed", () => install("de-DE", scripted({ install: { downloadError: "disk full" } })),
      "downloadAndInstall threw", "disk full"],
    ["locale-not-regioned", () => release("", scripted({})),
      "release requires a locale with a region subtag (e.g. de-DE); got ''", undefined],
  ];
  for (const [code, call, message, detail] of errorDocuments) {
    test(`an error document rejects with its code, message and detail: ${code}`, async () => {
      const error = await rejection(call(audio()));
      assert.deepEqual([error.code, error.message, error.detail], [code, message, detail]);
    });
  }

  test("words and maxSegment reach the segments; without them the document is as before", async () => {
    const plain = await transcribe(audio(), scripted(WORDS));
    assert.deepEqual(plain.segments, [
      { start: 0.5, end: 1.4, text: " hello there" }, { start: 2, end: 14, text: " the boats drift and the river runs on" }]);
    const worded = await transcribe(audio(), { words: true, ...scripted(WORDS) });
    assert.deepEqual(worded.segments.map((s) => s.words), WORDS.analyzer.results.map((r) => r.words));
    assert.deepEqual(worded.segments.map((s) => s.text), plain.segments.map((s) => s.text));
    const cut = await transcribe(audio(), { maxSegment: 5, ...scripted(WORDS) });
    assert.deepEqual(cut.segments.map((s) => [s.start, s.end, s.text]),
      [[0.5, 1.4, " hello there"], [2, 4, " the boats drift"], [7, 12, " and the river runs"], [12.1, 14, " on"]]);
    assert.ok(cut.segments.every((s) => s.words === undefined));
  });

  const textFormats = [
    ["srt", "1\n00:00:00,500 --> 00:00:04,000\nhello there the boats drift\n\n2\n00:00:07,000 --> 00:00:14,000\nand the river runs on\n\n"],
    ["vtt", "WEBVTT\n\n00:00:00.500 --> 00:00:04.000\nhello there the boats drift\n\n00:00:07.000 --> 00:00:14.000\nand the river runs on\n\n"],
    ["txt", "hello there\nthe boats drift and the river runs on\n"],
  ];
  for (const [format, expected] of textFormats) {
    test(`transcribeText resolves with the tool's ${format}, and rejects with an error document`, async () => {
      const fractions = [];
      assert.equal(await transcribeText(audio(), format, { onProgress: (f) => fractions.push(f), ...scripted(WORDS) }), expected);
      assert.equal(fractions.at(-1), 1);
      const error = await rejection(transcribeText("/no/such.wav", format, scripted(WORDS)));
      assert.deepEqual([error.code, error.message], ["no-such-file", "audio file not found: /no/such.wav"]);
    });
  }

  test("devices resolves with the capture sources", async () => {
    const result = await devices(scripted({ capture: { sources: [
      { name: "usb-mic", description: "USB microphone", sampleRate: 44100, channels: 2 },
      { name: "desk.monitor", description: "Monitor of desk", sampleRate: 48000, channels: 1, monitor: true, default: true }] } }));
    assert.deepEqual(result.sources.map((s) => [s.name, s.description, s.rate, s.channels, s.default, s.monitor]),
      [["desk.monitor", "Monitor of desk", 48000, 1, true, true], ["usb-mic", "USB microphone", 44100, 2, false, false]]);
  });

  test("an aborted transcription rejects at once when the signal was already aborted", async () => {
    const error = await rejection(transcribe(audio(), { signal: AbortSignal.abort(), ...scripted(ENGLISH) }));
    assert.equal(error.code, "aborted");
  });
});

describe("against stand-in tools", () => {
  const misbehaviours = [
    ["usage", "echo 'usage: tolva-speech ...' >&2; exit 2", "usage", "usage: tolva-speech"],
    ["signal", "kill -SEGV $$", "crashed", "SIGSEGV"],
    ["unparsable", "echo 'not json'", "crashed", "not json"],
    ["silent", "exit 0", "crashed", "no JSON object"],
    ["array", "echo '[1]'; exit 0", "crashed", "no JSON object"],
    ["incomplete", "echo '{\"transcript\":\"\"}'", "crashed", "'segments'"],
    ["status 1 without document", "echo 'half a line' >&2; exit 1", "crashed", "half a line"],
    ["status 3", "exit 3", "crashed", "status 3"],
    ["encode-failed", "echo '{\"error\":\"encode-failed\"}'", "encode-failed", ""],
  ];
  for (const [name, body, code, words] of misbehaviours) {
    test(`a misbehaving tool is an error: ${name}`, async () => {
      const error = await rejection(transcribe("a.wav", { tool: fakeTool(body), timeout: 30000 }));
      assert.equal(error.code, code);
      assert.ok(String(error).includes(words), String(error));
    });
  }

  test("a chatty log does not stall the tool", async () => {
    // 4 MB of log lines before the document: more than any pipe buffer holds.
    const body = "i=0; while [ $i -lt 40000 ]; do "
      + `echo '{"event":"release.progress","padding":"${"x".repeat(60)}"}' >&2; i=$((i+1)); done; `
      + "echo '{\"locale\":\"de-DE\",\"resolvedLocale\":\"de_DE\",\"released\":true}'";
    let lines = 0;
    const result = await release("de-DE", { tool: fakeTool(body), timeout: 120000, onLog: () => lines++ });
    assert.equal(result.released, true);
    assert.equal(lines, 40000);
  });

  test("a tool that does not answer is killed after the timeout", async () => {
    const error = await rejection(probe({ tool: fakeTool("echo '{\"event\":\"probe.start\"}' >&2; exec sleep 60"), timeout: 500 }));
    assert.equal(error.code, "timeout");
    assert.ok(error.detail.includes("probe.start"));
  });

  test("an AbortSignal ends a transcription with SIGTERM", async () => {
    const marker = join(scratch(), "marker");
    const tool = fakeTool(`trap 'echo TERM > ${marker}; exit 143' TERM
echo '{"event":"transcribe.progress","fraction":0.1}' >&2
while :; do sleep 0.05; done`);
    const controller = new AbortController();
    const error = await rejection(transcribe("a.wav", {
      tool, signal: controller.signal, onProgress: () => controller.abort(new Error("the user cancelled")),
    }));
    assert.equal(error.code, "aborted");
    assert.equal(error.cause.message, "the user cancelled");
    assert.equal(readFileSync(marker, "utf8"), "TERM\n"); // the trap ran before the promise settled
  });

  test("extra arguments, the environment and unknown members pass through", async () => {
    const tool = fakeTool(`printf '{"locale":"%s","resolvedLocale":"de_DE","released":true,"args":"%s","text":"%s"}\\n' "$3" "$*" "$TOLVA_SPEECH_TEXT"`);
    const result = await release("de-DE", { tool, args: ["--words"], env: { ...process.env, TOLVA_SPEECH_TEXT: "raw" } });
    assert.deepEqual([result.locale, result.args, result.text], ["de-DE", "release --locale de-DE --words", "raw"]);
    const srt = await runText(["transcribe", "a.wav", "--format", "srt"], { tool: fakeTool("printf '1\\n00:00:00,000 --> 00:00:01,000\\nhello\\n'") });
    assert.equal(srt, "1\n00:00:00,000 --> 00:00:01,000\nhello\n");
  });

  // A stand-in that answers with its command line and its TOLVA_SPEECH_TEXT.
  const echo = `printf '{"transcript":"%s","segments":[],"text":"%s"}\\n' "$*" "\${TOLVA_SPEECH_TEXT-unset}"`;
  const commandLines = [
    [{}, "transcribe a.wav --locale en-US", "unset"],
    [{ words: false, autoInstall: false }, "transcribe a.wav --locale en-US", "unset"],
    [{ locale: "de-DE", autoInstall: true }, "transcribe a.wav --locale de-DE --auto-install", "unset"],
    [{ words: true }, "transcribe a.wav --locale en-US --words", "unset"],
    [{ maxSegment: 2.5 }, "transcribe a.wav --locale en-US --max-segment 2.5", "unset"],
    [{ autoInstall: true, words: true, maxSegment: 10, args: ["--x"] },
      "transcribe a.wav --locale en-US --auto-install --words --max-segment 10 --x", "unset"],
    [{ text: "raw" }, "transcribe a.wav --locale en-US", "raw"],
    [{ text: "formatted", env: { PATH: "/bin", TOLVA_SPEECH_TEXT: "raw" } }, "transcribe a.wav --locale en-US", "formatted"],
    [{ env: { PATH: "/bin", TOLVA_SPEECH_TEXT: "raw" } }, "transcribe a.wav --locale en-US", "raw"],
  ];
  for (const [options, line, text] of commandLines) {
    test(`transcribe's options make its command line and environment: ${JSON.stringify(options)}`, async (t) => {
      const saved = process.env.TOLVA_SPEECH_TEXT;
      delete process.env.TOLVA_SPEECH_TEXT;
      t.after(() => { if (saved !== undefined) process.env.TOLVA_SPEECH_TEXT = saved; });
      const result = await transcribe("a.wav", { tool: fakeTool(echo), ...options });
      assert.deepEqual([result.transcript, result.text], [line, text]);
      assert.equal(process.env.TOLVA_SPEECH_TEXT, undefined); // the caller's environment is left alone
    });
  }

  test("transcribeText adds --format after the other flags", async () => {
    const tool = fakeTool(`printf '%s|%s' "$*" "$TOLVA_SPEECH_TEXT"`);
    assert.equal(await transcribeText("a.wav", "vtt", { tool, words: true, maxSegment: 3, text: "raw" }),
      "transcribe a.wav --locale en-US --words --format vtt --max-segment 3|raw");
  });

  const badWords = [
    ["a word that is not an object", '[1]'],
    ["a word without confidence", '[{"word":"hi","start":0,"end":1}]'],
    ["words that are not a list", '{"word":"hi"}'],
  ];
  for (const [name, words] of badWords) {
    test(`a segment with malformed words is an error: ${name}`, async () => {
      const tool = fakeTool(`echo '{"transcript":"hi","segments":[{"start":0,"end":1,"text":"hi","words":${words}}]}'`);
      const error = await rejection(transcribe("a.wav", { tool, words: true }));
      assert.equal(error.code, "crashed");
    });
  }

  test("a path that begins with -- is not taken for a flag", async () => {
    const tool = fakeTool(`printf '{"transcript":"%s","segments":[]}\\n' "$2"`);
    assert.equal((await transcribe("--odd.wav", { tool })).transcript, "./--odd.wav");
  });

  test("the tool is found by option, then TOLVA_SPEECH, then PATH", async (t) => {
    const saved = { PATH: process.env.PATH, TOLVA_SPEECH: process.env.TOLVA_SPEECH };
    t.after(() => Object.assign(process.env, saved));
    const dir = scratch();
    const first = fakeTool("exit 3");
    const second = fakeTool("exit 4");
    mkdirSync(join(dir, "bin"));
    symlinkSync(second, join(dir, "bin", "tolva-speech"));
    process.env.PATH = join(dir, "bin");
    process.env.TOLVA_SPEECH = first;
    assert.equal(findTool(second), second);
    assert.equal(findTool(), first);
    delete process.env.TOLVA_SPEECH;
    assert.equal(findTool(), join(dir, "bin", "tolva-speech"));
    assert.equal(findTool("tolva-speech"), join(dir, "bin", "tolva-speech"));
    process.env.PATH = join(dir, "empty");
    assert.equal((await rejection(probe())).code, "tool-not-found");
    assert.ok(!existsSync(join(dir, "missing")));
    assert.equal((await rejection(probe({ tool: join(dir, "missing") }))).code, "tool-not-found");
  });
});
