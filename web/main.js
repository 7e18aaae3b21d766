// The page: controls, files, the worker that runs the engine, the picture
// and the downloads.
//
// document.body.dataset tells what the page is doing, for people's tools and
// the tests: state is "loading", "working", "done" (a stereogram shown) or
// "error" (a message shown); settled counts the times the page became idle;
// sha256 is the hash of the TARGA file that the download gives; engineMs
// and totalMs time the last stereogram (in the engine, and from the request
// to the picture on screen).
import {
  emptySlots, parseArgs, splitArgs, engineOptions, engineSeed, readDecimal, namesPatternImage,
  stretchFlags, colourToHex, hexToColour, DEFAULT_COLOURS, FLAGS, warningTexts,
} from './options.js';

const $ = (id) => document.getElementById(id);
const body = document.body;
// The picture's canvas is drawn by the worker (an OffscreenCanvas); a new
// worker gets a new canvas.
let canvas = $('stereogram');
let pictureSize = { width: 0, height: 0 };

const slots = emptySlots();
// The images the worker holds (name and file bytes), kept to hand them to a
// new worker after a failure; and those sent to it and not answered yet.
const images = [null, null];
const pendingImages = [null, null];

let worker = null;
let outstanding = 0;     // messages sent to the worker and not answered yet
let renderWanted = false;
let renderInFlight = false;
let requestedAt = 0;
let lastOutcomeOk = false;
let result = null;       // the last stereogram's file: {tga, sha256}
let settled = 0;
let progressTimer = 0;
let restarts = 0;        // worker failures since the last answer that was not one
let shownSeed = 0;

// --- State and messages -------------------------------------------------------

function showMessage(text) {
  $('message').textContent = text;
}

function showNotes(texts) {
  $('notes').textContent = texts.join(' ');
}

function becomeIdleIfDone() {
  if (outstanding > 0 || renderWanted) return;
  clearTimeout(progressTimer);
  $('progress').hidden = true;
  body.dataset.state = lastOutcomeOk && result ? 'done' : 'error';
  body.dataset.settled = String(++settled);
}

function post(message, transfer = []) {
  ++outstanding;
  body.dataset.state = 'working';
  worker.postMessage(message, transfer);
}

// --- The worker -------------------------------------------------------------

function startWorker() {
  worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
  if (canvas.dataset.transferred) {
    const fresh = canvas.cloneNode(false);
    canvas.replaceWith(fresh);
    canvas = fresh;
  }
  canvas.dataset.transferred = 'yes';
  const offscreen = canvas.transferControlToOffscreen();
  worker.postMessage({ type: 'canvas', canvas: offscreen }, [offscreen]);
  worker.onmessage = (event) => receive(event.data);
  worker.onerror = (event) => {
    event.preventDefault();
    restartWorker(`The engine stopped: ${event.message || 'unknown error'}`);
  };
}

// A worker that failed (the engine ran out of memory, say) is replaced, and
// the images it held are handed to the new one; the run that failed is not
// tried again until a control changes. A worker that keeps failing (one
// that cannot load the engine) is given up.
function restartWorker(text) {
  worker.terminate();
  outstanding = 0;
  renderInFlight = false;
  renderWanted = false;
  lastOutcomeOk = false;
  showMessage(text);
  if (++restarts > 2) {
    becomeIdleIfDone();
    return;
  }
  startWorker();
  for (const slot of [0, 1]) {
    if (images[slot]) sendImage(slot, { ...images[slot], restored: true }, true);
  }
  becomeIdleIfDone();
}

function receive(message) {
  switch (message.type) {
    case 'ready':
      return;
    case 'progress':
      $('progress').value = message.total > 0 ? message.done / message.total : 0;
      return;
    case 'image':
      imageLoaded(message);
      break;
    case 'picture':
      showPicture(message);
      return;
    case 'png':
      if (message.blob) download(message.blob, `${baseName()}.png`);
      return;
    case 'result':
      renderInFlight = false;
      showResult(message);
      sendRenderIfWanted();
      break;
    case 'failed':
      restartWorker(message.message);
      return;
    default:
      return;
  }
  restarts = 0;
  --outstanding;
  becomeIdleIfDone();
}

// --- Images -----------------------------------------------------------------

function sendImage(slot, image, again = false) {
  pendingImages[slot] = image;
  const { options } = engineOptions(slots);
  const bytes = image.bytes.slice(0);
  post({ type: 'image', slot, bytes, options, check: slot === 0 && !again }, [bytes]);
}

function imageLoaded(message) {
  const slot = message.slot;
  const info = $(slot === 0 ? 'height-info' : 'pattern-info');
  const image = pendingImages[slot];
  if (!message.ok) {
    lastOutcomeOk = false;
    showMessage(`${image.name}: ${message.message}`);
    return;
  }
  images[slot] = image;
  info.textContent = `${image.name}: ${message.width} x ${message.height}, ${message.kind} (${message.format})`;
  if (slot === 1) {
    if (!namesPatternImage(slots)) slots.PatT = '0';
    $('PatT').value = 'image';
    updateStretchState();
  }
  if (images[0] && !image.restored) requestRender();
}

async function readFile(slot, file) {
  if (!file) return;
  const bytes = await file.arrayBuffer();
  showMessage('');
  sendImage(slot, { name: file.name, bytes });
}

async function fetchImage(slot, url, name) {
  let bytes;
  try {
    const response = await fetch(url);
    if (!response.ok) throw new Error(`HTTP status ${response.status}`);
    bytes = await response.arrayBuffer();
  } catch (error) {
    showMessage(`${name} could not be loaded (${error.message}).`);
    lastOutcomeOk = false;
    becomeIdleIfDone();
    return;
  }
  sendImage(slot, { name, bytes });
}

function wireDrop(zone, slot) {
  zone.addEventListener('dragover', (event) => {
    event.preventDefault();
    zone.classList.add('over');
  });
  zone.addEventListener('dragleave', () => zone.classList.remove('over'));
  zone.addEventListener('drop', (event) => {
    event.preventDefault();
    event.stopPropagation();
    zone.classList.remove('over');
    readFile(slot, event.dataTransfer.files[0]);
  });
}

// --- Rendering --------------------------------------------------------------

function newSeed() {
  const [value] = crypto.getRandomValues(new Uint32Array(1));
  return value % 2147483646 + 1;
}

function requestRender() {
  if (!images[0]) return;
  if (!renderWanted) requestedAt = performance.now();
  renderWanted = true;
  sendRenderIfWanted();
}

// One run at a time; changes made meanwhile are taken together by the next.
function sendRenderIfWanted() {
  if (!renderWanted || renderInFlight) return;
  renderWanted = false;
  renderInFlight = true;
  const { options, seed, warnings } = engineOptions(slots);
  shownSeed = seed;
  showNotes(warnings);
  clearTimeout(progressTimer);
  progressTimer = setTimeout(() => { $('progress').hidden = false; }, 200);
  $('progress').value = 0;
  post({ type: 'render', options, seed: engineSeed(seed) });
}

function showPicture(message) {
  const { width, height } = message;
  pictureSize = { width, height };
  sizeCanvas();
  const notes = engineOptions(slots).warnings.concat(warningTexts(message.warnings));
  showNotes(notes);
  $('result-info').textContent = `${width} x ${height} pixels, seed ${shownSeed}`;
  body.dataset.engineMs = message.engineMs.toFixed(1);
  body.dataset.totalMs = (performance.now() - requestedAt).toFixed(1);
}

function showResult(message) {
  if (!message.ok) {
    lastOutcomeOk = false;
    showMessage(message.message);
    return;
  }
  lastOutcomeOk = true;
  showMessage('');
  result = { tga: message.tga, sha256: message.sha256 };
  $('download-png').disabled = false;
  $('download-tga').disabled = false;
  body.dataset.sha256 = message.sha256;
}

// One picture pixel on a whole number of screen pixels, close to its CSS size:
// scaling by any other factor would blur the dots.
function sizeCanvas() {
  const ratio = window.devicePixelRatio || 1;
  const factor = Math.max(1, Math.floor(ratio));
  canvas.style.width = `${(pictureSize.width * factor) / ratio}px`;
  canvas.style.height = `${(pictureSize.height * factor) / ratio}px`;
}

// --- Downloads --------------------------------------------------------------

function baseName() {
  const name = images[0] ? images[0].name : 'stereogram';
  return name.replace(/\.[^.]*$/, '') + '-stereogram';
}

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

// --- Controls ---------------------------------------------------------------

const NUMBER_SLOTS = ['PUse', 'Dens'];
const SELECT_SLOTS = ['PPos', 'FocP'];
const COLOUR_SLOTS = ['TopF', 'BotF', 'TopB', 'BotB'];

function stretchLetters() {
  const letters = [...document.querySelectorAll('#stretch input')]
    .filter((box) => box.checked).map((box) => box.dataset.letter).join('');
  if (letters === 'A') return '';
  return letters === '' ? '>' : letters;
}

function updateStretchState() {
  $('stretch').hidden = $('PatT').value !== 'image';
}

// The controls show the slots (after a command line was read).
function showSlots() {
  $('PatT').value = namesPatternImage(slots) ? 'image' : String(slots.PatT === '' ? 1 : readDecimal(slots.PatT));
  const stripes = slots.PSizS !== '';
  $('PSizUnit').value = stripes ? 'S' : 'P';
  const psiz = stripes ? slots.PSizS : slots.PSizP;
  $('PSiz').value = psiz === '' ? '' : String(readDecimal(psiz));
  for (const name of NUMBER_SLOTS) {
    $(name).value = slots[name] === '' ? $(name).defaultValue : String(readDecimal(slots[name]));
  }
  for (const name of SELECT_SLOTS) {
    if (slots[name] !== '') $(name).value = String(readDecimal(slots[name]));
  }
  for (const name of COLOUR_SLOTS) {
    $(name).value = colourToHex(slots[name] === '' ? DEFAULT_COLOURS[name] : readDecimal(slots[name]));
  }
  for (const name of FLAGS) $(name).checked = slots[name] !== '';
  const { flags } = stretchFlags(slots.Stret);
  for (const box of document.querySelectorAll('#stretch input')) box.checked = flags[box.dataset.letter] === 1;
  $('Rand').value = String(readDecimal(slots.Rand));
  updateStretchState();
}

// Each control writes its slot, as the command line's option would.
function readControl(id) {
  const value = id === 'PSiz' || id === 'PSizUnit' ? null : $(id)?.value;
  if (id === 'PatT') {
    slots.PatT = value === 'image' ? '0' : value;
    updateStretchState();
  } else if (id === 'PSiz' || id === 'PSizUnit') {
    const text = $('PSiz').value.trim();
    const stripes = $('PSizUnit').value === 'S';
    slots.PSizP = text !== '' && !stripes ? text : '';
    slots.PSizS = text !== '' && stripes ? text : '';
  } else if (NUMBER_SLOTS.includes(id) || SELECT_SLOTS.includes(id)) {
    slots[id] = value.trim();
  } else if (COLOUR_SLOTS.includes(id)) {
    slots[id] = String(hexToColour(value));
  } else if (FLAGS.includes(id)) {
    slots[id] = $(id).checked ? '>' : '';
  } else if (id === 'Rand') {
    if (readDecimal(value) === 0) {
      slots.Rand = String(newSeed());
      $('Rand').value = slots.Rand;
    } else {
      slots.Rand = value.trim();
    }
  } else if (id === 'stretch') {
    slots.Stret = stretchLetters();
  }
  requestRender();
}

function wireControls() {
  const form = $('controls');
  form.addEventListener('submit', (event) => event.preventDefault());
  let typing = 0;
  form.addEventListener('input', (event) => {
    const target = event.target;
    if (target.type !== 'number' && target.type !== 'color') return;
    clearTimeout(typing);
    typing = setTimeout(() => readControl(target.id), 150);
  });
  form.addEventListener('change', (event) => {
    const target = event.target;
    if (target.type === 'number' || target.type === 'color') {
      clearTimeout(typing);
      readControl(target.id);
    } else if (target.type === 'file') {
      return;
    } else {
      readControl(target.closest('#stretch') ? 'stretch' : target.id);
    }
  });
  $('new-seed').addEventListener('click', () => {
    slots.Rand = String(newSeed());
    $('Rand').value = slots.Rand;
    requestRender();
  });
  $('height-file').addEventListener('change', (event) => readFile(0, event.target.files[0]));
  $('pattern-file').addEventListener('change', (event) => readFile(1, event.target.files[0]));
  wireDrop($('height-drop'), 0);
  wireDrop($('pattern-drop'), 1);
  // A file dropped anywhere else is a height image too (rather than a page
  // the browser opens in place of this one).
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => {
    event.preventDefault();
    if (event.dataTransfer.files.length > 0) readFile(0, event.dataTransfer.files[0]);
  });
  for (const button of document.querySelectorAll('[data-example]')) {
    const name = button.dataset.example;
    button.addEventListener('click', () => fetchImage(0, `examples/${name}.tga`, `${name}.tga`));
  }
  $('download-tga').addEventListener('click', () => {
    if (result) download(new Blob([result.tga], { type: 'image/x-tga' }), `${baseName()}.tga`);
  });
  $('download-png').addEventListener('click', () => {
    if (result) worker.postMessage({ type: 'png' });
  });
  window.addEventListener('resize', sizeCanvas);
}

// --- Start ------------------------------------------------------------------

// ?demo: the bundled case (demo/height.tga with the options of demo/args.txt,
// then those of the "args" parameter), made at once.
async function startDemo(params) {
  const text = await (await fetch('demo/args.txt')).text();
  const errors = parseArgs(splitArgs(text), slots);
  if (params.get('args')) errors.push(...parseArgs(splitArgs(params.get('args')), slots));
  if (errors.length > 0) showMessage(errors.join(' '));
  if (readDecimal(slots.Rand) === 0) slots.Rand = String(newSeed());
  showSlots();
  if (namesPatternImage(slots)) {
    // A pattern image of the demo folder, named as on the command line
    // (which adds .TGA to a name without a dot).
    const name = slots.PatT.includes('.') ? slots.PatT : `${slots.PatT}.TGA`;
    await fetchImage(1, `demo/${encodeURIComponent(name)}`, name);
    slots.PatT = name;
  }
  await fetchImage(0, 'demo/height.tga', 'height.tga');
}

function start() {
  startWorker();
  wireControls();
  const params = new URLSearchParams(location.search);
  if (params.has('demo')) {
    startDemo(params);
    return;
  }
  slots.Rand = String(newSeed());
  showSlots();
  fetchImage(0, 'examples/dome.tga', 'dome.tga');
}

start();
