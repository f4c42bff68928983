// The dictation page in a real browser: headless Chromium opens the page,
// presses Start while the server replays three librivox clips, watches the
// words arrive, checks that final lines with the clips' words appeared, and
// saves screenshots of the live page and of its end. Then it presses Start
// on a page whose server has no sound server to take a microphone from, and
// checks that the page says so.
//
// usage: node browser_test.js TOOL SCREENSHOT.png
// Exits 77 (skipped) when chromium is not installed.
import { execFileSync, spawn } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { setTimeout as sleep } from "node:timers/promises";

import { Chromium, evaluate } from "./chromium.js";

const SKIPPED = 77;
const LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox";
const CLIPS = ["0870", "0880", "0890"];
// Generous: a loaded two-core machine takes seconds to start a session.
const SESSION_DEADLINE_MS = 180000;

function onPath(name) {
  try {
    return execFileSync("sh", ["-c", `command -v ${name}`], { encoding: "utf8" }).trim();
  } catch {
    return "";
  }
}

function referenceWords() {
  const lines = readFileSync(join(LIBRIVOX, "transcription"), "utf8").split("\n");
  const words = lines.filter((line) => CLIPS.some((id) => line.includes(`-${id})`)))
    .flatMap((line) => line.slice(0, line.lastIndexOf("(")).toLowerCase().split(/\s+/));
  return new Set(words.filter((word) => word && !word.startsWith("<")));
}

/** Starts the page's server and resolves with it and its address. */
async function startServer(args, env) {
  const server = spawn(process.execPath, [join(dirname(fileURLToPath(import.meta.url)), "server.js"),
    "--port", "0", ...args], { env: { ...process.env, ...env }, stdio: ["ignore", "pipe", "inherit"] });
  let printed = "";
  const url = await new Promise((resolve, reject) => {
    server.stdout.on("data", (chunk) => {
      printed += chunk;
      const found = printed.match(/http:\/\/127\.0\.0\.1:\d+\//);
      if (found) resolve(found[0]);
    });
    server.on("close", (code) => reject(new Error(`the server exited with status ${code}: ${printed}`)));
  });
  return { server, url };
}

const SNAPSHOT = `(() => {
  const color = (element) => element ? getComputedStyle(element).color : "";
  const errorBox = document.getElementById("error");
  return {
    finals: [...document.querySelectorAll("#finals p.final")].map((p) => p.textContent),
    volatile: document.getElementById("volatile").textContent,
    volatileElements: document.querySelectorAll("#volatile").length,
    running: document.getElementById("toggle").textContent.startsWith("Stop"),
    activity: document.getElementById("activity").dataset.state,
    error: errorBox.hidden ? "" : errorBox.textContent,
    finalColor: color(document.querySelector("#finals p.final")),
    volatileColor: color(document.getElementById("volatile")),
  };
})()`;

async function screenshot(page, path) {
  const { data } = await page("Page.captureScreenshot", { format: "png" });
  writeFileSync(path, Buffer.from(data, "base64"));
  console.log(`screenshot: ${path}`);
}

/** Presses Start once the page is ready for it. */
async function pressStart(page) {
  await evaluate(page, `new Promise((resolve) => {
    const ready = () => document.readyState === "complete" && !document.getElementById("toggle").disabled;
    const check = () => (ready() ? resolve(true) : setTimeout(check, 50));
    check();
  })`);
  await evaluate(page, `document.getElementById("toggle").click()`);
}

/** Presses Start and follows the page until the session has ended. */
async function dictate(page, livePath) {
  await pressStart(page);
  const deadline = Date.now() + SESSION_DEADLINE_MS;
  let seen = { running: false, listening: false, live: false, volatile: false };
  for (;;) {
    const snapshot = await evaluate(page, SNAPSHOT);
    if (snapshot.error) throw new Error(`the page shows an error: ${snapshot.error}`);
    seen.running ||= snapshot.running;
    seen.listening ||= snapshot.activity === "listening";
    seen.volatile ||= snapshot.volatile !== "";
    // The live picture: a settled line above provisional words still coming.
    if (!seen.live && snapshot.finals.length > 0 && snapshot.volatile.split(" ").length >= 4) {
      seen.live = true;
      await screenshot(page, livePath);
    }
    if (seen.running && !snapshot.running) return { snapshot, seen };
    if (Date.now() > deadline) throw new Error(`the session did not end: ${JSON.stringify(snapshot)}`);
    await sleep(100);
  }
}

/** Presses Start and resolves with the error the page then shows, once the
 * button offers Start again. */
async function noMicrophoneError(page) {
  await pressStart(page);
  const deadline = Date.now() + SESSION_DEADLINE_MS;
  for (;;) {
    const snapshot = await evaluate(page, SNAPSHOT);
    if (snapshot.error && !snapshot.running) return snapshot.error;
    if (Date.now() > deadline) throw new Error(`no error shown: ${JSON.stringify(snapshot)}`);
    await sleep(100);
  }
}

async function main() {
  const [tool, screenshotPath] = process.argv.slice(2);
  const chromium = onPath("chromium");
  if (!chromium) {
    console.log("SKIPPED: chromium is not installed (apt-get install chromium); the dictation page is not tested");
    return SKIPPED;
  }
  const scratch = mkdtempSync(join(tmpdir(), "tolva-page-"));
  const clip = join(scratch, "clips.wav");
  execFileSync("sox", CLIPS.map((id) => join(LIBRIVOX, `sense_and_sensibility_01_austen_64kb-${id}.wav`)).concat(clip));
  const dataHome = join(scratch, "data");
  const { server, url } = await startServer(["--replay", clip, "--tool", tool], { XDG_DATA_HOME: dataHome });
  // The same page on the microphone of a sound server that is not there.
  const noMicrophone = await startServer(["--tool", tool],
    { XDG_DATA_HOME: dataHome, PULSE_SERVER: `unix:${join(scratch, "no-sound-server")}` });
  const browser = new Chromium(chromium, join(scratch, "profile"), 900, 640);
  try {
    const page = await browser.open(url);
    const { snapshot, seen } = await dictate(page, screenshotPath.replace(/\.png$/, "-live.png"));
    await screenshot(page, screenshotPath);
    const heard = new Set(snapshot.finals.join(" ").toLowerCase().split(/\s+/));
    const known = [...referenceWords()].filter((word) => heard.has(word));
    console.log(`finals: ${JSON.stringify(snapshot.finals)}`);
    const problems = [
      [snapshot.finals.length >= 1, "no final line appeared"],
      [known.length >= 5, `too few of the clips' words among the finals: ${known.join(" ")}`],
      [seen.listening, "the activity indicator never showed listening"],
      [seen.volatile, "no provisional text was shown"],
      [snapshot.volatileElements === 1, "the provisional text is not one element redrawn in place"],
      [snapshot.finalColor === "rgb(17, 17, 17)", `finals are not black: ${snapshot.finalColor}`],
      [snapshot.volatileColor === "rgb(138, 138, 138)", `provisional text is not grey: ${snapshot.volatileColor}`],
    ].filter(([ok]) => !ok).map(([, problem]) => problem);
    if (problems.length > 0) throw new Error(problems.join("; "));
    const error = await noMicrophoneError(await browser.open(noMicrophone.url));
    console.log(`without a sound server: ${error}`);
    if (!error.startsWith("No microphone: no sound server")) throw new Error(`unclear error: ${error}`);
    console.log(`PASS: ${snapshot.finals.length} final lines, ${known.length} of the clips' words`);
    return 0;
  } finally {
    await browser.close();
    await Promise.all([server, noMicrophone.server].map((child) => new Promise((resolve) => {
      if (child.exitCode !== null) return resolve();
      child.on("close", resolve);
      child.kill("SIGTERM");
    })));
    rmSync(scratch, { recursive: true, force: true });
  }
}

main().then((status) => process.exit(status), (error) => {
  console.error(`FAIL: ${error.message}`);
  process.exit(1);
});
