/**
 * The one error class the client rejects with.
 *
 * `code` is the tool's own error code ("no-such-file", "locale-unsupported",
 * ...) or one of the client's codes for a process that misbehaved:
 *
 * - "tool-not-found": no tolva-speech executable could be found;
 * - "usage": the tool refused its command line (exit status 2);
 * - "crashed": the tool died on a signal, exited unexpectedly, or wrote
 *   output that is not its documented JSON;
 * - "timeout": the tool did not answer within the bound the caller gave;
 * - "aborted": the caller's AbortSignal ended the run;
 * - "closed": a Listener's command was pending or sent after quit().
 */
export class TolvaSpeechError extends Error {
  readonly code: string;
  readonly detail: string | undefined;

  constructor(code: string, message: string, detail?: string, options?: { cause?: unknown }) {
    super(message, options);
    this.name = "TolvaSpeechError";
    this.code = code;
    this.detail = detail;
  }

  /** "code: message (detail)", the form a log or a terminal wants. */
  override toString(): string {
    return `${this.code}: ${this.message}` + (this.detail ? ` (${this.detail})` : "");
  }
}
