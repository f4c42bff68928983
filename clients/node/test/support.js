// Helpers of the client's tests: the tool binaries ctest points at, the
// scripted tool with a scenario, and stand-in tools that misbehave on purpose.
import { chmodSync, mkdtempSync, rmSync, writeFileSync, accessSync, constants } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { after } from "node:test";

const REPO = resolve(dirname(fileURLToPath(import.meta.url)), "../../..");

export const LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox";

function binary(variable, fallback) {
  const path = process.env[variable] || join(REPO, fallback);
  try {
    accessSync(path, constants.X_OK);
    return { path, skip: false };
  } catch {
    return { path, skip: `${path} is not built (set ${variable})` };
  }
}

export const scriptedBinary = binary("TOLVA_SCRIPTED_BINARY", "build/tests/tolva-speech-scripted");
export const realBinary = binary("TOLVA_REAL_BINARY", "build/tolva-speech");

/** A directory removed when the test file ends. */
export function scratch() {
  const dir = mkdtempSync(join(tmpdir(), "tolva-node-"));
  after(() => rmSync(dir, { recursive: true, force: true }));
  return dir;
}

/** Options that run the scripted tool playing `scenario`. */
export function scripted(scenario) {
  return { tool: scriptedBinary.path, env: { ...process.env, TOLVA_SCENARIO: JSON.stringify(scenario) } };
}

/** A stand-in tool: a shell script with the given body. */
export function fakeTool(body) {
  const path = join(scratch(), "fake-tool");
  writeFileSync(path, "#!/bin/sh\n" + body + "\n");
  chmodSync(path, 0o755);
  return path;
}

/** An empty file the scripted tool knows as a.wav (it only has to exist). */
export function audio() {
  const path = join(scratch(), "a.wav");
  writeFileSync(path, "");
  return path;
}

/** The reference words of a librivox clip, from the package's transcription. */
export async function referenceWords(id) {
  const { readFileSync } = await import("node:fs");
  const line = readFileSync(join(LIBRIVOX, "transcription"), "utf8").split("\n").find((l) => l.includes(id));
  if (!line) throw new Error(`no reference line for ${id}`);
  return new Set(line.slice(0, line.lastIndexOf("(")).toLowerCase().split(/\s+/).filter((w) => w && !w.startsWith("<")));
}
