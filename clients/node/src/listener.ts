/**
 * Listener: `tolva-speech listen` as a child process, one session at a time.
 *
 *     const listener = new Listener();
 *     listener.on("final", (event) => console.log(event.text));
 *     const session = await listener.start({ locale: "en-US" });
 *     ...
 *     await listener.quit();
 *
 * Commands are sent one at a time: start() and stop() wait for the tool's
 * answer to the previous command before they send theirs, so a second start
 * never races the first. Standard error is always read, parsed as log lines
 * and emitted as "log" events. Refusals of a command reject its promise;
 * errors of a running session are "session-error" events. A tool that dies or
 * writes something that is not an event line rejects every pending promise
 * with "crashed" instead of hanging.
 */
import { type ChildProcessWithoutNullStreams, spawn } from "node:child_process";
import { EventEmitter } from "node:events";

import { TolvaSpeechError } from "./errors.js";
import type {
  CaptureStartedEvent, ErrorEvent, FinalEvent, ListenEvent, ReadyEvent, SessionEndedEvent, SessionStartedEvent,
  VolatileEvent,
} from "./events.js";
import { type EventLine, parseEvent } from "./events.js";
import { LineSplitter } from "./lines.js";
import { type LogEntry, LogReader } from "./log.js";
import { EventQueue } from "./queue.js";
import { Session, type StopOptions } from "./session.js";
import { type ExitStatus, type TextStyle, exitError, findTool, toolEnvironment } from "./tool.js";

export interface ListenerOptions {
  /** The executable; default $TOLVA_SPEECH, then tolva-speech on PATH. */
  tool?: string;
  /** The tool's whole environment, as for child_process.spawn. */
  env?: NodeJS.ProcessEnv;
  /** Sets TOLVA_SPEECH_TEXT in the tool's environment: "formatted" or "raw". */
  text?: TextStyle;
  /** Arguments after `listen`, for flags this client does not name. */
  args?: readonly string[];
  /** Milliseconds to wait for `ready`; default 30000. */
  readyTimeout?: number;
  /** Milliseconds quit() waits for the tool to exit before SIGTERM; default 5000. */
  closeTimeout?: number;
}

export interface StartOptions {
  /** Required; must name a region (en-US, not en). */
  locale: string;
  /** An audio file to play in real time instead of the microphone. */
  replay?: string;
  /** Replay chunk length in milliseconds; the tool's default is 100. */
  chunkMs?: number;
  /** The capture source to record from (see devices()); default the
   * server's default source. */
  device?: string;
  /** A FIFO the caller writes audio into: a container FFmpeg decodes, or raw
   * PCM with `streamFormat`, `rate` and `channels`. The session ends when
   * its writer closes it, or at stop(). */
  stream?: string;
  /** Raw PCM of a stream: "s16le" or "f32le"; sent as the command's `format`. */
  streamFormat?: "s16le" | "f32le";
  /** The raw stream's sample rate in Hz. */
  rate?: number;
  /** The raw stream's channel count. */
  channels?: number;
  /** Each final of the session carries its words. */
  words?: boolean;
  /** Further members of the start command, sent as given, for options this
   * client does not name. */
  [option: string]: unknown;
}

/** How the tool's process ended. `error` is set when it ended on its own
 * accord or misbehaved, not after quit(). */
export interface ListenerExit extends ExitStatus {
  error?: TolvaSpeechError;
}

export interface ListenerEvents {
  /** Every event line the client knows, in the tool's order. */
  "event": (event: ListenEvent) => void;
  "ready": (event: ReadyEvent) => void;
  "session-started": (event: SessionStartedEvent) => void;
  "capture-started": (event: CaptureStartedEvent) => void;
  "volatile": (event: VolatileEvent) => void;
  "final": (event: FinalEvent) => void;
  "session-ended": (event: SessionEndedEvent) => void;
  /** An error of a running session; the session still ends with session-ended. */
  "session-error": (event: ErrorEvent) => void;
  /** The tool's answer refusing a command (also a rejection of start/stop). */
  "command-error": (event: ErrorEvent) => void;
  /** One diagnostic log line from standard error. */
  "log": (entry: LogEntry) => void;
  /** The tool's process has ended and its pipes are closed. */
  "close": (exit: ListenerExit) => void;
}

/** An event a newer tool writes that this client does not know comes under
 * its own name, as written. */
type OtherEventHandler = (event: Record<string, unknown>) => void;

export declare interface Listener {
  on<K extends keyof ListenerEvents>(name: K, handler: ListenerEvents[K]): this;
  on(name: string, handler: OtherEventHandler): this;
  once<K extends keyof ListenerEvents>(name: K, handler: ListenerEvents[K]): this;
  once(name: string, handler: OtherEventHandler): this;
  off<K extends keyof ListenerEvents>(name: K, handler: ListenerEvents[K]): this;
  off(name: string, handler: OtherEventHandler): this;
}

type Answer =
  | { kind: "start"; resolve: (session: Session) => void; reject: (error: unknown) => void }
  | { kind: "stop"; session: Session | undefined; resolve: (ended: SessionEndedEvent) => void; reject: (error: unknown) => void };

const NO_SESSION = "no-session";
/** How long a tool has after SIGTERM, once quit() has waited, before SIGKILL. */
const TERMINATE_GRACE_MS = 2000;

export class Listener extends EventEmitter {
  /** Resolves with the tool's ready event; rejects (e.g. "unavailable") when
   * it does not come. start() and stop() wait for it themselves. */
  readonly ready: Promise<ReadyEvent>;

  private readonly child: ChildProcessWithoutNullStreams;
  private readonly log: LogReader;
  private readonly stdoutLines = new LineSplitter();
  private readonly closeTimeout: number;
  private readonly sessions = new Map<number, Session>();
  private readonly iterators = new Set<EventQueue<ListenEvent>>();
  private readonly timers: NodeJS.Timeout[] = [];
  private readonly exited: Promise<ListenerExit>;
  private settleReady!: { resolve: (event: ReadyEvent) => void; reject: (error: unknown) => void };
  private settleExited!: (exit: ListenerExit) => void;
  private newest = 0;
  private current: Session | undefined;
  private answer: Answer | undefined;
  private commands: Promise<unknown> = Promise.resolve();
  private failure: TolvaSpeechError | undefined;
  private exit: ListenerExit | undefined;
  private quitRequested = false;
  private isReady = false;
  private readonly readyTimer: NodeJS.Timeout;

  /** Starts `tolva-speech listen`; throws "tool-not-found" at once when
   * there is no tool to start. */
  constructor(options: ListenerOptions = {}) {
    super();
    this.closeTimeout = options.closeTimeout ?? 5000;
    this.ready = new Promise((resolve, reject) => {
      this.settleReady = { resolve, reject };
    });
    this.ready.catch(() => {}); // reported through start(), stop() and "close" too
    this.exited = new Promise((resolve) => {
      this.settleExited = resolve;
    });
    this.log = new LogReader((entry) => this.tell("log", entry));
    this.child = spawn(findTool(options.tool), ["listen", ...(options.args ?? [])],
      { stdio: "pipe", env: toolEnvironment(options.env, options.text) });
    this.child.stdin.on("error", () => {}); // a tool that is gone answers through its exit
    this.child.stdout.on("data", (chunk: Buffer) => this.readEvents(this.stdoutLines.feed(chunk)));
    this.child.stdout.on("end", () => this.readEvents(this.stdoutLines.end()));
    this.child.stderr.on("data", (chunk: Buffer) => this.log.feed(chunk));
    this.child.stderr.on("end", () => this.log.end());
    this.child.on("error", (error) => {
      if (this.child.pid !== undefined) return;
      this.failure ??= new TolvaSpeechError("crashed", "the tool could not be started", error.message);
      this.closed({ code: null, signal: null });
    });
    this.child.on("close", (code, signal) => this.closed({ code, signal }));
    const readyTimeout = options.readyTimeout ?? 30000;
    this.readyTimer = setTimeout(() => this.fail(new TolvaSpeechError(
      "timeout", `the tool was not ready within ${readyTimeout} ms`)), readyTimeout);
  }

  /** The tool's process id. */
  get pid(): number | undefined {
    return this.child.pid;
  }

  /** How the tool ended, once it has. */
  get exitStatus(): ListenerExit | undefined {
    return this.exit;
  }

  /**
   * Starts a session on the microphone (`device`, else the default source),
   * on the file `replay`, or on the FIFO `stream`. Resolves
   * with the Session once the tool has started it; rejects with the tool's
   * refusal ("locale-not-installed", "session-already-active", ...) or with
   * the error of a session that failed before it started.
   */
  start(options: StartOptions): Promise<Session> {
    const { locale, replay, chunkMs, device, stream, streamFormat, rate, channels, words, ...others } = options;
    const command: Record<string, unknown> = { ...others, cmd: "start", locale };
    const named = { replay, chunkMs, device, stream, format: streamFormat, rate, channels };
    for (const [key, value] of Object.entries(named)) if (value !== undefined) command[key] = value;
    if (words) command.words = true;
    return this.serialised(() => new Promise<Session>((resolve, reject) => {
      this.send({ kind: "start", resolve, reject }, command);
    }));
  }

  /**
   * Stops the running session and resolves with its session-ended. Rejects
   * with "no-session" when none runs, "timeout" after `timeout` ms.
   */
  stop(options: StopOptions = {}): Promise<SessionEndedEvent> {
    return this.serialised(() => new Promise<SessionEndedEvent>((resolve, reject) => {
      let timer: NodeJS.Timeout | undefined;
      const done = (): void => clearTimeout(timer);
      const answer: Answer = {
        kind: "stop", session: this.current,
        resolve: (ended) => { done(); resolve(ended); },
        reject: (error) => { done(); reject(error); },
      };
      if (options.timeout !== undefined) {
        const ms = options.timeout;
        timer = setTimeout(() => {
          if (this.answer !== answer) return;
          this.answer = undefined;
          reject(new TolvaSpeechError("timeout", `the session did not end within ${ms} ms`));
        }, ms);
      }
      this.send(answer, { cmd: "stop" });
    }));
  }

  /**
   * Sends quit: a running session is stopped and ends first, then the tool
   * exits. After `closeTimeout` ms the tool gets SIGTERM, then SIGKILL.
   * Resolves with how the tool ended; calling it again is harmless.
   */
  quit(): Promise<ListenerExit> {
    if (!this.quitRequested && this.exit === undefined) {
      this.quitRequested = true;
      this.child.stdin.end('{"cmd":"quit"}\n');
      this.timers.push(setTimeout(() => {
        this.child.kill("SIGTERM");
        this.timers.push(setTimeout(() => this.child.kill("SIGKILL"), TERMINATE_GRACE_MS));
      }, this.closeTimeout));
    }
    return this.exited;
  }

  /** Every event from now until the tool exits; throws when it dies. */
  events(): AsyncIterableIterator<ListenEvent> {
    const queue: EventQueue<ListenEvent> = new EventQueue(() => this.iterators.delete(queue));
    if (this.exit === undefined) this.iterators.add(queue);
    else if (this.exit.error) queue.fail(this.exit.error);
    else queue.end();
    return queue;
  }

  [Symbol.asyncIterator](): AsyncIterableIterator<ListenEvent> {
    return this.events();
  }

  // -- commands ---------------------------------------------------------------

  /** Runs `command` once every command before it has its answer. */
  private serialised<T>(command: () => Promise<T>): Promise<T> {
    const run = async (): Promise<T> => {
      await this.ready;
      return command();
    };
    const result = this.commands.then(run, run);
    this.commands = result.catch(() => {});
    return result;
  }

  private send(answer: Answer, command: Record<string, unknown>): void {
    if (this.exit !== undefined || this.quitRequested) {
      answer.reject(this.exit?.error ?? closedError());
      return;
    }
    this.answer = answer;
    this.child.stdin.write(JSON.stringify(command) + "\n");
  }

  /** Hands the pending answer of `kind`, if any, to `settle`, and clears it. */
  private settle<K extends Answer["kind"]>(kind: K, settle: (answer: Extract<Answer, { kind: K }>) => void): void {
    const answer = this.answer;
    if (answer === undefined || answer.kind !== kind) return;
    this.answer = undefined;
    settle(answer as Extract<Answer, { kind: K }>);
  }

  // -- the tool's side ----------------------------------------------------------

  private readEvents(lines: string[]): void {
    for (const line of lines) {
      if (this.failure !== undefined) return; // the tool is being killed
      if (line.trim() === "") continue;
      let read: EventLine;
      try {
        read = parseEvent(line);
      } catch (error) {
        this.fail(error as TolvaSpeechError);
        return;
      }
      // An event this client does not know goes out under its own name only.
      if (read.event === undefined) this.tell(read.name, read.value);
      else this.file(read.event);
    }
  }

  /** Files one event where it is awaited, then tells the application. */
  private file(event: ListenEvent): void {
    switch (event.event) {
      case "ready":
        this.isReady = true;
        clearTimeout(this.readyTimer);
        this.settleReady.resolve(event);
        break;
      case "error":
        this.fileError(event);
        break;
      case "session-started": {
        const session = this.sessionFor(event.session, event);
        if (session) this.settle("start", (answer) => answer.resolve(session));
        break;
      }
      case "session-ended": {
        const session = this.sessionFor(event.session);
        session?.deliver(event);
        this.sessions.delete(event.session);
        if (this.current === session) this.current = undefined;
        if (session && this.answer?.kind === "stop" && this.answer.session === session) {
          this.settle("stop", (answer) => answer.resolve(event));
        }
        break;
      }
      default:
        this.sessionFor(event.session)?.deliver(event);
    }
    for (const queue of this.iterators) queue.push(event);
    this.tell("event", event);
    this.tell(event.event === "error" ? (event.session === undefined ? "command-error" : "session-error") : event.event,
      event);
  }

  /** Emits to the application's handlers. One that throws must not leave the
   * rest of the tool's output unread: its error is rethrown on its own tick,
   * where it is as uncaught as in any other handler. */
  private tell(name: string, ...args: unknown[]): void {
    try {
      this.emit(name, ...args);
    } catch (error) {
      process.nextTick(() => {
        throw error;
      });
    }
  }

  private fileError(event: ErrorEvent): void {
    const error = new TolvaSpeechError(event.code, event.message ?? "");
    if (event.session !== undefined) {
      const known = this.sessions.has(event.session);
      const session = this.sessionFor(event.session);
      session?.deliver(event);
      // A session that fails before session-started answers its start.
      if (session && !known) this.settle("start", (answer) => answer.reject(error));
      return;
    }
    if (!this.isReady) {
      this.failure ??= error; // an error before ready ("unavailable"): the tool exits
      return;
    }
    // stop's answer is "no-session"; any other refusal answers a start. A
    // "no-session" while a start waits is the late answer to a stop whose
    // session had already ended by itself.
    if (event.code === NO_SESSION) this.settle("stop", (answer) => answer.reject(error));
    else this.settle("start", (answer) => answer.reject(error));
  }

  /** The running session numbered `number`, made on its first event; none
   * for a late event of a session that has ended. */
  private sessionFor(number: number, started?: SessionStartedEvent): Session | undefined {
    const running = this.sessions.get(number);
    if (running !== undefined || number <= this.newest) return running;
    const session = new Session(number, started, (options) => this.stop(options));
    this.newest = number;
    this.sessions.set(number, session);
    this.current = session;
    return session;
  }

  private fail(error: TolvaSpeechError): void {
    this.failure ??= error;
    this.settleReady.reject(this.failure);
    this.child.kill("SIGKILL");
  }

  private closed(status: ExitStatus): void {
    if (this.exit !== undefined) return;
    clearTimeout(this.readyTimer);
    for (const timer of this.timers) clearTimeout(timer);
    const error = this.failure ?? (this.quitRequested ? undefined : exitError(status, this.log.tail()));
    this.exit = error === undefined ? { ...status } : { ...status, error };
    const pending = error ?? closedError();
    this.settleReady.reject(pending);
    const answer = this.answer;
    this.answer = undefined;
    answer?.reject(pending);
    for (const session of this.sessions.values()) session.abandon(pending, error === undefined);
    this.sessions.clear();
    for (const queue of this.iterators) {
      if (error) queue.fail(error);
      else queue.end();
    }
    this.iterators.clear();
    this.settleExited(this.exit);
    this.tell("close", this.exit);
  }
}

function closedError(): TolvaSpeechError {
  return new TolvaSpeechError("closed", "the listener was closed");
}
