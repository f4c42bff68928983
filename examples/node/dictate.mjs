// Dictates from the microphone until Ctrl-C: node dictate.mjs
import { Listener } from "tolva-speech";

const listener = new Listener();
const line = (text, end = "") => process.stdout.write(`\r\x1b[K${text.trim()}${end}`);
listener.on("volatile", (event) => line(`\x1b[2m${event.text.trim()}\x1b[0m`)); // provisional, redrawn in place
listener.on("final", (event) => line(event.text, event.empty ? "" : "\n")); // settled: a line of its own
listener.on("session-error", (event) => console.error(`\n${event.code}: ${event.message}`));
process.on("SIGINT", () => listener.quit()); // the session ends first and its last words still come
try {
  await listener.start({ locale: "en-US" });
} catch (error) {
  console.error(`${error}`); // e.g. locale-not-installed
  await listener.quit();
}
