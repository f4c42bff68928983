/**
 * Finding the tool and naming the ways its process can end without an
 * answer.
 */
import { accessSync, constants, statSync } from "node:fs";
import { delimiter, join, sep } from "node:path";
import { constants as osConstants } from "node:os";

import { TolvaSpeechError } from "./errors.js";

export const TOOL_NAME = "tolva-speech";
export const TOOL_VARIABLE = "TOLVA_SPEECH";

function isExecutableFile(path: string): boolean {
  try {
    accessSync(path, constants.X_OK);
    return statSync(path).isFile();
  } catch {
    return false;
  }
}

function onPath(name: string): string | undefined {
  for (const dir of (process.env.PATH ?? "").split(delimiter)) {
    if (dir === "") continue;
    const candidate = join(dir, name);
    if (isExecutableFile(candidate)) return candidate;
  }
  return undefined;
}

function resolved(candidate: string): string {
  const path = candidate.includes(sep) ? candidate : onPath(candidate);
  if (path !== undefined && isExecutableFile(path)) return path;
  throw new TolvaSpeechError("tool-not-found", `${candidate} is not an executable file`);
}

/** The executable to run: `tool` when given, else $TOLVA_SPEECH, else
 * tolva-speech on PATH. */
export function findTool(tool?: string): string {
  for (const candidate of [tool, process.env[TOOL_VARIABLE]]) {
    if (candidate) return resolved(candidate);
  }
  const found = onPath(TOOL_NAME);
  if (found !== undefined) return found;
  throw new TolvaSpeechError(
    "tool-not-found",
    `${TOOL_NAME} is not on PATH; pass its path or set ${TOOL_VARIABLE}`,
  );
}

/** How the tool writes texts: "formatted" written text (its default) or
 * "raw", the recogniser's words as they are. */
export type TextStyle = "formatted" | "raw";

export const TEXT_VARIABLE = "TOLVA_SPEECH_TEXT";

/** The child's environment: `env` (else this process's) with the text style
 * set when one is asked for; process.env itself is left alone. Without
 * `text`, `env` is passed on as it came. */
export function toolEnvironment(env: NodeJS.ProcessEnv | undefined, text: TextStyle | undefined): NodeJS.ProcessEnv | undefined {
  return text === undefined ? env : { ...(env ?? process.env), [TEXT_VARIABLE]: text };
}

/** How a process ended, as child_process reports it. */
export interface ExitStatus {
  code: number | null;
  signal: NodeJS.Signals | null;
}

function signalNumber(signal: NodeJS.Signals): number | undefined {
  return (osConstants.signals as Record<string, number | undefined>)[signal];
}

/** The error for a tool that ended without a usable answer; `detail` is the
 * end of what it wrote on standard error. */
export function exitError(status: ExitStatus, detail: string): TolvaSpeechError {
  if (status.signal !== null) {
    const number = signalNumber(status.signal);
    const name = number === undefined ? status.signal : `${status.signal} (${number})`;
    return new TolvaSpeechError("crashed", `the tool was killed by ${name}`, detail);
  }
  if (status.code === 2) {
    return new TolvaSpeechError("usage", "the tool refused its command line", detail);
  }
  return new TolvaSpeechError("crashed", `the tool exited with status ${status.code}`, detail);
}
