/**
 * The tool's diagnostic log on standard error: one JSON object per line,
 * `{"t":"<seconds since start>","event":"<name>",...}`. The log is meant for
 * people and bug reports; its events may change between versions.
 */
import { LineSplitter } from "./lines.js";

/** One log line. A line that is not a JSON object (a library writing to
 * standard error, say) arrives as `{event: "unparsed", line}`. */
export interface LogEntry {
  event: string;
  t?: string;
  [field: string]: unknown;
}

export type LogHandler = (entry: LogEntry) => void;

/** How much of standard error a crash report carries. */
const TAIL_CHARS = 2000;

export function parseLogLine(line: string): LogEntry {
  try {
    const entry: unknown = JSON.parse(line);
    if (entry !== null && typeof entry === "object" && !Array.isArray(entry)
        && typeof (entry as LogEntry).event === "string") {
      return entry as LogEntry;
    }
  } catch {
    // falls through: the log is diagnostic, a stray line is no failure
  }
  return { event: "unparsed", line };
}

/**
 * Reads standard error as it comes: splits it into lines, hands each one on
 * parsed, and keeps the end of the text for error details. Reading it always,
 * whether or not anyone listens, keeps the pipe from filling up and stalling
 * the tool.
 */
export class LogReader {
  private readonly lines = new LineSplitter();
  private tailText = "";

  constructor(private readonly onEntry: LogHandler | undefined) {}

  feed(chunk: Buffer): void {
    this.tailText = (this.tailText + chunk.toString("utf8")).slice(-TAIL_CHARS);
    this.emit(this.lines.feed(chunk));
  }

  end(): void {
    this.emit(this.lines.end());
  }

  /** The last part of standard error, for the detail of an error. */
  tail(): string {
    return this.tailText.trim();
  }

  private emit(lines: string[]): void {
    if (this.onEntry === undefined) return;
    for (const line of lines) {
      if (line.trim() !== "") this.onEntry(parseLogLine(line));
    }
  }
}
