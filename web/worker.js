// The page's worker: holds the engine (WebAssembly) and the images, decodes
// dropped files and makes the stereograms, so that the page never waits.
//
// The options travel as the command line's slot texts, in the engine's slot
// order; the engine turns them into its settings.
//
// Messages in (handled one at a time, in order):
//   {type: 'image', slot, bytes, slots, check}  slot 0 heights, 1 pattern;
//       check: refuse an image of a size whose stereogram the options refuse
//   {type: 'render', id, slots}
//   {type: 'parse', args}  command-line arguments read into slots
//   {type: 'canvas', canvas}  the page's OffscreenCanvas, drawn by render
//   {type: 'png'}  the canvas as a PNG file
// Messages out: 'ready' (with the engine's option table and which build
// of the engine runs), 'image', 'parsed', 'progress', 'picture' then
// 'result' for a run (see render), 'failed'.
//
// The engine is built twice, with WebAssembly SIMD and without; the worker
// loads the SIMD build where the browser validates a SIMD instruction
// (worker.js?engine=baseline asks for the other, for tests). Both give the
// same bytes.

// A module of one function that returns an i8x16.splat: valid only where
// the browser has WebAssembly SIMD.
const SIMD_PROBE = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0,
  10, 8, 1, 6, 0, 65, 0, 253, 15, 11]);
const engineBuild = new URLSearchParams(self.location.search).get('engine') !== 'baseline' &&
  WebAssembly.validate(SIMD_PROBE) ? 'simd' : 'baseline';

let engine = null;
let canvas = null;
const queue = [];
let running = false;

// Formats the browser decodes; anything else goes to the engine's TARGA reader.
function browserFormat(bytes) {
  const starts = (...values) => values.every((v, i) => v === null || bytes[i] === v);
  if (starts(0x89, 0x50, 0x4e, 0x47)) return 'PNG';
  if (starts(0xff, 0xd8, 0xff)) return 'JPEG';
  if (starts(0x47, 0x49, 0x46, 0x38)) return 'GIF';
  if (starts(0x52, 0x49, 0x46, 0x46, null, null, null, null, 0x57, 0x45, 0x42, 0x50)) return 'WebP';
  if (starts(0x42, 0x4d)) return 'BMP';
  return null;
}

// Copies bytes into the engine's memory; the caller frees the block.
function copyIn(bytes) {
  const block = engine._rdsgen_web_alloc(bytes.length);
  if (block === 0) throw new Error('Not enough memory for this image.');
  engine.HEAPU8.set(bytes, block);
  return block;
}

// Texts into the engine's memory, each ended by a NUL byte, for use(block,
// size).
function withTexts(texts, use) {
  const encoder = new TextEncoder();
  const parts = texts.map((text) => encoder.encode(`${text}\0`));
  const bytes = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  let at = 0;
  for (const part of parts) {
    bytes.set(part, at);
    at += part.length;
  }
  const block = copyIn(bytes);
  try {
    return use(block, bytes.length);
  } finally {
    engine._rdsgen_web_free(block);
  }
}

function setSlots(slots) {
  withTexts(slots, (block, size) => engine._rdsgen_web_set_slots(block, size));
}

function engineJson(address) {
  return JSON.parse(engine.UTF8ToString(address));
}

function engineMessage() {
  return engine.UTF8ToString(engine._rdsgen_web_message());
}

// RGBA pixels of an image the browser decodes, as drawn on a canvas (colour
// values as stored, no colour-space conversion).
async function decodeInBrowser(bytes, format, check) {
  let bitmap;
  try {
    bitmap = await createImageBitmap(new Blob([bytes]), { colorSpaceConversion: 'none' });
  } catch {
    return { message: `The browser could not decode this ${format} image.` };
  }
  const { width, height } = bitmap;
  // Sizes the engine refuses are refused before the pixels are made.
  const code = check ? engine._rdsgen_web_check_size(width, height) : 0;
  if (code !== 0) {
    bitmap.close();
    return { message: engineMessage() };
  }
  try {
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext('2d', { willReadFrequently: true });
    context.drawImage(bitmap, 0, 0);
    return { rgba: context.getImageData(0, 0, width, height).data, width, height };
  } catch {
    return { message: `This ${format} image (${width} x ${height}) is too large for the browser to decode.` };
  } finally {
    bitmap.close();
  }
}

async function loadImage({ slot, bytes, slots, check }) {
  bytes = new Uint8Array(bytes);
  setSlots(slots);
  const format = browserFormat(bytes);
  let code;
  if (format === null) {
    const block = copyIn(bytes);
    code = engine._rdsgen_web_load_tga(slot, block, bytes.length, check ? 1 : 0);
    engine._rdsgen_web_free(block);
  } else {
    const decoded = await decodeInBrowser(bytes, format, check);
    if (decoded.message) return { type: 'image', slot, ok: false, message: decoded.message };
    const block = copyIn(decoded.rgba);
    code = engine._rdsgen_web_load_rgba(slot, block, decoded.width, decoded.height);
    engine._rdsgen_web_free(block);
  }
  if (code !== 0) return { type: 'image', slot, ok: false, message: engineMessage() };
  const info = (what) => engine._rdsgen_web_image_info(slot, what);
  const kinds = ['colour', '8-bit grey', '16-bit grey', '24-bit grey'];
  return { type: 'image', slot, ok: true, width: info(0), height: info(1), kind: kinds[info(2)], format: format || 'TARGA' };
}

async function sha256(bytes) {
  if (!self.crypto || !self.crypto.subtle) return '';
  const digest = new Uint8Array(await self.crypto.subtle.digest('SHA-256', bytes));
  return Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join('');
}

// Reads command-line arguments as the command line does: the slots, what
// they stand for (see rdsgen_web_slots) and the refusals.
function parse({ args }) {
  withTexts(args, (block, size) => engine._rdsgen_web_parse(block, size));
  const { refusals } = engineJson(engine._rdsgen_web_json());
  return { type: 'parsed', refusals, ...engineJson(engine._rdsgen_web_slots()) };
}

async function render({ id, slots }) {
  setSlots(slots);
  const { seed } = engineJson(engine._rdsgen_web_slots());
  let lastReport = 0;
  engine.onProgress = (stage, done, total) => {
    // Stage 4 is the image rows; a report every 50 ms at most.
    const now = performance.now();
    if (stage !== 4 || now - lastReport < 50) return;
    lastReport = now;
    postMessage({ type: 'progress', id, done, total });
  };
  const started = performance.now();
  const code = engine._rdsgen_web_render();
  const engineMs = performance.now() - started;
  engine.onProgress = null;
  const warnings = engineJson(engine._rdsgen_web_warnings());
  if (code !== 0) return { type: 'result', id, ok: false, message: engineMessage(), warnings };
  const width = engine._rdsgen_web_output_width();
  const height = engine._rdsgen_web_output_height();
  const rgbaAt = engine._rdsgen_web_output_rgba();
  if (rgbaAt === 0) return { type: 'result', id, ok: false, message: 'Not enough memory to show the stereogram.' };
  // The picture goes first, straight from the engine's memory to the
  // page's canvas; the file and its hash follow. The canvas is opaque, so
  // that its pixels are taken without premultiplying by alpha, and keeps
  // its backing store while the size stays (every pixel is overwritten).
  if (canvas.width !== width) canvas.width = width;
  if (canvas.height !== height) canvas.height = height;
  const pixels = new Uint8ClampedArray(engine.HEAPU8.buffer, rgbaAt, 4 * width * height);
  canvas.getContext('2d', { alpha: false }).putImageData(new ImageData(pixels, width, height), 0, 0);
  postMessage({ type: 'picture', id, width, height, engineMs, seed, warnings });
  const out = engine._rdsgen_web_output();
  const tga = engine.HEAPU8.slice(out, out + engine._rdsgen_web_output_size());
  return { type: 'result', id, ok: true, tga: tga.buffer, sha256: await sha256(tga), transfer: [tga.buffer] };
}

async function handle(message) {
  switch (message.type) {
    case 'image': return loadImage(message);
    case 'render': return render(message);
    case 'parse': return parse(message);
    case 'canvas':
      canvas = message.canvas;
      return null;
    case 'png':
      return { type: 'png', blob: canvas.width > 0 ? await canvas.convertToBlob({ type: 'image/png' }) : null };
    default: return null;
  }
}

// Messages are handled one after the other, also across the awaits inside.
async function drain() {
  if (running || engine === null) return;
  running = true;
  while (queue.length > 0) {
    const message = queue.shift();
    let reply;
    try {
      reply = await handle(message);
    } catch (error) {
      reply = { type: 'failed', id: message.id, slot: message.slot, message: String(error && error.message || error) };
    }
    if (reply) {
      const transfer = reply.transfer || [];
      delete reply.transfer;
      postMessage(reply, transfer);
    }
  }
  running = false;
}

self.onmessage = (event) => {
  queue.push(event.data);
  drain();
};

import(engineBuild === 'simd' ? './rdsgen-engine-simd.js' : './rdsgen-engine.js').then(
  ({ default: createEngine }) => createEngine(),
).then((module) => {
  engine = module;
  postMessage({ type: 'ready', table: engineJson(engine._rdsgen_web_options()), engine: engineBuild });
  drain();
}, (error) => postMessage({ type: 'failed', message: `The engine could not be loaded: ${error}` }));
