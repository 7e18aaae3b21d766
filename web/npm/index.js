// rdsgen for JavaScript: random-dot stereograms from height images, made by
// the command line's engine compiled to WebAssembly (inline in engine.js),
// in Node and in browsers through a bundler.
import createEngine from './engine.js';
import { splitArgs } from './options.js';
import { inflatePng, isPng } from './png_data.js';

export const version = '@VERSION@';

// A refusal of the engine, with the command line's message (without its
// "ERROR: ").
export class RdsgenError extends Error {
  constructor(message) {
    super(message);
    this.name = 'RdsgenError';
  }
}

let enginePromise = null;
// The engine is made once, on first use, and runs one stereogram at a time.
function engine() {
  enginePromise = enginePromise ?? createEngine();
  return enginePromise;
}
let queue = Promise.resolve();

const RAW_KINDS = { grey8: 1, grey16: 2, grey24: 3, rgb: 4 };

function asBytes(value, what) {
  if (value instanceof Uint8Array) return value;
  if (value instanceof ArrayBuffer) return new Uint8Array(value);
  if (ArrayBuffer.isView(value)) return new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
  throw new TypeError(`${what} must be the bytes of an image file (Uint8Array or ArrayBuffer)`);
}

// The height image as the engine takes it: a file, or raw samples with
// their kind (rawKind 1..4).
function heightsInput(heights) {
  if (heights && typeof heights === 'object' && 'samples' in heights) {
    const { width, height, samples } = heights;
    const kind = heights.kind ?? (samples instanceof Uint16Array ? 'grey16' : 'grey8');
    if (!(kind in RAW_KINDS)) throw new TypeError(`kind must be one of ${Object.keys(RAW_KINDS).join(', ')}`);
    if (!Number.isInteger(width) || !Number.isInteger(height) || width < 0 || height < 0) {
      throw new TypeError('width and height must be whole numbers, 0 or more');
    }
    if (kind === 'grey16' && !(samples instanceof Uint16Array)) throw new TypeError('grey16 samples must be a Uint16Array');
    if (kind !== 'grey16' && !(samples instanceof Uint8Array)) throw new TypeError(`${kind} samples must be a Uint8Array`);
    const perPixel = { grey8: 1, grey16: 1, grey24: 3, rgb: 3 }[kind];
    if (samples.length < width * height * perPixel) {
      throw new TypeError(`${width} x ${height} ${kind} needs ${width * height * perPixel} samples, not ${samples.length}`);
    }
    let bytes = new Uint8Array(samples.buffer, samples.byteOffset, samples.byteLength);
    if (kind === 'grey16' && new Uint8Array(new Uint16Array([1]).buffer)[0] !== 1) {
      // The engine reads 16-bit samples low byte first.
      bytes = new Uint8Array(samples.length * 2);
      samples.forEach((v, i) => { bytes[2 * i] = v & 255; bytes[2 * i + 1] = v >> 8; });
    }
    return { bytes, width, height, rawKind: RAW_KINDS[kind] };
  }
  return { bytes: asBytes(heights, 'heights'), width: 0, height: 0, rawKind: 0 };
}

function optionArgs(options) {
  if (options === undefined || options === null) return [];
  if (typeof options === 'string') return splitArgs(options);
  if (Array.isArray(options) && options.every((o) => typeof o === 'string')) return options;
  throw new TypeError('options must be a text ("/PatT:6 /Rand:1") or an array of arguments');
}

// Copies bytes into the engine's memory (at least one byte, so that every
// block is a real one); the caller frees it.
function copyIn(module, bytes) {
  const block = module._rdsgen_npm_alloc(bytes.length);
  if (block === 0) throw new RdsgenError('Not enough memory for this image.');
  module.HEAPU8.set(bytes, block);
  return block;
}

// A PNG file's image data, inflated here for the engine, which reads the
// rest of the file; nothing for other files.
async function pngData(bytes) {
  if (!isPng(bytes)) return new Uint8Array(0);
  if (typeof DecompressionStream === 'undefined') {
    throw new RdsgenError('PNG images need DecompressionStream, which this JavaScript runtime lacks.');
  }
  try {
    return await inflatePng(bytes);
  } catch {
    throw new RdsgenError('Can\'t read PNG image: its compressed image data is broken.');
  }
}

async function renderNow(heights, options, extra) {
  const module = await engine();
  const input = heightsInput(heights);
  const args = optionArgs(options);
  const encoder = new TextEncoder();
  const argBytes = encoder.encode(args.map((a) => `${a}\0`).join(''));
  const pattern = extra.pattern === undefined ? new Uint8Array(0) : asBytes(extra.pattern, 'pattern');
  const heightsData = input.rawKind === 0 ? await pngData(input.bytes) : new Uint8Array(0);
  const patternData = await pngData(pattern);
  const blocks = [];
  // Each block in the engine's memory, freed after the run.
  const copy = (bytes) => {
    const block = copyIn(module, bytes);
    blocks.push(block);
    return block;
  };
  try {
    const argBlock = copy(argBytes);
    const heightBlock = copy(input.bytes);
    const heightDataBlock = copy(heightsData);
    const patternBlock = copy(pattern);
    const patternDataBlock = copy(patternData);
    const clockSeed = Math.floor(Date.now() / 1000) >>> 0;
    const code = module._rdsgen_npm_render(argBlock, argBytes.length, heightBlock, input.bytes.length,
      heightDataBlock, heightsData.length, input.width, input.height, input.rawKind, patternBlock, pattern.length,
      patternDataBlock, patternData.length, clockSeed);
    const warnings = JSON.parse(module.UTF8ToString(module._rdsgen_npm_warnings()));
    if (code !== 0) {
      const error = new RdsgenError(module.UTF8ToString(module._rdsgen_npm_message()));
      error.warnings = warnings;
      throw error;
    }
    const size = module._rdsgen_npm_output_size();
    const output = module._rdsgen_npm_output();
    const tga = module.HEAPU8.slice(output, output + size);
    const result = {
      width: module._rdsgen_npm_output_width(),
      height: module._rdsgen_npm_output_height(),
      grey: module._rdsgen_npm_output_grey() !== 0,
      warnings,
      tga,
    };
    module._rdsgen_npm_clear();
    return result;
  } finally {
    for (const block of blocks) module._rdsgen_npm_free(block);
  }
}

// Makes the stereogram of a height image.
//   heights: the bytes of a TARGA or PNG file (JPEG is refused), or raw
//     samples {width, height, samples, kind}.
//   options: the command line's options, as a text or an array of arguments.
//   extra.pattern: the pattern image's file when /PatT names one.
//   extra.format: 'tga' (default) or 'png' (where CompressionStream exists).
// Resolves to {bytes, tga, width, height, grey, warnings}; rejects with an
// RdsgenError carrying the command line's message.
export function render(heights, options, extra = {}) {
  const format = extra.format ?? 'tga';
  if (format !== 'tga' && format !== 'png') return Promise.reject(new TypeError("format must be 'tga' or 'png'"));
  const run = queue.then(() => renderNow(heights, options, extra));
  queue = run.catch(() => {});
  return run.then(async (result) => ({
    ...result,
    bytes: format === 'png' ? await tgaToPng(result) : result.tga,
  }));
}

// --- PNG ---------------------------------------------------------------

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = CRC_TABLE[(c ^ b) & 255] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const out = new Uint8Array(12 + data.length);
  const view = new DataView(out.buffer);
  view.setUint32(0, data.length);
  out.set(new TextEncoder().encode(type), 4);
  out.set(data, 8);
  view.setUint32(8 + data.length, crc32(out.subarray(4, 8 + data.length)));
  return out;
}

// The stereogram as a PNG file: 8-bit grey or RGB, unfiltered, the same
// pixels as the TARGA file (zlib compression by CompressionStream).
async function tgaToPng({ tga, width, height, grey }) {
  if (typeof CompressionStream === 'undefined') {
    throw new RdsgenError('PNG output needs CompressionStream, which this JavaScript runtime lacks.');
  }
  const channels = grey ? 1 : 3;
  const rowBytes = width * channels;
  const raw = new Uint8Array(height * (rowBytes + 1));
  for (let y = 0; y < height; ++y) {
    const from = 18 + y * rowBytes;
    const to = y * (rowBytes + 1) + 1;  // after the row's filter byte 0
    if (grey) {
      raw.set(tga.subarray(from, from + rowBytes), to);
    } else {
      for (let x = 0; x < rowBytes; x += 3) {  // blue, green, red to red, green, blue
        raw[to + x] = tga[from + x + 2];
        raw[to + x + 1] = tga[from + x + 1];
        raw[to + x + 2] = tga[from + x];
      }
    }
  }
  const stream = new Blob([raw]).stream().pipeThrough(new CompressionStream('deflate'));
  const compressed = new Uint8Array(await new Response(stream).arrayBuffer());
  const header = new Uint8Array(13);
  const view = new DataView(header.buffer);
  view.setUint32(0, width);
  view.setUint32(4, height);
  header.set([8, grey ? 0 : 2, 0, 0, 0], 8);
  const parts = [new Uint8Array([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', header),
    chunk('IDAT', compressed), chunk('IEND', new Uint8Array(0))];
  const png = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  let at = 0;
  for (const part of parts) {
    png.set(part, at);
    at += part.length;
  }
  return png;
}
