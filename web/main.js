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
import { makeShape, makeText, greyTarga, looksLikeTarga, browserFormat, targaToRgba } from './heights.js';
import { fitWidth, pixelFactor } from './view.js';

const $ = (id) => document.getElementById(id);
const body = document.body;
// The picture's canvas is drawn by the worker (an OffscreenCanvas); a new
// worker gets a new canvas.
let canvas = $('stereogram');
let pictureSize = { width: 0, height: 0 };
// The canvas's size and the view it was drawn for (see drawView in
// worker.js): screen pixels per picture pixel, and the device pixel ratio.
let canvasPixels = { width: 0, height: 0 };
let shownView = { factor: 1, ratio: 1 };

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
let crossEyed = false;   // the viewing switch: cross-eyed inverts the heights
let outputSize = '';     // the output-size choice: '', 'fit' or a width
let lastPicture = null;  // {width, height, inputWidth} of the picture shown
// The single-file page carries its files and worker itself (see
// single-file.mjs): a map of names to base64 texts, and a worker address.
const inlineFiles = window.rdsgenInline ? window.rdsgenInline.files : null;

// --- State and messages -------------------------------------------------------

function showMessage(text) {
  $('message').textContent = text;
  body.dataset.message = text;
  alignCanvas();
}

// After an error the old picture and its downloads go: they are no longer
// what the controls show.
function clearPicture() {
  result = null;
  lastPicture = null;
  delete body.dataset.sha256;
  canvas.hidden = true;
  $('result-info').textContent = '';
  for (const id of ['download-png', 'download-tga', 'full-screen']) $(id).disabled = true;
}

function showError(text) {
  lastOutcomeOk = false;
  showMessage(text);
  clearPicture();
}

function showNotes(texts) {
  $('notes').textContent = texts.join(' ');
  alignCanvas();
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
  const address = window.rdsgenInline ? window.rdsgenInline.worker : new URL('./worker.js', import.meta.url);
  worker = new Worker(address, { type: 'module' });
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
  showError(text);
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
    case 'viewed':
      canvasPixels = { width: message.width, height: message.height };
      sizeCanvas();
      if (document.fullscreenElement) requestAnimationFrame(centrePicture);
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
    showError(`${image.name}: ${message.message}`);
    return;
  }
  images[slot] = { ...image, width: message.width };
  if (slot === 0 && !image.restored) showPreview(image);
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

// Files that are neither an image the browser decodes nor a TARGA file are
// refused here, with what they are not: the engine would read them as a
// TARGA file of some odd type.
async function readFile(slot, file) {
  if (!file) return;
  const start = new Uint8Array(await file.slice(0, 18).arrayBuffer());
  if (browserFormat(start) === null && !looksLikeTarga(start)) {
    showError(`${file.name} is not a PNG, JPEG or TARGA image.`);
    if (slot === 0) $('preview').hidden = true;
    becomeIdleIfDone();
    return;
  }
  showMessage('');
  sendImage(slot, { name: file.name, blob: file });
}

// A file of the page: from the server, or from the single file's own.
async function fetchBytes(url) {
  if (inlineFiles) {
    if (!(url in inlineFiles)) throw new Error('not in this page');
    return Uint8Array.from(atob(inlineFiles[url]), (c) => c.charCodeAt(0)).buffer;
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`HTTP status ${response.status}`);
  return response.arrayBuffer();
}

// A height image made in the page (a shape or text), handed to the engine
// as a grey TARGA file.
function sendMadeImage(image, name) {
  showMessage('');
  sendImage(0, { name, blob: new Blob([greyTarga(image)]), made: image });
}

// A file of the site as a Blob; null, with the message shown, when it
// cannot be had.
async function fetchBlob(url, name) {
  try {
    return new Blob([await fetchBytes(url)]);
  } catch (error) {
    showError(`${name} could not be loaded (${error.message}).`);
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
  shownView = currentView();
  watchRatio(shownView.ratio);
  post({ type: 'render', slots: [...slots], view: shownView });
}

function showPicture(message) {
  const { width, height } = message;
  pictureSize = { width, height };
  canvasPixels = { width: message.canvasWidth, height: message.canvasHeight };
  canvas.hidden = false;
  lastPicture = { width, height, inputWidth: inputWidth() };
  sizeCanvas();
  showNotes(message.warnings);
  $('result-info').textContent = `${width} x ${height} pixels, seed ${message.seed}`;
  body.dataset.engineMs = message.engineMs.toFixed(1);
  body.dataset.totalMs = (performance.now() - requestedAt).toFixed(1);
}

function showResult(message) {
  if (!message.ok) {
    showError(message.message);
    if (message.warnings) showNotes(message.warnings);
    return;
  }
  lastOutcomeOk = true;
  showMessage('');
  result = { tga: message.tga, sha256: message.sha256 };
  for (const id of ['download-png', 'download-tga', 'full-screen']) $(id).disabled = false;
  body.dataset.sha256 = message.sha256;
}

// One picture pixel on a whole number of screen pixels: the worker draws
// the canvas for the view (pixelFactor, padded by canvasSize), and its CSS
// size is exactly its size in screen pixels.
function currentView() {
  const ratio = window.devicePixelRatio || 1;
  return { factor: pixelFactor(ratio, document.fullscreenElement === $('picture')), ratio };
}

function sizeCanvas() {
  canvas.style.width = `${canvasPixels.width / shownView.ratio}px`;
  canvas.style.height = `${canvasPixels.height / shownView.ratio}px`;
  alignCanvas();
}

// A canvas that starts half-way between two screen pixels has each of its
// pixels painted on the border of two screen pixels, and which one gets it
// is left to rounding: such a start is moved by a quarter of a screen pixel.
function alignCanvas() {
  if (canvas.hidden || canvasPixels.width === 0) return;
  const ratio = window.devicePixelRatio || 1;
  const rect = canvas.getBoundingClientRect();
  const margin = (at, old) => {
    const start = (at - old) * ratio;
    const fraction = start - Math.floor(start);
    return Math.abs(fraction - 0.5) < 0.15 ? 0.25 / ratio : 0;
  };
  const left = parseFloat(canvas.style.marginLeft) || 0;
  const top = parseFloat(canvas.style.marginTop) || 0;
  canvas.style.marginLeft = `${margin(rect.left + window.scrollX + $('picture').scrollLeft, left)}px`;
  canvas.style.marginTop = `${margin(rect.top + window.scrollY + $('picture').scrollTop, top)}px`;
}

// A new ratio or the full-screen view has the worker draw the picture again.
function viewChanged() {
  const view = currentView();
  watchRatio(view.ratio);
  if (view.factor === shownView.factor && view.ratio === shownView.ratio) return;
  shownView = view;
  if (pictureSize.width > 0) worker.postMessage({ type: 'view', view });
}

// A change of the device pixel ratio (zoom, another screen) sizes the
// picture again; it is not always a resize of the window.
let ratioQuery = null;
function watchRatio(ratio) {
  if (ratioQuery && ratioQuery.ratio === ratio) return;
  if (ratioQuery) ratioQuery.list.removeEventListener('change', viewChanged);
  const list = window.matchMedia(`(resolution: ${ratio}dppx)`);
  list.addEventListener('change', viewChanged);
  ratioQuery = { ratio, list };
}

// The full-screen view shows the picture at one screen pixel per pixel,
// scrolled so that the focus marks (at the top, either side of the middle)
// and the middle of the picture are on screen.
function centrePicture() {
  const picture = $('picture');
  picture.scrollLeft = Math.max(0, (picture.scrollWidth - picture.clientWidth) / 2);
  picture.scrollTop = 0;
}

async function toggleFullScreen() {
  if (document.fullscreenElement) {
    await document.exitFullscreen();
  } else {
    await $('picture').requestFullscreen();
  }
}

// The height image's width in the last run: resampled or its own.
function inputWidth() {
  const role = roleOption('outputWidth');
  const given = role ? Number(slots[role.slot]) : 0;
  return given > 0 ? given : (images[0] ? images[0].width || 0 : 0);
}

// The output-size choice becomes the engine's resampling width: the one
// place that writes it.
function setOutputWidth(width) {
  const option = roleOption('outputWidth');
  if (!option) return false;
  slots[option.slot] = width > 0 ? String(width) : '';
  return true;
}

function chooseOutputSize() {
  outputSize = $('output-size').value;
  let width = Number(outputSize) || 0;
  if (outputSize === 'fit') {
    const doubled = roleOption('doubled');
    const cut = roleOption('cutToInput');
    width = lastPicture ? fitWidth({
      deviceWidth: Math.round(screen.width * (window.devicePixelRatio || 1)),
      outputWidth: lastPicture.width,
      inputWidth: lastPicture.inputWidth,
      doubled: doubled ? slots[doubled.slot] !== '' : false,
      cut: cut ? slots[cut.slot] !== '' : false,
    }) : 0;
  }
  if (setOutputWidth(width)) requestRender();
}

// The small picture of the height image beside the stereogram.
async function showPreview(image) {
  const preview = $('height-preview');
  let pixels = null;
  if (image.made) {
    const { width, height, bits, values } = image.made;
    const rgba = new Uint8ClampedArray(width * height * 4);
    const shift = bits === 16 ? 8 : 0;
    for (let i = 0; i < width * height; ++i) {
      const v = values[i] >> shift;
      rgba.set([v, v, v, 255], 4 * i);
    }
    pixels = { width, height, rgba };
  } else {
    const bytes = new Uint8Array(await image.blob.arrayBuffer());
    pixels = browserFormat(bytes) === null ? targaToRgba(bytes) : null;
    if (!pixels) {
      try {
        const bitmap = await createImageBitmap(new Blob([bytes]));
        pixels = { bitmap, width: bitmap.width, height: bitmap.height };
      } catch {
        $('preview').hidden = true;
        return;
      }
    }
  }
  const scale = Math.min(1, 240 / pixels.width, 180 / pixels.height);
  preview.width = Math.max(1, Math.round(pixels.width * scale));
  preview.height = Math.max(1, Math.round(pixels.height * scale));
  const context = preview.getContext('2d');
  let source = pixels.bitmap;
  if (!source) {
    source = new OffscreenCanvas(pixels.width, pixels.height);
    source.getContext('2d').putImageData(new ImageData(pixels.rgba, pixels.width, pixels.height), 0, 0);
  }
  context.imageSmoothingQuality = 'high';
  context.drawImage(source, 0, 0, preview.width, preview.height);
  if (pixels.bitmap) pixels.bitmap.close();
  $('preview').hidden = false;
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

// An option's label in plain words, its command-line name as a hint after it:
// "Inverted heights" and its name in brackets.
function optionLabel(option, text = option.label) {
  const plain = text.charAt(0).toUpperCase() + text.slice(1);
  return [plain, ' ', element('span', { className: 'hint', textContent: `(${option.name})` })];
}

function labelledOption(option, control, after = false, text = option.label) {
  const words = optionLabel(option, text);
  const reason = element('span', { className: 'reason' });
  return element('label', {}, after ? [control, ' ', ...words, reason] : [...words, ' ', control, reason]);
}

// The option that plays one of the page's own roles (see the table's hints).
function roleOption(role) {
  return table.options.find((option) => option.role === role) || null;
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
    $('pattern-control').append(labelledOption(option, select, false, 'Pattern'));
  }

  const numbers = optionsOfKind('number');
  const names = [...new Set(numbers.map((option) => option.name))];
  for (const name of names) {
    const group = numbers.filter((option) => option.name === name);
    const [first] = group;
    if (first.role === 'outputWidth') {
      // The output-size choice beside the picture stands for it.
      const select = $('output-size');
      // "Its own size" is the option's default.
      select.options[0].value = first.default;
      select.dataset.option = first.name;
      select.dataset.slot = String(first.slot);
      select.title = first.help;
      continue;
    }
    if (group.length === 1) {
      const input = optionControl('input', first, { type: 'number', step: 1, inputMode: 'numeric', value: first.default });
      $('value-controls').append(labelledOption(first, input));
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
    $('width-control').append(labelledOption(first, input, false, 'Pattern width'), labelled('in', unit));
  }

  for (const option of optionsOfKind('choice')) {
    const select = optionControl('select', option);
    select.append(...choiceElements(option.choices.map((text, k) => [option.low + k, `${option.low + k}: ${text}`])));
    select.value = option.default;
    $('value-controls').append(labelledOption(option, select));
  }

  for (const option of optionsOfKind('flag')) {
    const box = optionControl('input', option, { type: 'checkbox' });
    $('flag-controls').append(labelledOption(option, box, true));
  }

  for (const option of optionsOfKind('colour')) {
    const input = optionControl('input', option, { type: 'color', value: colourToHex(Number(option.default)) });
    $('colour-controls').append(labelledOption(option, input, true));
  }

  for (const option of optionsOfKind('seed')) {
    // Text, so that what was typed is seen whole and can be refused.
    const input = optionControl('input', option, { type: 'text', inputMode: 'numeric', autocomplete: 'off', spellcheck: false });
    $('seed-control').prepend(labelledOption(option, input));
  }

  const letters = stretchOption();
  if (letters) {
    const fieldset = $('stretch');
    fieldset.dataset.option = letters.name;
    fieldset.dataset.slot = String(letters.slot);
    fieldset.title = letters.help;
    fieldset.append(element('legend', {}, optionLabel(letters)));
    for (const { letter, label, heights } of table.stretchLetters) {
      const box = element('input', { type: 'checkbox', checked: letters.default.includes(letter) });
      box.dataset.letter = letter;
      // The letter that scales the heights counts with any pattern: it
      // sits with the depth controls.
      const text = `${label.charAt(0).toUpperCase()}${label.slice(1)}`;
      const hint = element('span', { className: 'hint', textContent: `(${letters.name} ${letter})` });
      const made = element('label', {}, [box, ` ${text} `, hint]);
      if (heights) {
        box.id = 'heights-range';
        box.title = letters.help;
        $('flag-controls').prepend(made);
      } else {
        fieldset.append(made);
      }
    }
  }
  for (const option of table.options) {
    for (const control of document.querySelectorAll(`[data-option][data-slot="${option.slot}"]`)) {
      control.dataset.kind = option.kind;
      if (option.role) control.dataset.role = option.role;
    }
  }
  if (!roleOption('outputWidth')) {
    $('output-size').disabled = true;
    $('output-size-reason').textContent = 'This engine cannot resample the height image.';
  }
}

// The slot a number field with units writes: the unit chosen.
function unitSlot(input) {
  return Number($(input.dataset.units).selectedOptions[0].dataset.slot);
}

function stretchLetters() {
  const letters = [...document.querySelectorAll('input[data-letter]')]
    .filter((box) => box.checked).map((box) => box.dataset.letter).join('');
  if (letters === stretchOption().default) return '';
  return letters === '' ? '>' : letters;
}

function updateStretchState() {
  $('stretch').hidden = patternControl().value !== 'image';
  updateApplicability();
}

// Controls of options that have no effect with the chosen pattern are
// disabled, with the reason beside them.
function updateApplicability() {
  const value = patternControl().value;
  const type = value === 'image' ? 0 : Number(value);
  const typeInfo = table.patternTypes.find((t) => t.number === type);
  for (const option of table.options) {
    const inert = option.noEffect.includes(type);
    for (const control of document.querySelectorAll(`[data-option][data-slot="${option.slot}"]`)) {
      control.disabled = inert;
      const reason = control.closest('label') && control.closest('label').querySelector('.reason');
      if (!reason) continue;
      reason.textContent = !inert ? '' : type === 0 ? ' no effect with a pattern image'
        : ` no effect with pattern ${type} (${typeInfo ? typeInfo.name : ''})`;
    }
  }
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
  const inverted = roleOption('crossEyed');
  if (inverted) $(inverted.name).checked = (slots[inverted.slot] !== '') !== crossEyed;
  for (const box of document.querySelectorAll('input[data-letter]')) box.checked = state.stretch.includes(box.dataset.letter);
  const sized = roleOption('outputWidth');
  if (sized) {
    const select = $('output-size');
    const given = slots[sized.slot];
    select.value = [...select.options].some((option) => option.value === given) ? given : select.options[0].value;
  }
  updateStretchState();
}

function setSeed(value) {
  const control = seedControl();
  slots[Number(control.dataset.slot)] = value;
  control.value = value;
}

// Each control writes its slot, as the command line's option would.
function readControl(control) {
  if (control.dataset.letter) {
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
      // Cross-eyed viewing inverts the heights once more.
      slots[slot] = control.checked !== (crossEyed && control.dataset.role === 'crossEyed') ? '>' : '';
      break;
    case 'seed': {
      // A whole number or nothing: "1e3" would be read as 1.
      const text = control.value.trim();
      if (!/^[+-]?\d*$/.test(text) || Math.abs(Number(text)) > 2147483647) {
        control.setAttribute('aria-invalid', 'true');
        showMessage(`The seed must be a whole number ("${text}" is not one).`);
        return;
      }
      control.removeAttribute('aria-invalid');
      showMessage('');
      if (Number(text) === 0) {
        setSeed(String(newSeed()));
      } else {
        slots[slot] = text;
      }
      break;
    }
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
  // The input is emptied after each choice, so that choosing the same file
  // again reads it again.
  for (const [id, slot] of [['height-file', 0], ['pattern-file', 1]]) {
    $(id).addEventListener('change', (event) => {
      const [file] = event.target.files;
      event.target.value = '';
      readFile(slot, file);
    });
  }
  wireDrop($('height-drop'), 0);
  wireDrop($('pattern-drop'), 1);
  // A file dropped anywhere else is a height image too (rather than a page
  // the browser opens in place of this one).
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => {
    event.preventDefault();
    if (event.dataTransfer.files.length > 0) readFile(0, event.dataTransfer.files[0]);
  });
  for (const button of document.querySelectorAll('[data-shape]')) {
    const name = button.dataset.shape;
    button.addEventListener('click', () => sendMadeImage(makeShape(name), `${name}.tga`));
  }
  $('text-blur').addEventListener('input', () => { $('text-blur-value').value = `${$('text-blur').value} px`; });
  $('text-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const text = $('text-text').value.trim();
    if (text === '') return;
    const size = Math.max(16, Math.min(600, Math.round(Number($('text-size').value) || 160)));
    const image = makeText({ text, size, bold: $('text-bold').checked, blur: Number($('text-blur').value) });
    sendMadeImage(image, 'text.tga');
  });
  for (const radio of document.querySelectorAll('input[name="viewing"]')) {
    radio.addEventListener('change', () => {
      crossEyed = document.querySelector('input[name="viewing"]:checked').value === 'cross';
      const inverted = roleOption('crossEyed');
      if (inverted) readControl($(inverted.name));
    });
  }
  $('full-screen').addEventListener('click', toggleFullScreen);
  document.addEventListener('fullscreenchange', () => {
    viewChanged();
    if (document.fullscreenElement) requestAnimationFrame(centrePicture);
  });
  $('output-size').addEventListener('change', chooseOutputSize);
  $('download-tga').addEventListener('click', () => {
    if (result) download(new Blob([result.tga], { type: 'image/x-tga' }), `${baseName()}.tga`);
  });
  $('download-png').addEventListener('click', () => {
    if (result) worker.postMessage({ type: 'png' });
  });
  window.addEventListener('resize', viewChanged);
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
  const text = new TextDecoder().decode(await fetchBytes('demo/args.txt'));
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
    showError(`${params.get('src')}: only images of this page's own site can be opened by address.`);
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
  sendMadeImage(makeShape('dome'), 'dome.tga');
}

start();
