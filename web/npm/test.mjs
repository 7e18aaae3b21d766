// The npm package as its users get it: installed from the tarball into an
// empty folder (offline), imported by name, it renders the demo to the
// command line's bytes, from a TARGA or PNG file and from raw samples, with
// a pattern image, as PNG, and refuses what the command line refuses.
//
// The TypeScript types take the documented use and refuse wrong arguments
// (tsc), and a browser bundle of the package made by esbuild renders the
// demo in headless Chromium; each is left out, with a line that says so,
// where its tools are missing (tsc; esbuild, Chromium or
// web/node_modules/puppeteer-core).
//
//   node web/npm/test.mjs --tarball build-npm/rdsgen-2.0.0.tgz --rdsgen build/rdsgen
//       [--chromium /usr/bin/chromium]
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { parseArgs } from 'node:util';
import { deflateSync, inflateSync } from 'node:zlib';

const { values: args } = parseArgs({
  options: { tarball: { type: 'string' }, rdsgen: { type: 'string' }, chromium: { type: 'string', default: '/usr/bin/chromium' } },
});
const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../..');
const tarball = path.resolve(args.tarball);
const rdsgen = path.resolve(args.rdsgen);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'rdsgen-npm-'));

// Installed offline into an empty folder, as a user's project would.
const project = path.join(work, 'project');
fs.mkdirSync(project);
execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund', '--silent', tarball], { cwd: project, stdio: 'inherit' });
const script = path.join(project, 'check.mjs');
fs.writeFileSync(script, "export * from 'rdsgen';\n");
const rdsgenPackage = await import(script);
const { render, RdsgenError, version } = rdsgenPackage;

const demo = path.join(root, 'web/demo');
const demoArgs = fs.readFileSync(path.join(demo, 'args.txt'), 'utf8').trim();
const demoHeight = fs.readFileSync(path.join(demo, 'height.tga'));
const demoPattern = fs.readFileSync(path.join(demo, 'pattern.tga'));

// The command line's output file for these arguments, run in a folder of
// its own with the given files.
function native(options, files) {
  const dir = fs.mkdtempSync(path.join(work, 'native-'));
  for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), bytes);
  execFileSync(rdsgen, [Object.keys(files)[0], 'out.tga', ...options], { cwd: dir, stdio: 'ignore' });
  return fs.readFileSync(path.join(dir, 'out.tga'));
}

const tests = [];
const test = (name, fn) => tests.push({ name, fn });

test('the demo renders to the command line\'s bytes', async () => {
  assert.equal(version, execFileSync(rdsgen, ['--version'], { encoding: 'utf8' }).trim().split(' ')[1]);
  const expected = native(demoArgs.split(/\s+/), { 'height.tga': demoHeight });
  const result = await render(demoHeight, demoArgs);
  assert.deepEqual(Buffer.from(result.bytes), expected);
  assert.deepEqual(result.tga, result.bytes);
  assert.equal(result.width, expected.readUInt16LE(12));
  assert.equal(result.height, expected.readUInt16LE(14));
  assert.equal(result.grey, false);
  assert.deepEqual(result.warnings, []);
});

test('raw samples, a pattern image and /Width give the command line\'s bytes', async () => {
  // The demo's heights as raw 8-bit samples (the file is 8-bit grey, top row first or not).
  const width = demoHeight.readUInt16LE(12);
  const height = demoHeight.readUInt16LE(14);
  assert.equal(demoHeight[2], 3);
  assert.equal(demoHeight[16], 8);
  const stored = demoHeight.subarray(18 + demoHeight[0], 18 + demoHeight[0] + width * height);
  const samples = new Uint8Array(width * height);
  const topFirst = (demoHeight[17] & 0x20) !== 0;
  for (let y = 0; y < height; ++y) {
    const from = (topFirst ? y : height - 1 - y) * width;
    samples.set(stored.subarray(from, from + width), y * width);
  }
  const options = ['/PatT:pattern.tga', '/Rand:99', '/Width:150', '/PSiz:P40'];
  const expected = native(options, { 'height.tga': demoHeight, 'pattern.tga': demoPattern });
  const result = await render({ width, height, samples }, options, { pattern: demoPattern });
  assert.deepEqual(Buffer.from(result.bytes), expected);

  // 16-bit samples, low bytes in use, against the same samples in a 16-bit TARGA file.
  const wide = Uint16Array.from(samples, (v, i) => v * 256 + (i % 251));
  const file = Buffer.alloc(18 + 2 * wide.length);
  file[2] = 3;
  file.writeUInt16LE(width, 12);
  file.writeUInt16LE(height, 14);
  file[16] = 16;
  file[17] = 0x20;
  wide.forEach((v, i) => file.writeUInt16LE(v, 18 + 2 * i));
  const sixteen = await render({ width, height, samples: wide }, '/PatT:7 /Rand:5 /Width:333');
  assert.deepEqual(Buffer.from(sixteen.bytes), native(['/PatT:7', '/Rand:5', '/Width:333'], { 'h16.tga': file }));
});

// A PNG file: the IHDR fields after the sizes, and the rows each with its
// filter byte.
function pngFile(width, height, headerTail, rows) {
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    let c = 0xffffffff;
    for (const b of body) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
    const out = Buffer.alloc(12 + data.length);
    out.writeUInt32BE(data.length, 0);
    body.copy(out, 4);
    out.writeUInt32BE((c ^ 0xffffffff) >>> 0, 8 + data.length);
    return out;
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  Buffer.from(headerTail).copy(header, 8);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', header),
    chunk('IDAT', deflateSync(Buffer.concat(rows))), chunk('IEND', Buffer.alloc(0))]);
}

test('a 16-bit grey PNG height image gives the command line\'s bytes; JPEG is refused', async () => {
  // A dome in 16-bit samples, the low bytes in use; rows filtered Sub and Up
  // in turn, so that the engine's unfiltering is at work.
  const width = 97;
  const height = 61;
  const rows = [];
  let previous = Buffer.alloc(2 * width);
  for (let y = 0; y < height; ++y) {
    const line = Buffer.alloc(2 * width);
    for (let x = 0; x < width; ++x) {
      const d = Math.hypot(x - width / 2, y - height / 2) / (height / 2);
      line.writeUInt16BE(Math.round(Math.max(0, 1 - d * d) * 65535) ^ (x * 7 + y) % 64, 2 * x);
    }
    const filtered = Buffer.alloc(1 + line.length);
    filtered[0] = y % 2 === 0 ? 1 : 2;
    for (let i = 0; i < line.length; ++i) {
      const predicted = y % 2 === 0 ? (i >= 2 ? line[i - 2] : 0) : previous[i];
      filtered[1 + i] = (line[i] - predicted) & 0xff;
    }
    rows.push(filtered);
    previous = line;
  }
  const png = pngFile(width, height, [16, 0, 0, 0, 0], rows);
  const options = ['/PatT:6', '/Rand:12', '/Width:200'];
  const result = await render(png, options);
  assert.deepEqual(Buffer.from(result.bytes), native(options, { 'dome16.png': png }));

  await assert.rejects(render(new Uint8Array([0xff, 0xd8, 0xff, 0xe0, 0, 16]), ''),
    (e) => e instanceof RdsgenError && /JPEG/.test(e.message));
});

test('PNG output holds the TARGA file\'s pixels', async () => {
  const { bytes, tga, width, height } = await render(demoHeight, '/PatT:1 /Rand:3', { format: 'png' });
  assert.deepEqual([...bytes.subarray(0, 8)], [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  const view = Buffer.from(bytes);
  assert.equal(view.readUInt32BE(16), width);
  assert.equal(view.readUInt32BE(20), height);
  assert.equal(view[25], 0);  // grey
  const idat = view.subarray(41, 41 + view.readUInt32BE(33));
  assert.equal(view.toString('latin1', 37, 41), 'IDAT');
  const raw = inflateSync(idat);
  const rows = [];
  for (let y = 0; y < height; ++y) rows.push(raw.subarray(y * (width + 1) + 1, (y + 1) * (width + 1)));
  assert.deepEqual(Buffer.concat(rows), Buffer.from(tga.subarray(18)));
});

test('refusals carry the command line\'s message; warnings its texts', async () => {
  await assert.rejects(render(demoHeight, '/PSiz:P0'), (e) => e instanceof RdsgenError &&
    e.message === 'Pattern width must be at least 1 pixel.');
  await assert.rejects(render(demoHeight, '/Bogus'), (e) => e instanceof RdsgenError &&
    e.message === 'Unknown option: /Bogus');
  await assert.rejects(render(new Uint8Array([1, 2, 3]), ''), RdsgenError);
  await assert.rejects(render(demoHeight, '/PatT:p.tga'), RdsgenError);
  const warned = await render(demoHeight, ['/CutOff', '/Rand:1']);
  assert.deepEqual(warned.warnings, ["WARNING: 'CutOff' option may not be used with 'FocP=1'. '/FocP=2' assumed."]);
  // The queue goes on after a refusal.
  assert.equal((await render(demoHeight, '/Rand:1')).grey, true);
});

// The types, checked by the TypeScript compiler where it is installed.
if (spawnSync('tsc', ['--version']).status !== 0) {
  console.log('skip the TypeScript types: no tsc (apt-get install node-typescript)');
} else {
  test('the TypeScript types take the documented use and refuse wrong arguments', () => {
    const tsc = (file, text) => {
      fs.writeFileSync(path.join(project, file), text);
      return spawnSync('tsc', ['--strict', '--noEmit', '--module', 'nodenext', '--moduleResolution', 'nodenext',
        '--target', 'es2020', file], { cwd: project, encoding: 'utf8' });
    };
    const good = tsc('good.mts', [
      "import { render, RdsgenError, version, type Stereogram } from 'rdsgen';",
      "const made: Promise<Stereogram> = render(new Uint8Array(18), '/PatT:6', { format: 'png', pattern: new ArrayBuffer(4) });",
      'made.then((s) => [s.width + s.height, s.tga.length + s.bytes.length, s.grey, s.warnings.join()]);',
      "render({ width: 2, height: 1, samples: new Uint16Array(2), kind: 'grey16' }, ['/Rand:1'])",
      '  .catch((e: unknown) => e instanceof RdsgenError && e.warnings);',
      'export const v: string = version;',
    ].join('\n'));
    assert.equal(good.status, 0, good.stdout);
    const bad = tsc('bad.mts', [
      "import { render } from 'rdsgen';",
      'render(42);',
      'render(new Uint8Array(1), { seed: 1 });',
      "render(new Uint8Array(1), '', { format: 'jpeg' });",
      "render({ width: 1, height: 1, samples: new Uint8Array(1), kind: 'grey12' });",
    ].join('\n'));
    const lines = [...bad.stdout.matchAll(/^bad\.mts\((\d+),\d+\): error/gm)].map((m) => Number(m[1]));
    assert.deepEqual(lines, [2, 3, 4, 5], bad.stdout);
  });
}

// What the browser-bundle test needs, or why it is left out.
function bundlerTools() {
  if (spawnSync('esbuild', ['--version']).status !== 0) return { missing: 'esbuild (apt-get install esbuild)' };
  if (!fs.existsSync(args.chromium)) return { missing: `${args.chromium} (apt-get install chromium)` };
  try {
    const require = createRequire(path.join(root, 'web/package.json'));
    return { puppeteer: pathToFileURL(require.resolve('puppeteer-core')).href };
  } catch {
    return { missing: 'puppeteer-core (npm ci in web/)' };
  }
}

const tools = bundlerTools();
if (tools.missing) {
  console.log(`skip a browser bundle: no ${tools.missing}`);
} else {
  test('a browser bundle made by esbuild renders the demo to the command line\'s bytes in Chromium', async () => {
    fs.writeFileSync(path.join(project, 'entry.js'), "import { render } from 'rdsgen';\nwindow.rdsgenRender = render;\n");
    execFileSync('esbuild', ['entry.js', '--bundle', '--platform=browser', '--format=esm', '--outfile=bundle.js',
      '--log-level=warning'], { cwd: project, stdio: 'inherit' });
    const bundle = fs.readFileSync(path.join(project, 'bundle.js'), 'utf8');
    const { default: puppeteer } = await import(tools.puppeteer);
    const browser = await puppeteer.launch({
      executablePath: args.chromium,
      headless: true,
      userDataDir: fs.mkdtempSync(path.join(work, 'chromium-')),
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
    });
    try {
      const page = await browser.newPage();
      const errors = [];
      page.on('pageerror', (error) => errors.push(error.message));
      await page.addScriptTag({ content: bundle, type: 'module' });
      await page.waitForFunction(() => typeof window.rdsgenRender === 'function');
      const bytes = await page.evaluate(async (height, options) => {
        const file = Uint8Array.from(atob(height), (c) => c.charCodeAt(0));
        const result = await window.rdsgenRender(file, options);
        return btoa(Array.from(result.bytes, (b) => String.fromCharCode(b)).join(''));
      }, demoHeight.toString('base64'), demoArgs);
      assert.deepEqual(errors, []);
      assert.deepEqual(Buffer.from(bytes, 'base64'), native(demoArgs.split(/\s+/), { 'height.tga': demoHeight }));
    } finally {
      await browser.close();
    }
  });
}

let failed = 0;
for (const { name, fn } of tests) {
  try {
    await fn();
    console.log(`ok   ${name}`);
  } catch (error) {
    ++failed;
    console.log(`FAIL ${name}\n     ${String(error && error.stack || error).split('\n').join('\n     ')}`);
  }
}
fs.rmSync(work, { recursive: true, force: true });
console.log(`${tests.length - failed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
