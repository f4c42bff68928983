// Headless Chromium driven through the DevTools protocol on a pipe
// (--remote-debugging-pipe): commands go out on its fd 3 and answers come
// back on its fd 4, each message JSON ending in a NUL byte. No WebSocket and
// no library is needed.
import { spawn } from "node:child_process";

// The network is closed to the browser but for loopback: without these it
// keeps trying to reach update, sync and component servers.
const FLAGS = [
  "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
  "--disable-component-update", "--disable-sync", "--disable-default-apps", "--disable-extensions",
  "--mute-audio", "--remote-debugging-pipe",
];

export class Chromium {
  constructor(executable, userDataDir, width, height) {
    this.nextId = 1;
    this.waiting = new Map();
    this.pending = Buffer.alloc(0);
    this.stderr = "";
    this.process = spawn(executable, [...FLAGS, `--user-data-dir=${userDataDir}`, `--window-size=${width},${height}`,
      "about:blank"], { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"] });
    this.process.stderr.on("data", (chunk) => {
      this.stderr = (this.stderr + chunk).slice(-4000);
    });
    this.process.stdio[4].on("data", (chunk) => this.read(chunk));
    this.exited = new Promise((resolve) => this.process.on("close", resolve));
    this.exited.then(() => {
      for (const { reject } of this.waiting.values()) reject(new Error(`chromium exited: ${this.stderr}`));
      this.waiting.clear();
    });
  }

  /** Sends one command and resolves with its result. */
  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = JSON.stringify({ id, method, params, ...(sessionId ? { sessionId } : {}) });
    return new Promise((resolve, reject) => {
      this.waiting.set(id, { resolve, reject, method });
      this.process.stdio[3].write(message + "\0");
    });
  }

  /** Opens `url` in a new tab; resolves with a function that sends commands to it. */
  async open(url) {
    const { targetId } = await this.send("Target.createTarget", { url: "about:blank" });
    const { sessionId } = await this.send("Target.attachToTarget", { targetId, flatten: true });
    const page = (method, params) => this.send(method, params, sessionId);
    await page("Page.enable");
    await page("Page.navigate", { url });
    return page;
  }

  async close() {
    try {
      await Promise.race([this.send("Browser.close"), this.exited]);
    } catch {
      // it is going away either way
    }
    if (this.process.exitCode === null) this.process.kill("SIGKILL");
    await this.exited;
  }

  read(chunk) {
    this.pending = Buffer.concat([this.pending, chunk]);
    let end;
    while ((end = this.pending.indexOf(0)) >= 0) {
      const message = JSON.parse(this.pending.subarray(0, end).toString("utf8"));
      this.pending = this.pending.subarray(end + 1);
      const waiter = message.id === undefined ? undefined : this.waiting.get(message.id);
      if (!waiter) continue; // an event: nothing here subscribes to them
      this.waiting.delete(message.id);
      if (message.error) waiter.reject(new Error(`${waiter.method}: ${message.error.message}`));
      else waiter.resolve(message.result);
    }
  }
}

/** Evaluates `expression` in the page and resolves with its value. */
export async function evaluate(page, expression) {
  const { result, exceptionDetails } = await page("Runtime.evaluate",
    { expression, awaitPromise: true, returnByValue: true });
  if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.exception?.description ?? exceptionDetails.text}`);
  return result.value;
}
