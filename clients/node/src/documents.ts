/**
 * The result documents of the one-shot subcommands, typed as the tool writes
 * them. The client checks the members a type names and keeps every other
 * member as it came, so options that add members (word times, say) reach the
 * application without a new client.
 */
import { checked, type Shape } from "./shape.js";

/** A model status: "unsupported", "supported", "downloading", "installed"
 * or "unknown". */
export type AssetStatus = string;

export interface Probe {
  isAvailable: boolean;
  osVersion: string;
  cpu: string;
  supportedLocales: string[];
  installedLocales: string[];
  reservedLocales: string[];
  supportedLocaleCount: number;
  installedLocaleCount: number;
  maximumReservedLocales: number;
  /** de, de-DE, de-AT, de-CH, en, en-US, en-GB, each with the locale it
   * resolves to or "<unsupported>". */
  deLocaleResolution: Record<string, string>;
  assetStatusForDE: AssetStatus;
  assetStatusForEN: AssetStatus;
  /** Only when probe was given a locale. */
  requestedLocale?: string;
  requestedLocaleResolved?: string;
  requestedLocaleStatus?: AssetStatus;
  localeStatuses: Record<string, AssetStatus>;
  localeStatusesComplete: boolean;
}

export interface Install {
  locale: string;
  resolvedLocale?: string;
  statusBefore: AssetStatus;
  statusAfter: AssetStatus;
  reserved: boolean;
  installRequested: boolean;
  /** The download's completed fraction as text ("0.000" to "1.000"). */
  progressSamples: string[];
  reservedCount: number;
  maximumReservedLocales: number;
  elapsedMs: number;
}

export interface Release {
  locale: string;
  resolvedLocale: string;
  released: boolean;
  statusBefore: AssetStatus;
  statusAfter: AssetStatus;
  reservedBefore: string[];
  reservedAfter: string[];
  maximumReservedLocales: number;
  elapsedMs: number;
}

/** One recognised word: its times in seconds, like its segment's, and the
 * recogniser's confidence in it, from 0 to 1. */
export interface Word {
  word: string;
  start: number;
  end: number;
  confidence: number;
}

/** A timed piece of a transcript; seconds from the audio's start, `text` as
 * recognised (not trimmed). `words` only when words were asked for. */
export interface Segment {
  start: number;
  end: number;
  text: string;
  words?: Word[];
}

export interface Transcript {
  /** The whole text, the segments joined and trimmed. */
  transcript: string;
  segments: Segment[];
  language?: string;
  /** The audio's length in seconds. */
  duration?: number;
  processingTimeMs?: number;
  _localeUsed?: string;
  _localeRequested?: string;
  _assetStatusBefore?: AssetStatus;
  _audioFormat?: string;
  /** Left out for empty audio. */
  _realtimeFactor?: number;
  _alternativesCount?: number;
}

/** One capture source `devices` lists; `name` is what Listener.start takes
 * as `device`. */
export interface CaptureSource {
  name: string;
  description: string;
  rate: number;
  channels: number;
  /** The source a session without `device` records from. */
  default: boolean;
  /** Records what an output plays, not a microphone. */
  monitor: boolean;
}

/** What `devices` answers: the sound server's capture sources, sorted by name. */
export interface Devices {
  sources: CaptureSource[];
}

const probeShape: Shape = {
  isAvailable: "boolean", supportedLocales: "array", installedLocales: "array", reservedLocales: "array",
  maximumReservedLocales: "number", requestedLocale: "string?", requestedLocaleResolved: "string?",
  requestedLocaleStatus: "string?",
};
const installShape: Shape = { locale: "string", statusBefore: "string", statusAfter: "string" };
const releaseShape: Shape = { locale: "string", resolvedLocale: "string", released: "boolean" };
const transcriptShape: Shape = { transcript: "string", segments: "array", duration: "number?" };
const segmentShape: Shape = { start: "number", end: "number", text: "string", words: "array?" };
const wordShape: Shape = { word: "string", start: "number", end: "number", confidence: "number" };
const devicesShape: Shape = { sources: "array" };
const sourceShape: Shape = {
  name: "string", description: "string", rate: "number", channels: "number", default: "boolean", monitor: "boolean",
};

export function probeDocument(document: unknown): Probe {
  return checked<Probe>(document, probeShape, "probe document");
}

export function installDocument(document: unknown): Install {
  return checked<Install>(document, installShape, "install document");
}

export function releaseDocument(document: unknown): Release {
  return checked<Release>(document, releaseShape, "release document");
}

export function transcriptDocument(document: unknown): Transcript {
  const transcript = checked<Transcript>(document, transcriptShape, "transcript document");
  for (const segment of transcript.segments) checkWords(checked<Segment>(segment, segmentShape, "segment").words);
  return transcript;
}

/** Checks each word of a segment or final that has them. */
export function checkWords(words: unknown[] | undefined): void {
  for (const word of words ?? []) checked<Word>(word, wordShape, "word");
}

export function devicesDocument(document: unknown): Devices {
  const devices = checked<Devices>(document, devicesShape, "devices document");
  for (const source of devices.sources) checked<CaptureSource>(source, sourceShape, "capture source");
  return devices;
}
