/**
 * One dictation session of a Listener. Its events are kept from the moment
 * the tool numbers the session, so iterating it after `await start()` misses
 * none.
 */
import type { TolvaSpeechError } from "./errors.js";
import type { SessionEndedEvent, SessionEvent, SessionStartedEvent } from "./events.js";
import { EventQueue } from "./queue.js";

export interface StopOptions {
  /** Milliseconds to wait for the session's end; then stop() rejects with
   * "timeout" (the session may still end later). */
  timeout?: number;
}

export class Session implements AsyncIterable<SessionEvent> {
  /** 1, 2, ... for the sessions of one listen process. */
  readonly number: number;
  /** From session-started; undefined when the session failed before it. */
  readonly started: SessionStartedEvent | undefined;
  /** Resolves with the session's session-ended; rejects when the tool dies
   * first. */
  readonly ended: Promise<SessionEndedEvent>;

  private readonly queue = new EventQueue<SessionEvent>();
  private endedEvent: SessionEndedEvent | undefined;
  private settleEnded!: { resolve: (event: SessionEndedEvent) => void; reject: (error: unknown) => void };

  /** @internal Made by the Listener only. */
  constructor(number: number, started: SessionStartedEvent | undefined,
              private readonly stopper: (options: StopOptions) => Promise<SessionEndedEvent>) {
    this.number = number;
    this.started = started;
    this.ended = new Promise((resolve, reject) => {
      this.settleEnded = { resolve, reject };
    });
    this.ended.catch(() => {}); // a caller who never looks is not an unhandled rejection
  }

  /** The admitted locale's identifier, such as "en_US". */
  get locale(): string | undefined {
    return this.started?.locale;
  }

  /** "mic", "replay", or the source a newer tool names. */
  get mode(): string | undefined {
    return this.started?.mode;
  }

  /** Whether the session has ended. */
  get isOver(): boolean {
    return this.endedEvent !== undefined;
  }

  /** Stops this session (see Listener.stop). */
  stop(options: StopOptions = {}): Promise<SessionEndedEvent> {
    return this.stopper(options);
  }

  /** The session's events after session-started, through session-ended.
   * One consumer: a second iteration shares the first one's place. */
  [Symbol.asyncIterator](): AsyncIterator<SessionEvent> {
    return this.queue;
  }

  /** @internal */
  deliver(event: SessionEvent): void {
    if (this.endedEvent !== undefined) return; // a late result after the end
    if (event.event === "session-started") return;
    this.queue.push(event);
    if (event.event === "session-ended") {
      this.endedEvent = event;
      this.queue.end();
      this.settleEnded.resolve(event);
    }
  }

  /** @internal The tool ended before the session did: its iterator throws
   * `error`, or just ends when the caller had quit. */
  abandon(error: TolvaSpeechError, quietly: boolean): void {
    if (this.endedEvent !== undefined) return;
    if (quietly) this.queue.end();
    else this.queue.fail(error);
    this.settleEnded.reject(error);
  }
}
