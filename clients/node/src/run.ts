/**
 * Running one one-shot subcommand: the tool's process from spawn to exit.
 *
 * Standard output is collected whole; standard error is read as it comes, so
 * neither pipe can fill up and stall the tool, and log lines reach `onLog`
 * while the tool runs. Every way a run ends waits for the process to exit
 * first: no promise settles while the child still runs.
 */
import { spawn } from "node:child_process";

import { TolvaSpeechError } from "./errors.js";
import { LogReader, type LogHandler } from "./log.js";
import { type ExitStatus, type TextStyle, exitError, findTool, toolEnvironment } from "./tool.js";

export interface RunOptions {
  /** The executable; default $TOLVA_SPEECH, then tolva-speech on PATH. */
  tool?: string;
  /** The tool's whole environment, as for child_process.spawn (it replaces
   * process.env; spread process.env into it to add a variable). */
  env?: NodeJS.ProcessEnv;
  /** Sets TOLVA_SPEECH_TEXT in the tool's environment: "formatted" or "raw". */
  text?: TextStyle;
  /** Milliseconds to wait for the answer; the tool is then killed and the
   * run rejects with code "timeout". */
  timeout?: number;
  /** Ends the run: the tool gets SIGTERM, the run rejects with "aborted". */
  signal?: AbortSignal;
  /** Receives each diagnostic log line as the tool writes it. */
  onLog?: LogHandler;
}

/** How long a tool that ignores SIGTERM after an abort has before SIGKILL. */
const ABORT_GRACE_MS = 5000;

interface Finished {
  status: ExitStatus;
  stdout: string;
  stderrTail: string;
}

type Reason = { kind: "timeout"; ms: number } | { kind: "aborted"; cause: unknown } | { kind: "thrown"; error: unknown };

function reasonError(reason: Reason, stderrTail: string): unknown {
  switch (reason.kind) {
    case "timeout":
      return new TolvaSpeechError("timeout", `the tool did not answer within ${reason.ms} ms`, stderrTail);
    case "aborted":
      return new TolvaSpeechError("aborted", "the run was aborted", undefined, { cause: reason.cause });
    case "thrown":
      return reason.error;
  }
}

function abortedError(signal: AbortSignal): TolvaSpeechError {
  return new TolvaSpeechError("aborted", "the run was aborted", undefined, { cause: signal.reason });
}

function runProcess(args: readonly string[], options: RunOptions): Promise<Finished> {
  return new Promise((resolve, reject) => {
    const { signal } = options;
    if (signal?.aborted) throw abortedError(signal);
    const child = spawn(findTool(options.tool), args, {
      stdio: ["ignore", "pipe", "pipe"], env: toolEnvironment(options.env, options.text),
    });
    const out: Buffer[] = [];
    const log = new LogReader(options.onLog);
    let reason: Reason | undefined;
    const timers: NodeJS.Timeout[] = [];

    const end = (why: Reason, killWith: NodeJS.Signals): void => {
      if (reason !== undefined) return;
      reason = why;
      child.kill(killWith);
      if (killWith !== "SIGKILL") timers.push(setTimeout(() => child.kill("SIGKILL"), ABORT_GRACE_MS));
    };
    const onAbort = (): void => end({ kind: "aborted", cause: signal?.reason }, "SIGTERM");
    if (options.timeout !== undefined) {
      const ms = options.timeout;
      timers.push(setTimeout(() => end({ kind: "timeout", ms }, "SIGKILL"), ms));
    }
    signal?.addEventListener("abort", onAbort, { once: true });

    child.stdout.on("data", (chunk: Buffer) => out.push(chunk));
    child.stderr.on("data", (chunk: Buffer) => {
      try {
        log.feed(chunk);
      } catch (error) {
        end({ kind: "thrown", error }, "SIGKILL"); // the caller's onLog threw
      }
    });
    child.on("error", (error) => {
      if (child.pid === undefined) end({ kind: "thrown", error: new TolvaSpeechError(
        "crashed", "the tool could not be started", error.message) }, "SIGKILL");
    });
    child.on("close", (code, killedBy) => {
      for (const timer of timers) clearTimeout(timer);
      signal?.removeEventListener("abort", onAbort);
      try {
        log.end();
      } catch (error) {
        reason ??= { kind: "thrown", error };
      }
      if (reason !== undefined) {
        reject(reasonError(reason, log.tail()));
      } else {
        resolve({ status: { code, signal: killedBy }, stdout: Buffer.concat(out).toString("utf8"), stderrTail: log.tail() });
      }
    });
  });
}

function parseObject(text: string): Record<string, unknown> | undefined {
  try {
    const value: unknown = JSON.parse(text);
    return value !== null && typeof value === "object" && !Array.isArray(value)
      ? (value as Record<string, unknown>) : undefined;
  } catch {
    return undefined;
  }
}

function documentError(document: Record<string, unknown>): TolvaSpeechError {
  const detail = document.detail;
  return new TolvaSpeechError(String(document.error), String(document.message ?? ""),
    detail === undefined || detail === null ? undefined : String(detail));
}

/** Rejects for an exit that is neither 0 nor 1, and for an error document. */
function checkExit({ status, stdout, stderrTail }: Finished): void {
  if (status.signal !== null || (status.code !== 0 && status.code !== 1)) throw exitError(status, stderrTail);
  if (status.code === 1) {
    const document = parseObject(stdout);
    if (document !== undefined && "error" in document) throw documentError(document);
    throw new TolvaSpeechError("crashed", "the tool exited with status 1 without an error document",
      stdout.slice(0, 200) || stderrTail);
  }
}

/**
 * Runs `tolva-speech ...args` and resolves with what it wrote on standard
 * output, for a subcommand or flag whose answer is not a JSON document (a
 * subtitle format, say). Rejects with TolvaSpeechError for an error document
 * or a tool that misbehaved.
 */
export async function runText(args: readonly string[], options: RunOptions = {}): Promise<string> {
  const finished = await runProcess(args, options);
  checkExit(finished);
  return finished.stdout;
}

/**
 * Runs `tolva-speech ...args` and resolves with its JSON result document as
 * written, members the client does not know included.
 */
export async function runDocument(args: readonly string[], options: RunOptions = {}): Promise<Record<string, unknown>> {
  const finished = await runProcess(args, options);
  checkExit(finished);
  const document = parseObject(finished.stdout);
  if (document === undefined) {
    throw new TolvaSpeechError("crashed", "the tool wrote no JSON object as its document",
      finished.stdout.slice(0, 200) || finished.stderrTail);
  }
  if ("error" in document) throw documentError(document); // "encode-failed" keeps the status of the command
  return document;
}
