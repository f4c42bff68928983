// The README's two Node programs, run as an application would run them:
// with the package installed under node_modules, against the scripted tool.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { copyFileSync, mkdirSync, readFileSync, symlinkSync } from "node:fs";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { describe, test } from "node:test";

import { audio, scratch, scripted, scriptedBinary } from "./support.js";

const CLIENT = resolve(dirname(fileURLToPath(import.meta.url)), "..");
const EXAMPLES = resolve(CLIENT, "../../examples/node");

/** The example `name` in an application directory of its own. */
function application(name) {
  const dir = scratch();
  mkdirSync(join(dir, "node_modules"));
  symlinkSync(CLIENT, join(dir, "node_modules", "tolva-speech"));
  copyFileSync(join(EXAMPLES, name), join(dir, name));
  return join(dir, name);
}

/** Runs `program`; `whenOutput(text, child)` sees standard output as it grows. */
function run(program, args, env, whenOutput = () => {}) {
  const child = spawn(process.execPath, [program, ...args], { env, stdio: ["ignore", "pipe", "pipe"] });
  let stdout = "";
  let stderr = "";
  child.stdout.on("data", (chunk) => whenOutput(stdout += chunk, child));
  child.stderr.on("data", (chunk) => (stderr += chunk));
  return new Promise((done) => child.on("close", (code) => done({ code, stdout, stderr })));
}

const RESULTS = [{ text: " Hello", isFinal: false, delayMs: 50 }, { text: " Hello world", isFinal: true, delayMs: 50 }];
const ENGLISH = { supportedLocales: ["en_US"], installedLocales: ["en_US"],
  files: { "a.wav": { sampleRate: 16000, channels: 1, length: 32000 } }, analyzer: { results: RESULTS } };

function toolEnv(scenario) {
  const { tool, env } = scripted(scenario);
  return { ...env, TOLVA_SPEECH: tool };
}

test("the README shows the two programs as they are", () => {
  const readme = readFileSync(resolve(CLIENT, "../../README.md"), "utf8");
  for (const name of ["transcribe.mjs", "dictate.mjs"]) {
    const program = readFileSync(join(EXAMPLES, name), "utf8");
    assert.ok(readme.includes("```js\n" + program + "```"), `README lacks examples/node/${name} as it is`);
    assert.ok(program.trimEnd().split("\n").length <= 15, `${name} is longer than 15 lines`);
  }
});

describe("the README's programs", { skip: scriptedBinary.skip }, () => {
  test("transcribe.mjs prints the timed segments after its progress", async () => {
    const segments = [{ text: " Hello", start: 0, end: 1.25 }, { text: " world.", start: 1.25, end: 2 }];
    const { code, stdout, stderr } = await run(application("transcribe.mjs"), [audio()],
      toolEnv({ ...ENGLISH, analyzer: { results: segments } }));
    assert.equal(code, 0, stderr);
    assert.equal(stdout, "[0.00-1.25] Hello\n[1.25-2.00] world.\n");
    assert.match(stderr, /100%\n$/);
  });

  test("transcribe.mjs says what went wrong", async () => {
    const { code, stderr } = await run(application("transcribe.mjs"), ["/no/such.wav"], toolEnv(ENGLISH));
    assert.equal(code, 1);
    assert.match(stderr, /no-such-file: audio file not found: \/no\/such.wav/);
  });

  test("dictate.mjs writes each final on a line of its own until Ctrl-C", async () => {
    // The scripted microphone never ends by itself: only the interrupt ends it.
    const { code, stdout } = await run(application("dictate.mjs"), [], toolEnv(ENGLISH), (text, child) => {
      if (text.includes("Hello world\n")) child.kill("SIGINT");
    });
    assert.equal(code, 0);
    assert.ok(stdout.includes("\r\x1b[K\x1b[2mHello\x1b[0m"), JSON.stringify(stdout));
    assert.ok(stdout.includes("\r\x1b[KHello world\n"), JSON.stringify(stdout));
  });

  test("dictate.mjs says why a start is refused, and exits", async () => {
    const { code, stderr } = await run(application("dictate.mjs"), [], toolEnv({ ...ENGLISH, installedLocales: [] }));
    assert.equal(code, 0);
    assert.match(stderr, /^locale-not-installed: assets for 'en_US' report 'supported'/);
  });
});
