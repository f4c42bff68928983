/**
 * The one-shot subcommands: probe, install, release, transcribe and devices.
 * Each runs the tool once and resolves with its document (or, for
 * transcribeText, its text), or rejects with TolvaSpeechError.
 */
import {
  type Devices, type Install, type Probe, type Release, type Transcript,
  devicesDocument, installDocument, probeDocument, releaseDocument, transcriptDocument,
} from "./documents.js";
import type { LogEntry, LogHandler } from "./log.js";
import { type RunOptions, runDocument, runText } from "./run.js";

/** Receives a fraction from 0 to 1. */
export type ProgressHandler = (fraction: number) => void;

export interface CommandOptions extends RunOptions {
  /** Arguments appended to the command line, for flags this client does not
   * name (e.g. ["--words"]); the answer must still be a JSON document. */
  args?: readonly string[];
}

export interface ProbeOptions extends CommandOptions {
  /** Also report how this locale resolves and its model status. */
  locale?: string;
}

export interface InstallOptions extends CommandOptions {
  /** The download's fraction, about twice a second while it runs. */
  onProgress?: ProgressHandler;
}

export interface TranscribeOptions extends CommandOptions {
  /** The audio's language; default "en-US". */
  locale?: string;
  /** Install the locale's model first when it is missing. */
  autoInstall?: boolean;
  /** The fraction of the audio analysed so far, about twice a second. */
  onProgress?: ProgressHandler;
  /** Each segment carries its words with times and confidence. */
  words?: boolean;
  /** No segment lasts longer than this many seconds (a longer one is cut at
   * its longest pause). */
  maxSegment?: number;
}

/** The text formats transcribeText writes: subtitles or plain text. */
export type TextFormat = "srt" | "vtt" | "txt";

/** A log handler that passes on the `fraction` of each `event` line, and
 * every line to the caller's own onLog. */
function progressReader(event: string, options: InstallOptions | TranscribeOptions): LogHandler | undefined {
  const { onProgress, onLog } = options;
  if (onProgress === undefined) return onLog;
  return (entry: LogEntry) => {
    if (entry.event === event && typeof entry.fraction === "number") onProgress(entry.fraction);
    onLog?.(entry);
  };
}

function withExtra(args: string[], options: CommandOptions): string[] {
  return options.args === undefined ? args : [...args, ...options.args];
}

/** The machine's speech set-up; with `locale`, also how that locale resolves. */
export async function probe(options: ProbeOptions = {}): Promise<Probe> {
  const args = ["probe", ...(options.locale === undefined ? [] : ["--locale", options.locale])];
  return probeDocument(await runDocument(withExtra(args, options), options));
}

/** Reserves `locale` and installs its model. */
export async function install(locale: string, options: InstallOptions = {}): Promise<Install> {
  const args = withExtra(["install", "--locale", locale], options);
  return installDocument(await runDocument(args, { ...options, onLog: progressReader("install.progress", options) }));
}

/** Frees the reservation of `locale` and deletes the store's copy of its model. */
export async function release(locale: string, options: CommandOptions = {}): Promise<Release> {
  return releaseDocument(await runDocument(withExtra(["release", "--locale", locale], options), options));
}

function transcribeArgs(path: string, options: TranscribeOptions, format?: TextFormat): string[] {
  // The tool takes an argument that begins with "--" for a flag.
  const audio = path.startsWith("--") ? `./${path}` : path;
  const args = ["transcribe", audio, "--locale", options.locale ?? "en-US"];
  if (options.autoInstall) args.push("--auto-install");
  if (options.words) args.push("--words");
  if (format !== undefined) args.push("--format", format);
  if (options.maxSegment !== undefined) args.push("--max-segment", String(options.maxSegment));
  return withExtra(args, options);
}

/** Turns an audio file into a timed transcript. */
export async function transcribe(path: string, options: TranscribeOptions = {}): Promise<Transcript> {
  const run = { ...options, onLog: progressReader("transcribe.progress", options) };
  return transcriptDocument(await runDocument(transcribeArgs(path, options), run));
}

/** Turns an audio file into SubRip or WebVTT subtitles, or plain text, as
 * the tool writes them; a failure still rejects with the error document's
 * code. */
export async function transcribeText(path: string, format: TextFormat, options: TranscribeOptions = {}): Promise<string> {
  const run = { ...options, onLog: progressReader("transcribe.progress", options) };
  return runText(transcribeArgs(path, options, format), run);
}

/** The sound server's capture sources; the one marked `default` is what a
 * session without `device` records from. */
export async function devices(options: CommandOptions = {}): Promise<Devices> {
  return devicesDocument(await runDocument(withExtra(["devices"], options), options));
}
