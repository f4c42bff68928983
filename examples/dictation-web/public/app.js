// The dictation page: shows the events the server streams. Provisional text
// is grey and redrawn in place; each final utterance is a black line of its
// own.
const toggle = document.getElementById("toggle");
const activity = document.getElementById("activity");
const activityText = document.getElementById("activity-text");
const errorBox = document.getElementById("error");
const finals = document.getElementById("finals");
const volatile = document.getElementById("volatile");

let running = false;
let mode = "mic";
let heardTimer;

/** A sentence a person can act on, for an error code and the tool's message. */
function explain({ code, message = "", detail }) {
  if (code === "locale-not-installed") {
    return `The speech model for this language is not installed. Install it with "tolva-speech install --locale <locale>" and try again. (${message})`;
  }
  if (code === "locale-unsupported" || code === "locale-not-regioned") return `This language cannot be used: ${message}`;
  if (mode === "mic") {
    if (/sound server/.test(message) && /connect|main loop/.test(message)) {
      return "No microphone: no sound server (PulseAudio or PipeWire) is running.";
    }
    if (/no default input source/.test(message)) return "No microphone: the sound server offers no input source.";
    if (code === "session-failed") return `The microphone cannot be opened: ${message}`;
    if (code === "capture-halted") return "The microphone went away during dictation.";
    if (code === "no-audio-captured") return "The microphone delivered no sound at all.";
  }
  if (code === "tool-not-found") return `tolva-speech cannot be found: ${message}`;
  if (code === "crashed") return `tolva-speech stopped unexpectedly: ${message}` + (detail ? ` (${detail})` : "");
  return `${code}: ${message}`;
}

function showError(error) {
  errorBox.textContent = explain(error);
  errorBox.hidden = false;
}

function clearError() {
  errorBox.hidden = true;
  errorBox.textContent = "";
}

function setActivity(state, text) {
  activity.dataset.state = state;
  activityText.textContent = text;
}

function showRunning(isRunning) {
  running = isRunning;
  toggle.disabled = false;
  toggle.textContent = running ? "Stop dictation" : "Start dictation";
  toggle.classList.toggle("stop", running);
  if (!running) setActivity("idle", "Idle");
}

/** Lights the activity dot for a moment: words are arriving. */
function flashHeard() {
  activity.classList.add("heard");
  clearTimeout(heardTimer);
  heardTimer = setTimeout(() => activity.classList.remove("heard"), 250);
}

async function post(path) {
  const response = await fetch(path, { method: "POST" });
  const body = await response.json();
  if (!response.ok) throw body;
  return body;
}

toggle.addEventListener("click", async () => {
  toggle.disabled = true;
  clearError();
  try {
    if (running) {
      setActivity("idle", "Finishing…");
      await post("/stop");
    } else {
      setActivity("starting", "Starting…");
      await post("/start"); // the server's state events turn the button into Stop
    }
  } catch (error) {
    showError(error);
    showRunning(running);
  }
});

const stream = new EventSource("/events");
const on = (name, handle) => stream.addEventListener(name, (message) => handle(JSON.parse(message.data)));

on("state", (state) => {
  mode = state.mode;
  showRunning(state.running);
});
on("capture-started", (event) => setActivity("listening", event.source === "mic" ? "Listening" : "Listening to a recording"));
on("volatile", (event) => {
  volatile.textContent = event.text.trim();
  flashHeard();
});
function commit(text) {
  volatile.textContent = "";
  if (text.trim() === "") return;
  const line = document.createElement("p");
  line.className = "final";
  line.textContent = text.trim();
  finals.append(line);
}

on("final", (event) => {
  if (event.empty) return; // the session had no final: its provisional words are all there is
  commit(event.text);
  flashHeard();
});
on("session-error", (event) => {
  if (event.code !== "finalize-timeout") showError(event);
});
on("session-ended", () => {
  // A recogniser forced down at the end leaves its last words provisional.
  commit(volatile.textContent);
  showRunning(false);
});
on("failure", showError);
stream.addEventListener("open", () => {
  if (errorBox.dataset.lost) clearError();
  delete errorBox.dataset.lost;
});
stream.addEventListener("error", () => {
  showError({ code: "disconnected", message: "the page lost its connection to the dictation server" });
  errorBox.dataset.lost = "1";
  toggle.disabled = true;
});
