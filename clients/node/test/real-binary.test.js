// The client against the shipped binary: one transcription and one replay
// session of a librivox clip, checked against its reference words.
import assert from "node:assert/strict";
import { join } from "node:path";
import { describe, test } from "node:test";

import { Listener, transcribe } from "../dist/index.js";
import { LIBRIVOX, realBinary, referenceWords, scratch } from "./support.js";

// 3 s of speech: "he was not an ill disposed young man".
const CLIP = join(LIBRIVOX, "sense_and_sensibility_01_austen_64kb-0880.wav");

function heardWords(text, reference) {
  return text.toLowerCase().split(/\s+/).filter((word) => reference.has(word));
}

describe("against the shipped binary", { skip: realBinary.skip }, () => {
  // A private, empty model store: en_US comes with its Debian package.
  const env = { ...process.env, XDG_DATA_HOME: join(scratch(), "data") };

  test("a transcription of real speech", async () => {
    const fractions = [];
    const result = await transcribe(CLIP, { tool: realBinary.path, env, onProgress: (f) => fractions.push(f) });
    assert.ok(result.segments.length > 0);
    assert.equal(result._localeUsed, "en_US");
    assert.ok(new Set(heardWords(result.transcript, await referenceWords("0880"))).size >= 2, result.transcript);
    assert.ok(Math.abs(result.duration - 2.99) < 0.05, String(result.duration));
    assert.equal(fractions.at(-1), 1);
  });

  test("a replay session of real speech", async () => {
    const listener = new Listener({ tool: realBinary.path, env });
    const session = await listener.start({ locale: "en-US", replay: CLIP });
    const events = [];
    for await (const event of session) events.push(event);
    await listener.quit();
    const volatiles = events.filter((e) => e.event === "volatile");
    const finals = events.filter((e) => e.event === "final" && !e.empty);
    const ended = events.at(-1);
    assert.equal(ended.event, "session-ended");
    assert.ok(ended.audioFedMs > 2500 && volatiles.length > 0 && ended.volatileCount > 0);
    let heard;
    if (finals.length > 0) {
      heard = finals.map((e) => e.text).join(" ");
      assert.ok(!ended.failed && ended.finalCount === finals.length);
    } else {
      // A machine too loaded to decode in real time misses the finalize
      // bound; the session then says so, and its provisional text stands.
      assert.deepEqual(events.filter((e) => e.event === "error").map((e) => e.code), ["finalize-timeout"]);
      assert.equal(ended.failed, true);
      heard = volatiles.at(-1).text;
    }
    assert.ok(new Set(heardWords(heard, await referenceWords("0880"))).size >= 2, heard);
  });
});
