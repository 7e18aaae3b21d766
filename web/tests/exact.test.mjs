// The page's images at full precision, opened through ?src=URL&args=OPTIONS:
// PNG files of every colour type and bit depth, JPEG files and their EXIF
// orientation give the native rdsgen's TARGA bytes; and the PNG download.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';
import { decodePng } from './images.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const jpegPackage = path.join(root, 'web/node_modules/@jsquash/jpeg');
const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');

// --- Image files ----------------------------------------------------------------

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function chunk(type, data) {
  const out = Buffer.alloc(data.length + 12);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'latin1');
  Buffer.from(data).copy(out, 8);
  let c = 0xffffffff;
  for (let i = 4; i < data.length + 8; ++i) c = CRC_TABLE[(c ^ out[i]) & 0xff] ^ (c >>> 8);
  out.writeUInt32BE((c ^ 0xffffffff) >>> 0, data.length + 8);
  return out;
}

// An EXIF block (little-endian TIFF) holding only the Orientation tag.
function exifBlock(orientation) {
  const block = Buffer.alloc(26);
  block.write('II', 0, 'latin1');
  block.writeUInt16LE(42, 2);
  block.writeUInt32LE(8, 4);
  block.writeUInt16LE(1, 8);
  block.writeUInt16LE(0x0112, 10);
  block.writeUInt16LE(3, 12);
  block.writeUInt32LE(1, 14);
  block.writeUInt16LE(orientation, 18);
  return block;
}

const CHANNELS = { 0: 1, 2: 3, 3: 1, 4: 2, 6: 4 };
const ADAM7 = [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4], [1, 0, 2, 2], [0, 1, 1, 2]];

// A PNG file of samples (channels per pixel, row by row), written with the
// row filters in turn, Adam7 when interlaced, and its data in two IDAT chunks.
function pngFile({ width, height, colourType, bitDepth, samples, palette, trns, orientation, interlaced }) {
  const channels = CHANNELS[colourType];
  const step = Math.max(1, (channels * bitDepth) >> 3);
  const pack = (xs, y) => {
    const row = Buffer.alloc(Math.ceil((xs.length * channels * bitDepth) / 8));
    let bit = 0;
    for (const x of xs) {
      for (let c = 0; c < channels; ++c, bit += bitDepth) {
        const v = samples[(y * width + x) * channels + c];
        if (bitDepth === 16) row.writeUInt16BE(v, bit >> 3);
        else row[bit >> 3] |= v << (8 - bitDepth - (bit & 7));
      }
    }
    return row;
  };
  const passes = interlaced ? ADAM7 : [[0, 0, 1, 1]];
  const parts = [];
  let filter = 0;
  for (const [x0, y0, dx, dy] of passes) {
    const xs = [];
    for (let x = x0; x < width; x += dx) xs.push(x);
    if (xs.length === 0) continue;
    let previous = null;
    for (let y = y0; y < height; y += dy) {
      const row = pack(xs, y);
      const above = previous || Buffer.alloc(row.length);
      const out = Buffer.alloc(row.length + 1);
      out[0] = filter;
      for (let i = 0; i < row.length; ++i) {
        const a = i >= step ? row[i - step] : 0;
        const b = above[i];
        const c = i >= step ? above[i - step] : 0;
        const p = a + b - c;
        const paeth = Math.abs(p - a) <= Math.abs(p - b) && Math.abs(p - a) <= Math.abs(p - c) ? a
          : Math.abs(p - b) <= Math.abs(p - c) ? b : c;
        out[i + 1] = row[i] - [0, a, b, (a + b) >> 1, paeth][filter];
      }
      parts.push(out);
      previous = row;
      filter = (filter + 1) % 5;
    }
  }
  const data = zlib.deflateSync(Buffer.concat(parts));
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([bitDepth, colourType, 0, 0, interlaced ? 1 : 0], 8);
  const half = data.length >> 1;
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', header),
    ...(orientation ? [chunk('eXIf', exifBlock(orientation))] : []),
    ...(palette ? [chunk('PLTE', Buffer.from(palette))] : []),
    ...(trns ? [chunk('tRNS', Buffer.from(trns))] : []),
    chunk('IDAT', data.subarray(0, half)), chunk('IDAT', data.subarray(half)), chunk('IEND', Buffer.alloc(0)),
  ]);
}

// count samples of the pixels of a width x height picture: a dome over a
// slow ramp in the first, and patterns of (x, y) in the others, each below max.
function picture(width, height, channels, max) {
  const samples = [];
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      const dx = (x - width / 2) / (width / 2);
      const dy = (y - height / 2) / (height / 2);
      const dome = Math.max(0, 1 - dx * dx - dy * dy);
      samples.push(Math.round(max * (0.1 * (x / width) + 0.85 * Math.sqrt(dome))));
      for (let c = 1; c < channels; ++c) samples.push((x * 131 + y * 71 * c + c * 4099) % (max + 1));
    }
  }
  return samples;
}

function withApp1(jpeg, exif) {
  const segment = Buffer.concat([Buffer.from([0xff, 0xe1, 0, 0]), Buffer.from('Exif\0\0', 'latin1'), exif]);
  segment.writeUInt16BE(segment.length - 2, 2);
  return Buffer.concat([jpeg.subarray(0, 2), segment, jpeg.subarray(2)]);
}

// The same JPEG with its frame header claiming four components (as a CMYK
// file does): refused from its header alone.
function claimingFourComponents(jpeg) {
  for (let at = 2; at < jpeg.length;) {
    const marker = jpeg[at + 1];
    const length = jpeg.readUInt16BE(at + 2);
    if (marker === 0xc0 || marker === 0xc2) {
      const frame = jpeg.subarray(at + 4, at + 2 + length);
      const extra = Buffer.from([2, 0x11, 0, 3, 0x11, 0, 4, 0x11, 0]);
      const header = Buffer.concat([Buffer.from([0xff, marker, 0, 0]), frame.subarray(0, 5), Buffer.from([4]),
        frame.subarray(6, 9), extra]);
      header.writeUInt16BE(header.length - 2, 2);
      return Buffer.concat([jpeg.subarray(0, at), header, jpeg.subarray(at + 2 + length)]);
    }
    at += 2 + length;
  }
  throw new Error('no frame header');
}

// A 24-bit BMP file of grey values, bottom row first.
function bmpFile(width, height, grey) {
  const stride = (3 * width + 3) & ~3;
  const file = Buffer.alloc(54 + stride * height);
  file.write('BM', 0, 'latin1');
  file.writeUInt32LE(file.length, 2);
  file.writeUInt32LE(54, 10);
  file.writeUInt32LE(40, 14);
  file.writeInt32LE(width, 18);
  file.writeInt32LE(height, 22);
  file.writeUInt16LE(1, 26);
  file.writeUInt16LE(24, 28);
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) file.fill(grey[(height - 1 - y) * width + x], 54 + y * stride + 3 * x, 54 + y * stride + 3 * x + 3);
  }
  return file;
}

export default function register(test, options, after) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'rdsgen-exact-test-'));
  // Files the page opens by address: a folder of the served site.
  const site = fs.mkdtempSync(path.join(root, 'build-web', 'exact-test-'));
  const siteUrl = new URL(`${path.basename(site)}/`, options.base);
  const problems = [];
  let browser = null;
  let encoder = null;

  after(async () => {
    if (browser) await browser.close();
    fs.rmSync(work, { recursive: true, force: true });
    fs.rmSync(site, { recursive: true, force: true });
  });

  // A JPEG file of RGBA pixels, made by the npm decoder's sibling encoder.
  async function jpegFile(width, height, rgba, settings) {
    if (!encoder) {
      const module = await import(path.join(jpegPackage, 'encode.js'));
      await module.init(await WebAssembly.compile(fs.readFileSync(path.join(jpegPackage, 'codec/enc/mozjpeg_enc.wasm'))));
      encoder = module.default;
    }
    return Buffer.from(await encoder({ data: new Uint8ClampedArray(rgba), width, height }, settings));
  }

  // The native rdsgen on one thread: the output's bytes, or its error.
  function native(input, bytes, args, output = 'out.tga', others = {}) {
    const dir = fs.mkdtempSync(path.join(work, 'native-'));
    fs.writeFileSync(path.join(dir, input), bytes);
    for (const [name, other] of Object.entries(others)) fs.writeFileSync(path.join(dir, name), other);
    const run = spawnSync(path.resolve(options.rdsgen), [input, output, ...args],
      { cwd: dir, env: { ...process.env, RDSGEN_THREADS: '1' }, encoding: 'latin1' });
    const out = path.join(dir, output);
    const result = { bytes: run.status === 0 ? fs.readFileSync(out) : null, error: /ERROR: (.*)/.exec(run.stderr || '') };
    fs.rmSync(dir, { recursive: true, force: true });
    return result;
  }

  async function newPage() {
    if (!browser) {
      browser = await puppeteer.launch({
        executablePath: options.chromium,
        headless: true,
        userDataDir: fs.mkdtempSync(path.join(work, 'chromium-')),
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
          '--disable-component-update', '--disable-sync'],
      });
    }
    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 900 });
    page.on('console', (message) => {
      if (message.type() === 'error') problems.push(`console: ${message.text()}`);
    });
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    return page;
  }

  // Opens ?src= for a file of the site with the options; the page's state
  // once it has settled.
  async function openSource(page, name, args) {
    const query = `?src=${encodeURIComponent(new URL(name, siteUrl).pathname)}&args=${encodeURIComponent(args.join(' '))}`;
    await page.goto(new URL(query, options.base).href);
    await page.waitForFunction(() => Number(document.body.dataset.settled || 0) > 0 && document.body.dataset.state !== 'working',
      { timeout: 60000 });
    return page.evaluate(() => ({ ...document.body.dataset, info: document.getElementById('height-info').textContent }));
  }

  // The page's TARGA bytes for the file are the command line's.
  async function sameAsNative(page, name, bytes, args, kind) {
    fs.writeFileSync(path.join(site, name), bytes);
    const expected = native(name, bytes, args);
    assert.ok(expected.bytes, `${name}: the command line refused it: ${expected.error}`);
    const state = await openSource(page, name, args);
    assert.equal(state.state, 'done', `${name}: ${state.message}`);
    assert.equal(state.sha256, sha256(expected.bytes), name);
    if (kind) assert.match(state.info, new RegExp(`, ${kind} \\((PNG|JPEG)\\)`), name);
  }

  test('exact: PNG files of every colour type and bit depth give the command line\'s bytes', async () => {
    const page = await newPage();
    const [w, h] = [181, 97];
    const palette = Array.from({ length: 16 * 3 }, (_, i) => (i * 53) % 256);
    const cases = [
      ['grey16.png', { colourType: 0, bitDepth: 16, samples: picture(w, h, 1, 65535) }, '16-bit grey'],
      ['grey16-key-adam7.png', { colourType: 0, bitDepth: 16, samples: picture(w, h, 1, 65535), trns: [0x80, 0x00], interlaced: true }, '16-bit grey'],
      ['rgba16.png', { colourType: 6, bitDepth: 16, samples: picture(w, h, 4, 65535) }, 'colour'],
      ['grey-alpha16.png', { colourType: 4, bitDepth: 16, samples: picture(w, h, 2, 65535) }, '16-bit grey'],
      ['palette4-trns-adam7.png', { colourType: 3, bitDepth: 4, samples: picture(w, h, 1, 15), palette, trns: [0, 90, 255, 17], interlaced: true }, 'colour'],
      ['palette8-trns.png', { colourType: 3, bitDepth: 8, samples: picture(w, h, 1, 15), palette, trns: [255, 0] }, 'colour'],
      ['grey1.png', { colourType: 0, bitDepth: 1, samples: picture(w, h, 1, 1) }, '8-bit grey'],
      ['grey2-key-adam7.png', { colourType: 0, bitDepth: 2, samples: picture(w, h, 1, 3), trns: [0, 2], interlaced: true }, '8-bit grey'],
      ['grey4.png', { colourType: 0, bitDepth: 4, samples: picture(w, h, 1, 15) }, '8-bit grey'],
      ['grey-alpha8.png', { colourType: 4, bitDepth: 8, samples: picture(w, h, 2, 255) }, '8-bit grey'],
      ['rgb16-key-adam7.png', { colourType: 2, bitDepth: 16, samples: picture(w, h, 3, 65535), trns: [0, 0, 0x10, 3, 0x20, 3], interlaced: true }, 'colour'],
      ['rgb8.png', { colourType: 2, bitDepth: 8, samples: picture(w, h, 3, 255) }, 'colour'],
    ];
    for (const [name, layout, kind] of cases) {
      await sameAsNative(page, name, pngFile({ width: w, height: h, ...layout }), ['/PatT:7', '/Rand:4242'], kind);
    }
    // A pattern image named in the options is fetched beside the image.
    const pattern = fs.readFileSync(path.join(root, 'web/demo/pattern.tga'));
    fs.writeFileSync(path.join(site, 'pattern.tga'), pattern);
    const args = ['/PatT:pattern.tga', '/Stret:Z', '/Rand:9'];
    const expected = native('grey16.png', fs.readFileSync(path.join(site, 'grey16.png')), args, 'out.tga', { 'pattern.tga': pattern });
    const state = await openSource(page, 'grey16.png', args);
    assert.equal(state.sha256, sha256(expected.bytes), 'with a pattern image');
    await page.close();
  });

  test('exact: EXIF orientation turns PNG and JPEG files as on the command line', async () => {
    const page = await newPage();
    const [w, h] = [120, 70];
    await sameAsNative(page, 'grey16-turned.png',
      pngFile({ width: w, height: h, colourType: 0, bitDepth: 16, samples: picture(w, h, 1, 65535), orientation: 6 }),
      ['/Rand:31', '/FocP:0'], '16-bit grey');
    const rgba = Buffer.alloc(w * h * 4);
    const samples = picture(w, h, 3, 255);
    for (let i = 0; i < w * h; ++i) rgba.set([...samples.slice(3 * i, 3 * i + 3), 255], 4 * i);
    const colour = await jpegFile(w, h, rgba, { quality: 90 });
    const grey = await jpegFile(w, h, rgba, { quality: 85, color_space: 1, progressive: false });
    await sameAsNative(page, 'colour.jpg', colour, ['/PatT:5', '/Rand:8'], 'colour');
    await sameAsNative(page, 'colour-turned6.jpg', withApp1(colour, exifBlock(6)), ['/PatT:5', '/Rand:8'], 'colour');
    await sameAsNative(page, 'grey-turned3.jpg', withApp1(grey, exifBlock(3)), ['/Rand:8'], '8-bit grey');
    const state = await openSource(page, 'grey-turned3.jpg', []);
    assert.match(state.info, /120 x 70/);
    await sameAsNative(page, 'grey-turned8.jpg', withApp1(grey, exifBlock(8)), ['/Rand:8'], '8-bit grey');
    assert.match((await openSource(page, 'grey-turned8.jpg', [])).info, /70 x 120/);
    await page.close();
  });

  test('exact: what the command line refuses the page refuses, BMP is the page\'s own, ?src= reads only this site', async () => {
    const page = await newPage();
    const rgba = Buffer.alloc(32 * 16 * 4, 200);
    const cmyk = claimingFourComponents(await jpegFile(32, 16, rgba, { quality: 90, color_space: 1, progressive: false }));
    fs.writeFileSync(path.join(site, 'cmyk.jpg'), cmyk);
    const refused = native('cmyk.jpg', cmyk, []);
    assert.match(refused.error[1], /CMYK and YCCK images are not supported/);
    let state = await openSource(page, 'cmyk.jpg', []);
    assert.equal(state.state, 'error');
    assert.equal(state.message, 'cmyk.jpg: Can\'t read JPEG image: CMYK and YCCK images are not supported.');

    const broken = pngFile({ width: 8, height: 8, colourType: 0, bitDepth: 8, samples: picture(8, 8, 1, 255) });
    broken[45] ^= 1;  // a byte of the first IDAT chunk: its CRC no longer holds
    fs.writeFileSync(path.join(site, 'broken.png'), broken);
    assert.ok(native('broken.png', broken, []).error, 'the command line refuses a wrong CRC');
    state = await openSource(page, 'broken.png', []);
    assert.equal(state.state, 'error');
    assert.match(state.message, /^broken\.png: Can't read PNG image: /);

    // A BMP file: the browser decodes it, and the page says the command line does not read it.
    const bmp = bmpFile(40, 30, picture(40, 30, 1, 255));
    fs.writeFileSync(path.join(site, 'grey.bmp'), bmp);
    assert.ok(native('grey.bmp', bmp, []).error, 'the command line refuses BMP');
    state = await openSource(page, 'grey.bmp', ['/Rand:3']);
    assert.equal(state.state, 'done', state.message);
    assert.match(state.info, /40 x 30, 8-bit grey \(BMP, read by the browser; the command line does not read it\)/);

    await page.goto(new URL(`?src=${encodeURIComponent('http://example.invalid/x.png')}`, options.base).href);
    await page.waitForFunction(() => document.body.dataset.state === 'error', { timeout: 20000 });
    assert.match(await page.evaluate(() => document.body.dataset.message), /only images of this page's own site/);
    await page.close();
  });

  test('exact: the PNG download is the command line\'s PNG, grey when the stereogram is grey', async () => {
    const page = await newPage();
    const folder = fs.mkdtempSync(path.join(work, 'downloads-'));
    const [w, h] = [300, 200];
    const file = pngFile({ width: w, height: h, colourType: 0, bitDepth: 8, samples: picture(w, h, 1, 255) });
    fs.writeFileSync(path.join(site, 'for-png.png'), file);
    const report = [];
    for (const [args, grey] of [[['/Rand:5'], true], [['/PatT:5', '/Rand:5'], false]]) {
      const state = await openSource(page, 'for-png.png', args);
      assert.equal(state.state, 'done', state.message);
      const session = await page.createCDPSession();
      await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder });
      const expected = native('for-png.png', file, args, 'out.png').bytes;
        await page.click('#download-png');
      let added = [];
      for (let waited = 0; added.length === 0 && waited < 20000; waited += 100) {
        await new Promise((resolve) => setTimeout(resolve, 100));
        added = fs.readdirSync(folder).filter((name) => !name.endsWith('.crdownload'));
      }
      assert.equal(added.length, 1, 'one PNG downloaded');
      await new Promise((resolve) => setTimeout(resolve, 100));
      const png = fs.readFileSync(path.join(folder, added[0]));
      fs.rmSync(path.join(folder, added[0]));  // the next download has the same name
      // The same header (sizes, 8 bits, grey or RGB) and the same pixels.
      assert.deepEqual(png.subarray(0, 33), expected.subarray(0, 33));
      assert.equal(png[25], grey ? 0 : 2);
      const [mine, theirs] = [decodePng(png), decodePng(expected)];
      assert.ok(mine.rgba.equals(theirs.rgba), 'the pixels differ from the command line\'s PNG');
      report.push(`${grey ? 'grey' : 'colour'}: ${png.equals(expected) ? 'same bytes' : `same pixels, ${png.length} bytes against ${expected.length}`}`);
    }
    console.log(`     PNG download against the command line's: ${report.join('; ')}`);
    await page.close();
  });

  test('exact: no console or page errors', () => {
    assert.deepEqual(problems, []);
  });
}
