// Listener against the scripted tool and misbehaving stand-ins.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { describe, test } from "node:test";

import { Listener, TolvaSpeechError } from "../dist/index.js";
import { audio, fakeTool, scratch, scripted, scriptedBinary } from "./support.js";

const RESULTS = [{ text: " Hello", isFinal: false, delayMs: 50 }, { text: " Hello world", isFinal: true, delayMs: 50 }];
const ENGLISH = {
  supportedLocales: ["de_DE", "en_US"], installedLocales: ["en_US"],
  files: { "a.wav": { sampleRate: 16000, channels: 1, length: 8000 } },
  analyzer: { results: RESULTS },
};
const READY = '{"event":"ready","seq":1,"tMs":0,"pid":1,"protocol":1}';
const STARTED = '{"event":"session-started","seq":2,"tMs":1,"session":1,"locale":"en_US","mode":"mic","analyzerFormat":"16000Hz ch=1"}';

async function rejection(promise) {
  const error = await promise.then(() => assert.fail("resolved instead of rejecting"), (e) => e);
  assert.ok(error instanceof TolvaSpeechError, `not a TolvaSpeechError: ${error}`);
  return error;
}

async function collect(iterable) {
  const items = [];
  for await (const item of iterable) items.push(item);
  return items;
}

describe("against the scripted tool", { skip: scriptedBinary.skip }, () => {
  test("a replay session yields typed events and ends", async () => {
    const listener = new Listener(scripted(ENGLISH));
    const named = [];
    const logged = [];
    listener.on("event", (event) => named.push(event.event));
    listener.on("log", (entry) => logged.push(entry.event));
    const everything = collect(listener); // the async iterator of the whole run
    assert.equal((await listener.ready).protocol, 1);
    const session = await listener.start({ locale: "en-US", replay: audio(), chunkMs: 50 });
    assert.deepEqual([session.number, session.locale, session.mode], [1, "en_US", "replay"]);
    const events = await collect(session);
    assert.deepEqual(events.map((e) => e.event), ["capture-started", "volatile", "final", "session-ended"]);
    assert.deepEqual([events[1].text, events[2].text], [" Hello", " Hello world"]);
    const ended = events.at(-1);
    assert.deepEqual([ended.volatileCount, ended.finalCount, ended.audioFedMs, ended.failed], [1, 1, 500, undefined]);
    assert.equal(await session.ended, ended);
    const exit = await listener.quit();
    assert.deepEqual(exit, { code: 0, signal: null });
    assert.deepEqual(named, ["ready", "session-started", "capture-started", "volatile", "final", "session-ended"]);
    assert.deepEqual((await everything).map((e) => e.seq), [1, 2, 3, 4, 5, 6]);
    assert.ok(logged.includes("listen.ready") && logged.at(-1) === "listen.exit", logged.join(" "));
  });

  test("refusals reject the command that caused them", async () => {
    const listener = new Listener(scripted(ENGLISH));
    const refusals = [];
    listener.on("command-error", (event) => refusals.push(event.code));
    for (const [locale, code, words] of [
      ["de", "locale-not-regioned", "locale 'de' has no region subtag"],
      ["xx-XX", "locale-unsupported", "has no model for 'xx-XX'"],
      ["de-DE", "locale-not-installed", "assets for 'de_DE' report 'supported'"]]) {
      const error = await rejection(listener.start({ locale }));
      assert.equal(error.code, code);
      assert.ok(error.message.includes(words), error.message);
    }
    const noSession = await rejection(listener.stop());
    assert.deepEqual([noSession.code, noSession.message], ["no-session", "`stop` with no active dictation session"]);
    const session = await listener.start({ locale: "en-US" }); // refusals take no session number
    assert.deepEqual([session.number, session.mode], [1, "mic"]);
    assert.equal((await rejection(listener.start({ locale: "en-US" }))).code, "session-already-active");
    assert.equal((await session.stop()).session, 1);
    assert.deepEqual(refusals, ["locale-not-regioned", "locale-unsupported", "locale-not-installed", "no-session",
      "session-already-active"]);
    await listener.quit();
  });

  test("commands sent at once get their own answers", async () => {
    const listener = new Listener(scripted(ENGLISH));
    const outcomes = await Promise.allSettled([
      listener.start({ locale: "de" }), listener.start({ locale: "en-US" }), listener.start({ locale: "xx-XX" }),
      listener.stop(), listener.stop(), listener.start({ locale: "en-US" }), listener.stop()]);
    const seen = outcomes.map((o) => (o.status === "fulfilled" ? o.value.number ?? o.value.session : o.reason.code));
    assert.deepEqual(seen, ["locale-not-regioned", 1, "session-already-active", 1, "no-session", 2, 2]);
    await listener.quit();
  });

  test("session errors are events, and the session still ends", async () => {
    const listener = new Listener(scripted({ ...ENGLISH, analyzer: { results: [] }, capture: { haltAtMs: 200 } }));
    const errors = [];
    listener.on("session-error", (event) => errors.push(event));
    const events = await collect(await listener.start({ locale: "en-US" }));
    assert.deepEqual(errors.map((e) => [e.code, e.session]), [["capture-halted", 1]]);
    assert.ok(events.some((e) => e.event === "final" && e.empty === true));
    assert.equal(events.at(-1).event, "session-ended");
    await listener.quit();
  });

  test("a session that fails before it starts rejects its start", async () => {
    const listener = new Listener(scripted({ ...ENGLISH, analyzers: [{ startError: "no analyzer today" }] }));
    const ended = new Promise((resolve) => listener.once("session-ended", resolve));
    const error = await rejection(listener.start({ locale: "en-US" }));
    assert.equal(error.code, "session-failed");
    assert.ok(error.message.includes("no analyzer today"), error.message);
    assert.equal((await ended).failed, true);
    assert.equal((await listener.start({ locale: "en-US", replay: audio() })).number, 2);
    await listener.quit();
  });

  test("quit ends a running session, whose reader still sees its end", async () => {
    const listener = new Listener(scripted(ENGLISH));
    const session = await listener.start({ locale: "en-US" });
    const events = collect(session);
    const closed = new Promise((resolve) => listener.once("close", resolve));
    assert.deepEqual(await listener.quit(), { code: 0, signal: null });
    assert.equal((await events).at(-1).event, "session-ended");
    assert.deepEqual(await closed, { code: 0, signal: null });
    assert.equal((await rejection(listener.start({ locale: "en-US" }))).code, "closed");
  });

  test("a session started with words gets them on its finals, one without does not", async () => {
    const words = [{ word: "hello", start: 0, end: 0.4, confidence: 0.9 }, { word: "world", start: 0.45, end: 0.5, confidence: 0.6 }];
    const listener = new Listener(scripted({ ...ENGLISH, analyzer: { results: [RESULTS[0], { ...RESULTS[1], words }] } }));
    const finals = [];
    for (const asked of [{ words: true }, {}]) {
      const session = await listener.start({ locale: "en-US", replay: audio(), chunkMs: 50, ...asked });
      finals.push((await collect(session)).find((e) => e.event === "final"));
    }
    assert.deepEqual(finals.map((e) => e.text), [" Hello world", " Hello world"]);
    assert.deepEqual(finals[0].words, words);
    assert.ok(!("words" in finals[1]));
    await listener.quit();
  });

  test("device chooses the capture source; one that does not exist fails the session", async () => {
    const listener = new Listener(scripted({ ...ENGLISH, analyzer: { results: [] }, capture: { sources: [
      { name: "usb-mic", sampleRate: 16000, channels: 1 }, { name: "scripted-mic", default: true }] } }));
    const errors = [];
    listener.on("session-error", (event) => errors.push(event.message));
    const chosen = await listener.start({ locale: "en-US", device: "usb-mic" });
    assert.equal(chosen.mode, "mic");
    await chosen.stop();
    const missing = await listener.start({ locale: "en-US", device: "nope" });
    assert.equal((await missing.ended).failed, true);
    const unknownSources = errors.filter((message) => message.includes("no capture source named"));
    assert.ok(unknownSources.length === 1 && unknownSources[0].includes("'nope'"), errors.join(" | "));
    await listener.quit();
  });

  test("an unavailable engine rejects ready and every command", async () => {
    const listener = new Listener(scripted({ available: false }));
    assert.equal((await rejection(listener.ready)).code, "unavailable");
    assert.equal((await rejection(listener.start({ locale: "en-US" }))).code, "unavailable");
    assert.equal(listener.exitStatus.code, 1);
  });
});

describe("against stand-in tools", () => {
  test("a tool that ignores quit is terminated", async () => {
    const listener = new Listener({ tool: fakeTool(`echo '${READY}'; exec sleep 60`), closeTimeout: 200 });
    await listener.ready;
    const exit = await listener.quit();
    assert.equal(exit.signal, "SIGTERM");
    assert.equal(exit.error, undefined);
  });

  test("a tool that is not ready in time is killed", async () => {
    const listener = new Listener({ tool: fakeTool("exec sleep 60"), readyTimeout: 300 });
    const closed = new Promise((resolve) => listener.once("close", resolve));
    assert.equal((await rejection(listener.ready)).code, "timeout");
    const exit = await closed;
    assert.equal(exit.signal, "SIGKILL");
    assert.equal(exit.error.code, "timeout");
  });

  test("a stop that is not answered in time rejects, and the next command is still sent", async () => {
    const ended = '{"event":"session-ended","seq":3,"tMs":2,"session":1,"sessionMs":1,"volatileCount":0,'
      + '"finalCount":0,"firstVolatileMs":-1,"audioFedMs":0}';
    const refused = '{"event":"error","seq":4,"tMs":3,"code":"no-session","message":"`stop` with no active dictation session"}';
    // The first stop goes unanswered; the session ends only when the second arrives.
    const listener = new Listener({ tool: fakeTool(`echo '${READY}'; read line; echo '${STARTED}'; read line; read line
echo '${ended}'; read line; echo '${refused}'; read line`) });
    const session = await listener.start({ locale: "en-US" });
    assert.equal((await rejection(listener.stop({ timeout: 300 }))).code, "timeout");
    assert.equal((await session.stop()).session, 1);
    assert.equal((await rejection(listener.stop())).code, "no-session");
    await listener.quit();
  });

  test("standard error is drained even when nobody listens to the log", async () => {
    // 4 MB of log before ready: more than any pipe buffer holds.
    const body = `i=0; while [ $i -lt 40000 ]; do echo '{"event":"listen.noise","padding":"${"x".repeat(60)}"}' >&2; `
      + `i=$((i+1)); done; echo 'not json either' >&2; echo '${READY}'; read line`;
    const listener = new Listener({ tool: fakeTool(body) });
    const last = new Promise((resolve) => listener.on("log", (entry) => entry.event === "unparsed" && resolve(entry)));
    await listener.ready;
    assert.deepEqual(await last, { event: "unparsed", line: "not json either" });
    await listener.quit();
  });

  for (const [name, afterStart, words] of [
    ["exit", "exit 1", "status 1"],
    ["garbage", "echo 'Segmentation fault'", "not an event"],
    ["signal", "kill -KILL $$", "SIGKILL"],
  ]) {
    test(`a tool that dies mid-session is an error, not a hang: ${name}`, async () => {
      const listener = new Listener({ tool: fakeTool(`echo '${READY}'; read line; echo '${STARTED}'; ${afterStart}`) });
      const closed = new Promise((resolve) => listener.once("close", resolve));
      const session = await listener.start({ locale: "en-US" });
      const error = await rejection(collect(session));
      assert.equal(error.code, "crashed");
      assert.ok(String(error).includes(words), String(error));
      assert.equal((await rejection(session.ended)).code, "crashed");
      assert.equal((await closed).error, error);
      assert.equal((await rejection(listener.start({ locale: "en-US" }))).code, "crashed");
    });
  }

  test("further start options, the environment and unknown members pass through", async () => {
    const received = join(scratch(), "received");
    const final = '{"event":"final","seq":3,"tMs":2,"session":1,"text":"hi","sessionMs":1,"words":[{"word":"hi","start":0,"end":1,"confidence":1,"stress":2}]}';
    const listener = new Listener({
      tool: fakeTool(`echo '${READY}'; read line; printf '%s %s' "$TOLVA_SPEECH_TEXT" "$line" > ${received}
echo '${STARTED}'; echo '{"event":"level","seq":3,"tMs":2,"session":1}'; echo '${final}'; read line`),
      env: { ...process.env, TOLVA_SPEECH_TEXT: "raw" },
    });
    const finals = [];
    listener.on("final", (event) => finals.push(event));
    const levels = new Promise((resolve) => listener.once("level", resolve));
    await listener.start({ locale: "en-US", device: "alsa_input.usb", words: true, cmd: "ignored" });
    const [variable, line] = readFileSync(received, "utf8").split(/ (.*)/s);
    assert.equal(variable, "raw");
    assert.deepEqual(JSON.parse(line), { device: "alsa_input.usb", words: true, cmd: "start", locale: "en-US" });
    assert.equal((await levels).session, 1);
    await listener.quit();
    assert.deepEqual(finals.map((e) => e.words), [[{ word: "hi", start: 0, end: 1, confidence: 1, stress: 2 }]]);
  });

  // Each start command as the tool receives it, and the text style in its environment.
  const startCommands = [
    [{}, { locale: "en-US" }, '{"cmd":"start","locale":"en-US"}', "unset"],
    [{}, { locale: "en-US", replay: "a.wav", chunkMs: 50, words: false },
      '{"cmd":"start","locale":"en-US","replay":"a.wav","chunkMs":50}', "unset"],
    [{}, { locale: "en-US", words: true }, '{"cmd":"start","locale":"en-US","words":true}', "unset"],
    [{}, { locale: "en-US", device: "alsa_input.usb-mic" }, '{"cmd":"start","locale":"en-US","device":"alsa_input.usb-mic"}', "unset"],
    [{}, { locale: "en-US", stream: "/run/app/audio.fifo" }, '{"cmd":"start","locale":"en-US","stream":"/run/app/audio.fifo"}', "unset"],
    [{}, { locale: "en-US", stream: "a.fifo", streamFormat: "s16le", rate: 16000, channels: 1, words: true },
      '{"cmd":"start","locale":"en-US","stream":"a.fifo","format":"s16le","rate":16000,"channels":1,"words":true}', "unset"],
    [{ text: "raw" }, { locale: "en-US" }, '{"cmd":"start","locale":"en-US"}', "raw"],
    [{ text: "formatted", env: { PATH: "/bin", TOLVA_SPEECH_TEXT: "raw" } }, { locale: "en-US" },
      '{"cmd":"start","locale":"en-US"}', "formatted"],
  ];
  for (const [listenerOptions, startOptions, line, text] of startCommands) {
    test(`start options make the start command: ${JSON.stringify({ ...listenerOptions, ...startOptions })}`, async (t) => {
      const saved = process.env.TOLVA_SPEECH_TEXT;
      delete process.env.TOLVA_SPEECH_TEXT;
      t.after(() => { if (saved !== undefined) process.env.TOLVA_SPEECH_TEXT = saved; });
      const received = join(scratch(), "received");
      const listener = new Listener({ ...listenerOptions, tool: fakeTool(`echo '${READY}'; read line
printf '%s\n%s' "\${TOLVA_SPEECH_TEXT-unset}" "$line" > ${received}; echo '${STARTED}'; read line`) });
      await listener.start(startOptions);
      await listener.quit();
      assert.deepEqual(readFileSync(received, "utf8").split("\n"), [text, line]);
      assert.equal(process.env.TOLVA_SPEECH_TEXT, undefined);
    });
  }

  test("a final with malformed words is an error", async () => {
    const final = '{"event":"final","seq":3,"tMs":2,"session":1,"text":"hi","sessionMs":1,"words":[{"word":"hi"}]}';
    const listener = new Listener({ tool: fakeTool(`echo '${READY}'; read line; echo '${STARTED}'; echo '${final}'; read line`) });
    const session = await listener.start({ locale: "en-US", words: true });
    const error = await rejection(collect(session));
    assert.equal(error.code, "crashed");
    assert.ok(error.message.includes("the tool's word has no"), error.message);
  });
});
