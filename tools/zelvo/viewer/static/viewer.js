// The page of `zelvo view`: receives frames on the WebSocket, draws the newest one per
// display refresh (older undrawn ones are skipped), and sends control changes.
import {createCloud} from "./cloud.js";
import {paintFrame} from "./images.js";
import {decode} from "./protocol.js";

const PING_INTERVAL_MS = 1000;
const STATS_INTERVAL_MS = 500;
const RECONNECT_MS = 1000;
const RATE_WINDOW_MS = 2000;

// Everything the page knows, also for whoever inspects it (the tests read it).
const state = {
  connected: false, meta: null, controls: {}, choices: {}, status: null,
  received: 0, drawn: 0, dropped: 0, lastSequence: null,
  cameraRate: 0, shownRate: 0, latencyMs: null, rttMs: null,
  lastFrame: null, cloud: "loading", results: [],
};
window.zelvoViewer = state;

const $ = (id) => document.getElementById(id);
const depthCanvas = $("depth");
const amplitudeCanvas = $("amplitude");
const depthContext = depthCanvas.getContext("2d");
const amplitudeContext = amplitudeCanvas.getContext("2d");
let depthImage = null;
let amplitudeImage = null;
let rays = null;
let pending = null;  // the newest frame not drawn yet, with its arrival time
let drawQueued = false;
const drawTimes = [];
let socket = null;
let cloud = null;

createCloud($("cloud"), $("cloud-note")).then((made) => {
  cloud = made;
  state.cloud = made ? "ready" : "unavailable";
});
$("reset-view").addEventListener("click", () => cloud && cloud.resetView());

function connect() {
  const url = new URL("ws", window.location.href);
  url.protocol = url.protocol === "https:" ? "wss:" : "ws:";
  socket = new WebSocket(url);
  socket.binaryType = "arraybuffer";
  socket.onopen = () => setConnected(true);
  socket.onclose = () => {
    setConnected(false);
    setTimeout(connect, RECONNECT_MS);
  };
  socket.onmessage = (event) => {
    if (typeof event.data === "string") onText(JSON.parse(event.data));
    else onBinary(event.data);
  };
}

function send(record) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(record));
}

function setConnected(connected) {
  state.connected = connected;
  const label = $("connection");
  label.textContent = connected ? "connected" : "not connected";
  label.className = connected ? "good" : "bad";
}

function onText(message) {
  switch (message.type) {
    case "hello":
      state.meta = message.meta;
      state.choices = message.choices;
      showCamera(message.meta);
      buildControls(message.controls, message.choices);
      showStatus(message.status);
      break;
    case "controls":
      showControls(message.controls);
      break;
    case "result":
      state.results.push(message);
      $("control-result").textContent = message.text;
      $("control-result").className = message.ok ? "good" : "bad";
      break;
    case "status":
      showStatus(message.text);
      break;
    case "pong":
      state.rttMs = performance.now() - message.t;
      break;
  }
}

function onBinary(buffer) {
  const message = decode(buffer);
  if (!message) return;
  if (message.kind === "rays") {
    rays = message;
    return;
  }
  state.received++;
  if (state.lastSequence !== null && message.sequence > state.lastSequence + 1)
    state.dropped += message.sequence - state.lastSequence - 1;
  state.lastSequence = message.sequence;
  state.cameraRate = message.cameraRate;
  showStatus(null);
  pending = {frame: message, arrived: performance.now()};
  if (!drawQueued) {
    drawQueued = true;
    requestAnimationFrame(draw);
  }
}

function draw() {
  drawQueued = false;
  if (!pending) return;
  const {frame, arrived} = pending;
  pending = null;
  if (!depthImage || depthImage.width !== frame.width || depthImage.height !== frame.height) {
    for (const canvas of [depthCanvas, amplitudeCanvas]) {
      canvas.width = frame.width;
      canvas.height = frame.height;
    }
    depthImage = depthContext.createImageData(frame.width, frame.height);
    amplitudeImage = amplitudeContext.createImageData(frame.width, frame.height);
  }
  const raysFit = rays && rays.width === frame.width && rays.height === frame.height;
  const buffers = cloud && raysFit ? cloud.buffers(frame.width * frame.height) : null;
  const painted = paintFrame(frame, depthImage, amplitudeImage, buffers,
                             raysFit ? rays.rays : null, $("cloud-colour").value);
  depthContext.putImageData(depthImage, 0, 0);
  amplitudeContext.putImageData(amplitudeImage, 0, 0);
  if (buffers) cloud.update(painted.points, painted.meanDepth);
  const now = performance.now();
  state.drawn++;
  state.lastFrame = {width: frame.width, height: frame.height, sequence: frame.sequence,
                     rangeMm: frame.rangeMm, validPixels: painted.points,
                     maxDepthMm: painted.maxDepth, meanDepthMm: painted.meanDepth,
                     cloudPoints: buffers ? painted.points : 0};
  // Capture to encoding (server), the way to the page (half the round trip), and drawing.
  state.latencyMs = frame.ageMs === null ? null
      : frame.ageMs + (state.rttMs || 0) / 2 + (now - arrived);
  $("depth-scale").textContent = `0 – ${Math.round(frame.rangeMm)} mm`;
  $("amplitude-scale").textContent = `0 – ${Math.round(frame.amplitudeLevel)}`;
  drawTimes.push(now);
  send({type: "drawn", sequence: frame.sequence});  // lets the server send the next frame
}

function showCamera(meta) {
  const mode = meta.mode ? `, ${meta.mode} frequency` : "";
  $("camera").textContent =
      `${meta.device_type} over ${meta.connection}, ${meta.width} × ${meta.height}${mode} · ` +
      meta.board;
}

function showStatus(text) {
  if (text === state.status) return;
  state.status = text;
  $("status").hidden = !text;
  $("status").textContent = text || "";
}

function buildControls(controls, choices) {
  const body = $("controls").tBodies[0];
  body.replaceChildren();
  for (const name of Object.keys(controls)) {
    const row = body.insertRow();
    row.insertCell().textContent = name;
    const value = row.insertCell();
    value.className = "value";
    value.id = `value-${name}`;
    let input;
    if (choices[name]) {
      input = document.createElement("select");
      for (const [label, number] of Object.entries(choices[name]))
        input.add(new Option(label, number));
    } else {
      input = document.createElement("input");
      input.type = "number";
      input.step = "1";
    }
    input.id = `control-${name}`;
    const button = document.createElement("button");
    button.type = "button";
    button.id = `set-${name}`;
    button.textContent = "Set";
    const set = () => {
      const number = Number(input.value);
      if (input.value === "" || !Number.isInteger(number)) {
        $("control-result").textContent = `${name}: a whole number, please`;
        $("control-result").className = "bad";
        return;
      }
      send({type: "set", control: name, value: number});
    };
    button.addEventListener("click", set);
    input.addEventListener("keydown", (event) => event.key === "Enter" && set());
    row.insertCell().appendChild(input);
    row.insertCell().appendChild(button);
  }
  showControls(controls, true);
}

function showControls(controls, fillInputs = false) {
  state.controls = controls;
  for (const [name, number] of Object.entries(controls)) {
    const cell = $(`value-${name}`);
    if (!cell) continue;
    cell.textContent = String(number);  // a control with named values names it in its list
    if (fillInputs) $(`control-${name}`).value = String(number);
  }
}

function showStats() {
  const now = performance.now();
  while (drawTimes.length && drawTimes[0] < now - RATE_WINDOW_MS) drawTimes.shift();
  state.shownRate = drawTimes.length > 1
      ? (drawTimes.length - 1) * 1000 / (drawTimes[drawTimes.length - 1] - drawTimes[0]) : 0;
  $("camera-rate").textContent = `${state.cameraRate.toFixed(1)} frames/s`;
  $("shown-rate").textContent = `${state.shownRate.toFixed(1)} frames/s`;
  $("latency").textContent = state.latencyMs === null ? "–"
      : `${state.latencyMs.toFixed(0)} ms`;
  $("dropped").textContent = String(state.dropped);
  $("frames").textContent = String(state.drawn);
}

setInterval(() => send({type: "ping", t: performance.now()}), PING_INTERVAL_MS);
setInterval(showStats, STATS_INTERVAL_MS);
connect();
