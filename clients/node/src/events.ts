/**
 * The events of `listen`, typed as the tool writes them: one JSON object per
 * line with `event`, `seq` (1, 2, ... without gaps) and `tMs` (milliseconds
 * since the tool started). Members beyond those named here (from `start`
 * options this client does not know) are kept as they came.
 */
import { checkWords, type Word } from "./documents.js";
import { TolvaSpeechError } from "./errors.js";
import { checked, type Shape } from "./shape.js";

interface Envelope {
  seq: number;
  tMs: number;
}

/** The first line of every listen process. */
export interface ReadyEvent extends Envelope {
  event: "ready";
  pid: number;
  protocol: number;
  maxEventTextChars: number;
  maxEventLineBytes: number;
  finalizeTimeoutMs: number;
}

export interface SessionStartedEvent extends Envelope {
  event: "session-started";
  session: number;
  /** The engine's identifier of the admitted locale, such as "en_US". */
  locale: string;
  /** "mic", "replay", or the source a newer tool names. */
  mode: string;
  /** Such as "16000Hz ch=1". */
  analyzerFormat: string;
}

/** Audio has begun to flow into the session. */
export interface CaptureStartedEvent extends Envelope {
  event: "capture-started";
  session: number;
  source: string;
}

/** Provisional text of the utterance being spoken; the next volatile or
 * final replaces it. `truncated`: only the text's last 8192 characters came. */
export interface VolatileEvent extends Envelope {
  event: "volatile";
  session: number;
  text: string;
  sessionMs: number;
  truncated?: boolean;
}

/** Settled text of one utterance. `empty` marks the one empty final of a
 * session that ended without any text. `words` only in a session started
 * with `words: true`. */
export interface FinalEvent extends Envelope {
  event: "final";
  session: number;
  text: string;
  sessionMs: number;
  empty?: boolean;
  truncated?: boolean;
  words?: Word[];
}

/** The last event of every session. */
export interface SessionEndedEvent extends Envelope {
  event: "session-ended";
  session: number;
  sessionMs: number;
  volatileCount: number;
  finalCount: number;
  /** -1 when there was no provisional text. */
  firstVolatileMs: number;
  audioFedMs: number;
  /** Present (true) when the session failed or its end timed out. */
  failed?: boolean;
}

/** An error the tool reports. With `session` it belongs to a running session
 * ("capture-halted", "session-failed", ...); without, it answers a command
 * ("locale-not-installed", "no-session", ...). */
export interface ErrorEvent extends Envelope {
  event: "error";
  code: string;
  message?: string;
  session?: number;
}

export type ListenEvent =
  | ReadyEvent | SessionStartedEvent | CaptureStartedEvent | VolatileEvent | FinalEvent | SessionEndedEvent | ErrorEvent;

/** An event of one session. */
export type SessionEvent = Exclude<ListenEvent, ReadyEvent>;

const shapes: Record<ListenEvent["event"], Shape> = {
  "ready": { protocol: "number" },
  "session-started": { session: "number", locale: "string", mode: "string", analyzerFormat: "string" },
  "capture-started": { session: "number", source: "string" },
  "volatile": { session: "number", text: "string", sessionMs: "number", truncated: "boolean?" },
  "final": {
    session: "number", text: "string", sessionMs: "number", empty: "boolean?", truncated: "boolean?", words: "array?",
  },
  "session-ended": {
    session: "number", sessionMs: "number", volatileCount: "number", finalCount: "number",
    firstVolatileMs: "number", audioFedMs: "number", failed: "boolean?",
  },
  "error": { code: "string", message: "string?", session: "number?" },
};

/** One event line: its name, its typed event when the client knows the name,
 * and the object as written. */
export interface EventLine {
  name: string;
  event: ListenEvent | undefined;
  value: Record<string, unknown>;
}

/** Reads one event line; throws "crashed" for a line that is not an event. */
export function parseEvent(line: string): EventLine {
  let parsed: unknown;
  try {
    parsed = JSON.parse(line);
  } catch {
    throw new TolvaSpeechError("crashed", "the tool wrote a line that is not an event", line.slice(0, 200));
  }
  const value = checked<{ event: string } & Record<string, unknown>>(parsed, { event: "string" }, "event line");
  const shape = (shapes as Record<string, Shape | undefined>)[value.event];
  const event = shape === undefined ? undefined : checked<ListenEvent>(value, shape, `${value.event} event`);
  if (event?.event === "final") checkWords(event.words);
  return { name: value.event, event, value };
}
