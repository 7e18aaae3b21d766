// The page: controls, files, the worker that runs the engine, the picture
// and the downloads.
//
// document.body.dataset tells what the page is doing, for people's tools and
// the tests: state is "loading", "working", "done" (a stereogram shown) or
// "error" (a message shown); settled counts the times the page became idle;
// sha256 is the hash of the TARGA file that the download gives; engineMs
// and totalMs time the last stereogram (in the engine, and from the request
// to the picture on screen).
//
// ?demo makes the bundled case; ?src=URL&args=OPTIONS an image of this site
// with command-line options (startSource).
//
// The options are the command line's: the page keeps each as the text the
// command line would hold for it (a "slot": "" when absent, ">" for a flag
// that is set or an empty value, else the value as typed), and the engine
// reads them as the command line does. Their controls are made from the
// engine's option table; each carries the option's name in data-option.
import { splitArgs, colourToHex, hexToColour } from './options.js';

const $ = (id) => document.getElementById(id);
const body = document.body;
// The picture's canvas is drawn by the worker (an OffscreenCanvas); a new
// worker gets a new canvas.
let canvas = $('stereogram');
let pictureSize = { width: 0, height: 0 };

let table = null;         // the engine's option table (rdsgen_web_options)
let slots = [];           // the slot texts, by the engine's slot numbers
let tableArrived = null;  // resolves the wait for the table
let parsedArrived = null; // resolves the wait for a command line's reading
// The images the worker holds (name and file as a Blob), kept to hand them
// to a new worker after a failure; and those sent to it and not answered yet.
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

// --- State and messages -------------------------------------------------------

function showMessage(text) {
  $('message').textContent = text;
  body.dataset.message = text;
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
  // A command line being read when the worker failed is not read: the demo
  // that waits for it stops there, with the message shown.
  if (parsedArrived) parsedArrived(null);
  parsedArrived = null;
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
      body.dataset.engine = message.engine;
      if (tableArrived) tableArrived(message.table);
      tableArrived = null;
      return;
    case 'parsed':
      // The page goes on with the images: it does not become idle here.
      --outstanding;
      if (parsedArrived) parsedArrived(message);
      parsedArrived = null;
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

// The file goes as a Blob: the worker reads it without a copy made here.
function sendImage(slot, image, again = false) {
  pendingImages[slot] = image;
  post({ type: 'image', slot, blob: image.blob, slots: [...slots], check: slot === 0 && !again });
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
  const format = message.browserOnly ? `${message.format}, read by the browser; the command line does not read it` : message.format;
  info.textContent = `${image.name}: ${message.width} x ${message.height}, ${message.kind} (${format})`;
  if (slot === 1) {
    const control = patternControl();
    if (control.value !== 'image') slots[Number(control.dataset.slot)] = '0';
    control.value = 'image';
    updateStretchState();
  }
  if (images[0] && !image.restored) requestRender();
}

function readFile(slot, file) {
  if (!file) return;
  showMessage('');
  sendImage(slot, { name: file.name, blob: file });
}

// A file of the site as a Blob; null, with the message shown, when it
// cannot be had.
async function fetchBlob(url, name) {
  try {
    const response = await fetch(url);
    if (!response.ok) throw new Error(`HTTP status ${response.status}`);
    return await response.blob();
  } catch (error) {
    showMessage(`${name} could not be loaded (${error.message}).`);
    lastOutcomeOk = false;
    becomeIdleIfDone();
    return null;
  }
}

async function fetchImage(slot, url, name) {
  const blob = await fetchBlob(url, name);
  if (blob) sendImage(slot, { name, blob });
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
  clearTimeout(progressTimer);
  progressTimer = setTimeout(() => { $('progress').hidden = false; }, 200);
  $('progress').value = 0;
  post({ type: 'render', slots: [...slots] });
}

function showPicture(message) {
  const { width, height } = message;
  pictureSize = { width, height };
  sizeCanvas();
  showNotes(message.warnings);
  $('result-info').textContent = `${width} x ${height} pixels, seed ${message.seed}`;
  body.dataset.engineMs = message.engineMs.toFixed(1);
  body.dataset.totalMs = (performance.now() - requestedAt).toFixed(1);
}

function showResult(message) {
  if (!message.ok) {
    lastOutcomeOk = false;
    showMessage(message.message);
    if (message.warnings) showNotes(message.warnings);
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

// The options of the table of one kind (help requests have no control).
function optionsOfKind(kind) {
  return table.options.filter((option) => option.kind === kind);
}

function element(tag, properties = {}, children = []) {
  const made = Object.assign(document.createElement(tag), properties);
  made.append(...children);
  return made;
}

function labelled(text, control, after = false) {
  return element('label', {}, after ? [control, ` ${text}`] : [`${text} `, control]);
}

// A control of an option: its name, slot and help text go with it.
function optionControl(tag, option, properties) {
  const control = element(tag, { id: option.name, title: option.help, ...properties });
  control.dataset.option = option.name;
  control.dataset.slot = String(option.slot);
  return control;
}

function choiceElements(values) {
  return values.map(([value, text]) => element('option', { value: String(value), textContent: text }));
}

function patternControl() {
  return document.querySelector('[data-kind="pattern"]');
}

function stretchOption() {
  return optionsOfKind('letters')[0];
}

function seedControl() {
  return document.querySelector('[data-kind="seed"]');
}

// Makes the controls of every option of the table. Number options that
// share a name (a value in one of several units) become one number field
// and a unit choice.
function makeControls() {
  for (const option of optionsOfKind('pattern')) {
    const select = optionControl('select', option);
    select.append(...choiceElements([
      ...table.patternTypes.map((type) => [type.number, `${type.number}: ${type.name}`]),
      ['image', 'Pattern image'],
    ]));
    select.value = option.default;
    $('pattern-control').append(labelled(option.label, select));
  }

  const numbers = optionsOfKind('number');
  const names = [...new Set(numbers.map((option) => option.name))];
  for (const name of names) {
    const group = numbers.filter((option) => option.name === name);
    const [first] = group;
    if (group.length === 1) {
      const input = optionControl('input', first, { type: 'number', step: 1, inputMode: 'numeric', value: first.default });
      $('value-controls').append(labelled(first.label, input));
      continue;
    }
    // A value given in one of the units: empty until chosen (giving it is
    // not the same as its default), the default as placeholder.
    const input = optionControl('input', first, { type: 'number', step: 1, inputMode: 'numeric', placeholder: first.default });
    input.dataset.slot = '';
    input.dataset.units = `${name}Unit`;
    const unit = element('select', { id: `${name}Unit`, title: first.help });
    unit.append(...choiceElements(group.map((option) => [option.prefix, option.label])));
    group.forEach((option, k) => { unit.options[k].dataset.slot = String(option.slot); });
    unit.dataset.units = `${name}Unit`;
    $('width-control').append(labelled('Pattern width', input), labelled('in', unit));
  }

  for (const option of optionsOfKind('choice')) {
    const select = optionControl('select', option);
    select.append(...choiceElements(option.choices.map((text, k) => [option.low + k, `${option.low + k}: ${text}`])));
    select.value = option.default;
    $('value-controls').append(labelled(option.label, select));
  }

  for (const option of optionsOfKind('flag')) {
    const box = optionControl('input', option, { type: 'checkbox' });
    $('flag-controls').append(labelled(`${option.name}: ${option.label}`, box, true));
  }

  for (const option of optionsOfKind('colour')) {
    const input = optionControl('input', option, { type: 'color', value: colourToHex(Number(option.default)) });
    $('colour-controls').append(labelled(option.label, input, true));
  }

  for (const option of optionsOfKind('seed')) {
    const input = optionControl('input', option, { type: 'number', step: 1, inputMode: 'numeric' });
    $('seed-control').prepend(labelled(option.label, input));
  }

  const letters = stretchOption();
  if (letters) {
    const fieldset = $('stretch');
    fieldset.dataset.option = letters.name;
    fieldset.dataset.slot = String(letters.slot);
    fieldset.title = letters.help;
    fieldset.append(element('legend', { textContent: letters.label }));
    for (const { letter, label } of table.stretchLetters) {
      const box = element('input', { type: 'checkbox', checked: letters.default.includes(letter) });
      box.dataset.letter = letter;
      fieldset.append(labelled(`${letter}: ${label}`, box, true));
    }
  }
  for (const option of table.options) {
    for (const control of document.querySelectorAll(`[data-option][data-slot="${option.slot}"]`)) control.dataset.kind = option.kind;
  }
}

// The slot a number field with units writes: the unit chosen.
function unitSlot(input) {
  return Number($(input.dataset.units).selectedOptions[0].dataset.slot);
}

function stretchLetters() {
  const letters = [...document.querySelectorAll('#stretch input')]
    .filter((box) => box.checked).map((box) => box.dataset.letter).join('');
  if (letters === stretchOption().default) return '';
  return letters === '' ? '>' : letters;
}

function updateStretchState() {
  $('stretch').hidden = patternControl().value !== 'image';
}

// The controls show the slots as the engine read them (after a command
// line was read): state is the engine's answer (see rdsgen_web_slots).
function showSlots(state) {
  patternControl().value = state.patternImage ? 'image' : String(state.numbers[Number(patternControl().dataset.slot)]);
  for (const input of document.querySelectorAll('input[data-units]')) {
    const unit = $(input.dataset.units);
    const given = [...unit.options].filter((option) => slots[Number(option.dataset.slot)] !== '');
    const last = given[given.length - 1];
    if (last) unit.value = last.value;
    input.value = last ? String(state.numbers[Number(last.dataset.slot)]) : '';
  }
  for (const control of document.querySelectorAll('[data-kind="number"], [data-kind="choice"], [data-kind="seed"]')) {
    control.value = String(state.numbers[Number(control.dataset.slot)]);
  }
  for (const input of document.querySelectorAll('[data-kind="colour"]')) {
    input.value = colourToHex(state.numbers[Number(input.dataset.slot)]);
  }
  for (const box of document.querySelectorAll('[data-kind="flag"]')) box.checked = slots[Number(box.dataset.slot)] !== '';
  for (const box of document.querySelectorAll('#stretch input')) box.checked = state.stretch.includes(box.dataset.letter);
  updateStretchState();
}

function setSeed(value) {
  const control = seedControl();
  slots[Number(control.dataset.slot)] = value;
  control.value = value;
}

// Each control writes its slot, as the command line's option would.
function readControl(control) {
  if (control.closest('#stretch')) {
    slots[Number($('stretch').dataset.slot)] = stretchLetters();
    requestRender();
    return;
  }
  if (control.dataset.units) {
    const input = document.querySelector(`input[data-units="${control.dataset.units}"]`);
    const text = input.value.trim();
    for (const option of $(control.dataset.units).options) slots[Number(option.dataset.slot)] = '';
    slots[unitSlot(input)] = text;
    requestRender();
    return;
  }
  const slot = Number(control.dataset.slot);
  if (!control.dataset.option) return;
  switch (control.dataset.kind) {
    case 'pattern':
      slots[slot] = control.value === 'image' ? '0' : control.value;
      updateStretchState();
      break;
    case 'colour':
      slots[slot] = String(hexToColour(control.value));
      break;
    case 'flag':
      slots[slot] = control.checked ? '>' : '';
      break;
    case 'seed':
      if ((parseInt(control.value, 10) || 0) === 0) {
        setSeed(String(newSeed()));
      } else {
        slots[slot] = control.value.trim();
      }
      break;
    default:
      slots[slot] = control.value.trim();
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
    typing = setTimeout(() => readControl(target), 150);
  });
  form.addEventListener('change', (event) => {
    const target = event.target;
    if (target.type === 'number' || target.type === 'color') {
      clearTimeout(typing);
      readControl(target);
    } else if (target.type === 'file') {
      return;
    } else {
      readControl(target);
    }
  });
  $('new-seed').addEventListener('click', () => {
    setSeed(String(newSeed()));
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

// Reads command-line arguments in the engine, into the slots; shows the
// refusals. Null when the worker failed meanwhile.
async function readArgs(args) {
  const state = await new Promise((resolve) => {
    parsedArrived = resolve;
    post({ type: 'parse', args });
  });
  if (state === null) return null;
  slots = state.slots;
  if (state.refusals.length > 0) showMessage(state.refusals.join(' '));
  return state;
}

// ?demo: the bundled case (demo/height.tga with the options of demo/args.txt,
// then those of the "args" parameter), made at once.
async function startDemo(params) {
  const text = await (await fetch('demo/args.txt')).text();
  const args = splitArgs(text);
  if (params.get('args')) args.push(...splitArgs(params.get('args')));
  const state = await readArgs(args);
  if (state === null) return;
  showSlots(state);
  if (state.seed === 0) setSeed(String(newSeed()));
  if (state.patternImage) {
    // A pattern image of the demo folder, named as on the command line
    // (which adds .TGA to a name without a dot).
    const slot = Number(patternControl().dataset.slot);
    const name = slots[slot].includes('.') ? slots[slot] : `${slots[slot]}.TGA`;
    await fetchImage(1, `demo/${encodeURIComponent(name)}`, name);
    slots[slot] = name;
  }
  await fetchImage(0, 'demo/height.tga', 'height.tga');
}

// ?src=URL: that image (an address of this page's own site) with the
// options of the "args" parameter, made at once, as ?demo does. A pattern
// image the options name is looked for beside the image.
async function startSource(params) {
  const source = new URL(params.get('src'), location.href);
  const name = decodeURIComponent(source.pathname.split('/').pop() || 'image');
  if (source.origin !== location.origin) {
    showMessage(`${params.get('src')}: only images of this page's own site can be opened by address.`);
    lastOutcomeOk = false;
    becomeIdleIfDone();
    return;
  }
  const state = await readArgs(splitArgs(params.get('args') || ''));
  if (state === null) return;
  showSlots(state);
  if (state.seed === 0) setSeed(String(newSeed()));
  // Both files are fetched before either goes to the worker, so that the
  // page is not idle between them.
  let pattern = null;
  if (state.patternImage) {
    const slot = Number(patternControl().dataset.slot);
    const patternName = slots[slot].includes('.') ? slots[slot] : `${slots[slot]}.TGA`;
    const blob = await fetchBlob(new URL(encodeURIComponent(patternName), source).href, patternName);
    if (!blob) return;
    pattern = { name: patternName, blob };
    slots[slot] = patternName;
  }
  const blob = await fetchBlob(source.href, name);
  if (!blob) return;
  if (pattern) sendImage(1, pattern);
  sendImage(0, { name, blob });
}

async function start() {
  const tableReady = new Promise((resolve) => { tableArrived = resolve; });
  startWorker();
  table = await tableReady;
  slots = new Array(table.slotCount).fill('');
  makeControls();
  wireControls();
  const params = new URLSearchParams(location.search);
  if (params.has('demo')) {
    startDemo(params);
    return;
  }
  if (params.has('src')) {
    startSource(params);
    return;
  }
  setSeed(String(newSeed()));
  updateStretchState();
  fetchImage(0, 'examples/dome.tga', 'dome.tga');
}

start();
