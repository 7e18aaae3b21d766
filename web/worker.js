// The page's worker: holds the engine (WebAssembly) and the images, reads
// dropped files (PNG, JPEG and TARGA by the command line's rules, the other
// formats through the browser) and makes the stereograms and the PNG
// download, so that the page never waits.
//
// The options travel as the command line's slot texts, in the engine's slot
// order; the engine turns them into its settings.
//
// Messages in (handled one at a time, in order):
//   {type: 'image', slot, blob, slots, check}  slot 0 heights, 1 pattern (the
//       file as a Blob, which passes without a copy, or as bytes, an
//       ArrayBuffer); check: refuse an image of a size whose stereogram the
//       options refuse
//   {type: 'render', id, slots, view}  view: how the canvas shows the picture
//       ({factor, ratio}, see drawView)
//   {type: 'view', view}  the last picture drawn again for another view
//   {type: 'parse', args}  command-line arguments read into slots
//   {type: 'canvas', canvas}  the page's OffscreenCanvas, drawn by render
//   {type: 'png'}  the last stereogram as a PNG file (see pngFile)
// Messages out: 'ready' (with the engine's option table and which build
// of the engine runs), 'image', 'parsed', 'progress', 'picture' then
// 'result' for a run (see render), 'failed'.
//
// The engine is built twice, with WebAssembly SIMD and without; the worker
// loads the SIMD build where the browser validates a SIMD instruction
// (worker.js?engine=baseline asks for the other, for tests). Both give the
// same bytes.
import decodeJpeg from './jpeg/decode.js';
import { inflatePng } from './png_data.js';
import { canvasSize } from './view.js';

// A module of one function that returns an i8x16.splat: valid only where
// the browser has WebAssembly SIMD.
const SIMD_PROBE = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0,
  10, 8, 1, 6, 0, 65, 0, 253, 15, 11]);
const engineBuild = new URLSearchParams(self.location.search).get('engine') !== 'baseline' &&
  WebAssembly.validate(SIMD_PROBE) ? 'simd' : 'baseline';

let engine = null;
let canvas = null;
let plain = null;  // the last picture, one canvas pixel per pixel
let plainOnCanvas = false;  // plain not made: the page's canvas holds it as it is
let view = { factor: 1, ratio: 1 };
const queue = [];
let running = false;

// The format of a file by its first bytes: PNG and JPEG are read as the
// command line reads them; GIF, WebP and BMP only the browser decodes;
// anything else goes to the engine's TARGA reader.
function fileFormat(bytes) {
  const starts = (...values) => values.every((v, i) => v === null || bytes[i] === v);
  if (starts(0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a)) return 'PNG';
  if (starts(0xff, 0xd8, 0xff)) return 'JPEG';
  if (starts(0x47, 0x49, 0x46, 0x38)) return 'GIF';
  if (starts(0x52, 0x49, 0x46, 0x46, null, null, null, null, 0x57, 0x45, 0x42, 0x50)) return 'WebP';
  if (starts(0x42, 0x4d)) return 'BMP';
  return 'TARGA';
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

// Calls use(block, size) with a copy of bytes in the engine's memory.
async function withCopy(bytes, use) {
  const block = copyIn(bytes);
  try {
    return await use(block, bytes.length);
  } finally {
    engine._rdsgen_web_free(block);
  }
}

// Reads a PNG or JPEG file by the command line's rules: the engine reads the
// header (refusing what the command line refuses, and with check a size the
// options refuse) before anything is decoded. Returns the status code, or a
// message where the browser's part failed.
async function loadExact(slot, bytes, format, check) {
  return withCopy(bytes, async (file, size) => {
    let code = engine._rdsgen_web_inspect(file, size, check ? 1 : 0);
    if (code !== 0) return { code };
    const header = engineJson(engine._rdsgen_web_json());
    if (format === 'PNG') {
      let raw;
      try {
        raw = await inflatePng(bytes);
      } catch {
        return { message: 'Can\'t read PNG image: its compressed image data is broken.' };
      }
      code = await withCopy(raw, (block, rawSize) => engine._rdsgen_web_load_png(slot, file, size, block, rawSize));
      return { code };
    }
    let decoded;
    try {
      decoded = await decodeJpeg(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength));
    } catch {
      return { message: 'Can\'t read JPEG image: its data is broken.' };
    }
    code = await withCopy(decoded.data, (block) => engine._rdsgen_web_load_jpeg(slot, block, decoded.width,
      decoded.height, header.components === 1 ? 1 : 0, header.orientation));
    return { code };
  });
}

async function loadImage({ slot, blob, bytes: buffer, slots, check }) {
  const bytes = new Uint8Array(blob ? await blob.arrayBuffer() : buffer);
  setSlots(slots);
  const format = fileFormat(bytes);
  let code;
  if (format === 'TARGA') {
    code = await withCopy(bytes, (block, size) => engine._rdsgen_web_load_tga(slot, block, size, check ? 1 : 0));
  } else if (format === 'PNG' || format === 'JPEG') {
    const loaded = await loadExact(slot, bytes, format, check);
    if (loaded.message) return { type: 'image', slot, ok: false, message: loaded.message };
    code = loaded.code;
  } else {
    const decoded = await decodeInBrowser(bytes, format, check);
    if (decoded.message) return { type: 'image', slot, ok: false, message: decoded.message };
    code = await withCopy(decoded.rgba, (block) => engine._rdsgen_web_load_rgba(slot, block, decoded.width, decoded.height));
  }
  if (code !== 0) return { type: 'image', slot, ok: false, message: engineMessage() };
  const info = (what) => engine._rdsgen_web_image_info(slot, what);
  const kinds = ['colour', '8-bit grey', '16-bit grey', '24-bit grey'];
  return {
    type: 'image', slot, ok: true, width: info(0), height: info(1), kind: kinds[info(2)], format,
    browserOnly: !['TARGA', 'PNG', 'JPEG'].includes(format),
  };
}

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function pngChunk(type, data) {
  const chunk = new Uint8Array(data.length + 12);
  const view = new DataView(chunk.buffer);
  view.setUint32(0, data.length);
  for (let k = 0; k < 4; ++k) chunk[4 + k] = type.charCodeAt(k);
  chunk.set(data, 8);
  let c = 0xffffffff;
  for (let i = 4; i < data.length + 8; ++i) c = CRC_TABLE[(c ^ chunk[i]) & 0xff] ^ (c >>> 8);
  view.setUint32(data.length + 8, (c ^ 0xffffffff) >>> 0);
  return chunk;
}

// The last stereogram as a PNG file laid out as the command line writes
// one: 8-bit grey when the stereogram is grey, else RGB; every row
// unfiltered; the image data deflated by the browser into one zlib stream.
async function pngFile() {
  const at = engine._rdsgen_web_output();
  if (at === 0) return null;
  const tga = engine.HEAPU8.subarray(at, at + engine._rdsgen_web_output_size());
  const width = tga[12] | (tga[13] << 8);
  const height = tga[14] | (tga[15] << 8);
  const grey = tga[2] === 3;
  const rowBytes = grey ? width : 3 * width;
  const raw = new Uint8Array(height * (rowBytes + 1));
  for (let y = 0, from = 18 + tga[0]; y < height; ++y, from += rowBytes) {
    const to = y * (rowBytes + 1) + 1;
    if (grey) {
      raw.set(tga.subarray(from, from + rowBytes), to);
      continue;
    }
    for (let k = 0; k < rowBytes; k += 3) {
      raw[to + k] = tga[from + k + 2];
      raw[to + k + 1] = tga[from + k + 1];
      raw[to + k + 2] = tga[from + k];
    }
  }
  const stream = new Blob([raw]).stream().pipeThrough(new CompressionStream('deflate'));
  const data = new Uint8Array(await new Response(stream).arrayBuffer());
  const header = new Uint8Array(13);
  new DataView(header.buffer).setUint32(0, width);
  new DataView(header.buffer).setUint32(4, height);
  header.set([8, grey ? 0 : 2, 0, 0, 0], 8);
  const signature = new Uint8Array([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  return new Blob([signature, pngChunk('IHDR', header), pngChunk('IDAT', data), pngChunk('IEND', new Uint8Array(0))],
    { type: 'image/png' });
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

// The page's canvas shows the picture with each pixel on factor x factor
// canvas pixels, in a canvas the page can show at whole screen pixels
// (canvasSize; the extra columns and rows stay black).
function drawView() {
  if (plainOnCanvas) {
    plainPicture(canvas.width, canvas.height).getContext('2d').drawImage(canvas, 0, 0);
    plainOnCanvas = false;
  }
  const size = canvasSize(plain.width, plain.height, view);
  canvas.width = size.width;
  canvas.height = size.height;
  const context = canvas.getContext('2d', { alpha: false });
  context.imageSmoothingEnabled = false;
  context.drawImage(plain, 0, 0, plain.width * view.factor, plain.height * view.factor);
  return size;
}

// The canvas that keeps the last picture, of that size.
function plainPicture(width, height) {
  if (!plain) plain = new OffscreenCanvas(width, height);
  plain.width = width;
  plain.height = height;
  return plain;
}

async function render(message) {
  const { id, slots } = message;
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
  const pixels = new ImageData(new Uint8ClampedArray(engine.HEAPU8.buffer, rgbaAt, 4 * width * height), width, height);
  if (message.view) view = message.view;
  let shown = canvasSize(width, height, view);
  if (shown.width === width && shown.height === height) {
    // The common case: straight onto the page's canvas.
    if (canvas.width !== width) canvas.width = width;
    if (canvas.height !== height) canvas.height = height;
    canvas.getContext('2d', { alpha: false }).putImageData(pixels, 0, 0);
    plainOnCanvas = true;
  } else {
    plainPicture(width, height).getContext('2d').putImageData(pixels, 0, 0);
    plainOnCanvas = false;
    shown = drawView();
  }
  postMessage({ type: 'picture', id, width, height, canvasWidth: shown.width, canvasHeight: shown.height, engineMs, seed, warnings });
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
      return { type: 'png', blob: await pngFile() };
    case 'view':
      view = message.view;
      return plain || plainOnCanvas ? { type: 'viewed', ...drawView() } : null;
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
