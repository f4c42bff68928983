#!/usr/bin/env node
// A dictation page: a small web server on 127.0.0.1 that runs tolva-speech
// listen through the Node client and streams its events to the page with
// Server-Sent Events. Only the standard library's http and the client.
//
// usage: node server.js [--port 8080] [--locale en-US] [--replay FILE] [--tool PATH]
//
// Without --replay the session listens to the default microphone; with it,
// every session plays FILE in real time instead.
import { readFile } from "node:fs/promises";
import { createServer } from "node:http";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { parseArgs } from "node:util";

import { Listener, TolvaSpeechError } from "../../clients/node/dist/index.js";

const here = dirname(fileURLToPath(import.meta.url));
const { values: options } = parseArgs({
  options: {
    port: { type: "string", default: "8080" },
    locale: { type: "string", default: "en-US" },
    replay: { type: "string" },
    tool: { type: "string" },
  },
});
const replay = options.replay === undefined ? undefined : resolve(options.replay);

const files = {
  "/": ["index.html", "text/html; charset=utf-8"],
  "/app.js": ["app.js", "text/javascript; charset=utf-8"],
  "/style.css": ["style.css", "text/css; charset=utf-8"],
};

// -- the page's event stream --------------------------------------------------

const pages = new Set();
let state = { running: false, mode: replay ? "replay" : "mic", locale: options.locale };

function send(response, name, data) {
  response.write(`event: ${name}\ndata: ${JSON.stringify(data)}\n\n`);
}

function broadcast(name, data) {
  for (const page of pages) send(page, name, data);
}

function setState(changes) {
  state = { ...state, ...changes };
  broadcast("state", state);
}

// -- the tool -----------------------------------------------------------------

let listener;

/** The running listener, started anew when the last one has ended. */
function currentListener() {
  if (listener && listener.exitStatus === undefined) return listener;
  listener = new Listener({ tool: options.tool });
  // The state follows the events in their order: a session that fails at
  // once has ended before start() resolves.
  listener.on("session-started", (event) => setState({ running: true, session: event.session, mode: event.mode }));
  for (const name of ["capture-started", "volatile", "final", "session-error"]) {
    listener.on(name, (event) => broadcast(name, event));
  }
  listener.on("session-ended", (event) => {
    broadcast("session-ended", event);
    setState({ running: false });
  });
  listener.on("close", (exit) => {
    if (exit.error) broadcast("failure", { code: exit.error.code, message: exit.error.message, detail: exit.error.detail });
    setState({ running: false });
  });
  return listener;
}

function errorAnswer(error) {
  if (error instanceof TolvaSpeechError) return { code: error.code, message: error.message, detail: error.detail };
  return { code: "internal", message: String(error) };
}

async function start() {
  const session = await currentListener().start({ locale: options.locale, replay });
  return { session: session.number, mode: session.mode, locale: session.locale };
}

async function stop() {
  const ended = await currentListener().stop({ timeout: 10000 });
  return { session: ended.session };
}

// -- http -----------------------------------------------------------------------

async function answer(response, action) {
  try {
    const body = await action();
    response.writeHead(200, { "content-type": "application/json" }).end(JSON.stringify(body));
  } catch (error) {
    const status = error instanceof TolvaSpeechError && error.code !== "crashed" ? 409 : 500;
    response.writeHead(status, { "content-type": "application/json" }).end(JSON.stringify(errorAnswer(error)));
  }
}

function events(request, response) {
  response.writeHead(200, { "content-type": "text/event-stream", "cache-control": "no-store", "connection": "keep-alive" });
  pages.add(response);
  send(response, "state", state);
  request.on("close", () => pages.delete(response));
}

async function serveFile(response, [name, type]) {
  const body = await readFile(join(here, "public", name));
  response.writeHead(200, { "content-type": type, "cache-control": "no-store" }).end(body);
}

const server = createServer((request, response) => {
  const path = new URL(request.url, "http://localhost").pathname;
  if (request.method === "GET" && path === "/events") return events(request, response);
  if (request.method === "POST" && path === "/start") return answer(response, start);
  if (request.method === "POST" && path === "/stop") return answer(response, stop);
  if (request.method === "GET" && files[path]) {
    return serveFile(response, files[path]).catch((error) => response.writeHead(500).end(String(error)));
  }
  response.writeHead(404, { "content-type": "text/plain" }).end("not found\n");
});

server.listen(Number(options.port), "127.0.0.1", () => {
  console.log(`dictation page on http://127.0.0.1:${server.address().port}/`);
});

async function shutDown() {
  for (const page of pages) page.end();
  server.close();
  if (listener) await listener.quit();
  process.exit(0);
}
process.on("SIGINT", shutDown);
process.on("SIGTERM", shutDown);
