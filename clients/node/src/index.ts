/**
 * A Node client for tolva-speech, on-device speech-to-text on Linux.
 *
 * One-shot commands resolve with the tool's documents:
 *
 *     const result = await transcribe("talk.wav", { onProgress: (f) => console.log(f) });
 *
 * Live dictation runs `tolva-speech listen` through a Listener:
 *
 *     const listener = new Listener();
 *     listener.on("final", (event) => console.log(event.text));
 *     await listener.start({ locale: "en-US" });
 *
 * The tool is found through the `tool` option, else the TOLVA_SPEECH
 * environment variable, else PATH. Every failure is a TolvaSpeechError.
 * Run the tool from Electron's main process, not from a renderer.
 */
export { devices, install, probe, release, transcribe, transcribeText } from "./commands.js";
export type {
  CommandOptions, InstallOptions, ProbeOptions, ProgressHandler, TextFormat, TranscribeOptions,
} from "./commands.js";
export type {
  AssetStatus, CaptureSource, Devices, Install, Probe, Release, Segment, Transcript, Word,
} from "./documents.js";
export { TolvaSpeechError } from "./errors.js";
export type {
  CaptureStartedEvent, ErrorEvent, FinalEvent, ListenEvent, ReadyEvent, SessionEndedEvent, SessionEvent,
  SessionStartedEvent, VolatileEvent,
} from "./events.js";
export { Listener } from "./listener.js";
export type { ListenerEvents, ListenerExit, ListenerOptions, StartOptions } from "./listener.js";
export type { LogEntry, LogHandler } from "./log.js";
export { runDocument, runText } from "./run.js";
export type { RunOptions } from "./run.js";
export { Session } from "./session.js";
export type { StopOptions } from "./session.js";
export { findTool } from "./tool.js";
export type { ExitStatus, TextStyle } from "./tool.js";
