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

/** A timed piece of a transcript; seconds from the audio's start, `text` as
 * recognised (not trimmed). */
export interface Segment {
  start: number;
  end: number;
  text: string;
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

const probeShape: Shape = {
  isAvailable: "boolean", supportedLocales: "array", installedLocales: "array", reservedLocales: "array",
  maximumReservedLocales: "number", requestedLocale: "string?", requestedLocaleResolved: "string?",
  requestedLocaleStatus: "string?",
};
const installShape: Shape = { locale: "string", statusBefore: "string", statusAfter: "string" };
const releaseShape: Shape = { locale: "string", resolvedLocale: "string", released: "boolean" };
const transcriptShape: Shape = { transcript: "string", segments: "array", duration: "number?" };
const segmentShape: Shape = { start: "number", end: "number", text: "string" };

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
  for (const segment of transcript.segments) checked<Segment>(segment, segmentShape, "segment");
  return transcript;
}
