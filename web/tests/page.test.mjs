// The real page in headless Chromium, checked against the native rdsgen:
// the same TARGA bytes for the same image, options and seed.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { colourToHex } from '../options.js';
import { encodePng, decodePng, encodeTga, tgaToRgba, tgaGreyPixels } from './images.mjs';
import {
  demoArgs, demoDir, demoHeight, launchChromium, root, sha256, sleep, typeInto, waitSettled, writeFileIn,
} from './helpers.mjs';

export default function register(test, options, after) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'rdsgen-web-test-'));
  const problems = [];
  let browser = null;
  const benchmarks = [];

  // The native rdsgen on one thread, in a folder of its own holding files
  // (names to bytes): its output's hash and bytes, and its error message.
  function native(args, files = { 'height.tga': demoHeight }, input = 'height.tga') {
    const dir = fs.mkdtempSync(path.join(work, 'native-'));
    for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), bytes);
    const started = process.hrtime.bigint();
    const run = spawnSync(path.resolve(options.rdsgen), [input, 'out.tga', ...args],
      { cwd: dir, env: { ...process.env, RDSGEN_THREADS: '1' }, encoding: 'latin1' });
    const ms = Number(process.hrtime.bigint() - started) / 1e6;
    const out = path.join(dir, 'out.tga');
    const bytes = run.status === 0 ? fs.readFileSync(out) : null;
    fs.rmSync(dir, { recursive: true, force: true });
    const error = /ERROR: (.*)/.exec(run.stderr || '');
    return { status: run.status, bytes, sha256: bytes && sha256(bytes), error: error && error[1], ms };
  }

  async function launch() {
    if (browser) return browser;
    browser = await launchChromium(puppeteer, options.chromium, fs.mkdtempSync(path.join(work, 'chromium-')),
      ['--disable-quic']);
    return browser;
  }

  // Every console error, page error and failed request of every page counts.
  function watch(page) {
    page.on('console', (message) => {
      if (message.type() === 'error') problems.push(`console: ${message.text()}`);
    });
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('requestfailed', (request) => {
      // A download from a blob: address ends its request as aborted.
      if (!request.url().startsWith('blob:')) problems.push(`request failed: ${request.url()}`);
    });
    page.on('response', (response) => {
      if (response.status() >= 400) problems.push(`HTTP ${response.status()}: ${response.url()}`);
    });
    page.on('workercreated', (worker) => {
      worker.on('console', (message) => {
        if (message.type() === 'error') problems.push(`worker console: ${message.text()}`);
      });
    });
  }

  function snapshot(page) {
    return page.evaluate(() => ({
      ...document.body.dataset,
      message: document.getElementById('message').textContent,
      notes: document.getElementById('notes').textContent,
    }));
  }

  // Waits until the page is idle after `before` idle moments, and stays idle
  // for a while (a change may start a second run just after the first).
  const waitIdle = (page, before) => waitSettled(page, before, 60000, 250, snapshot);

  async function act(page, action) {
    const before = Number(await page.evaluate(() => document.body.dataset.settled || 0));
    await action();
    return waitIdle(page, before);
  }

  async function open(query = '', viewport = { width: 1280, height: 900 }) {
    const page = await (await launch()).newPage();
    watch(page);
    await page.setViewport(viewport);
    await page.goto(new URL(query, options.base).href);
    await waitIdle(page, 0);
    return page;
  }

  async function openDemo(page, extra) {
    const query = extra ? `?demo&args=${encodeURIComponent(extra.join(' '))}` : '?demo';
    await page.goto(new URL(query, options.base).href);
    return waitIdle(page, 0);
  }

  const writeFile = (name, bytes) => writeFileIn(work, name, bytes);

  async function setColour(page, selector, hex) {
    await page.$eval(selector, (input, value) => {
      input.value = value;
      input.dispatchEvent(new Event('input', { bubbles: true }));
      input.dispatchEvent(new Event('change', { bubbles: true }));
    }, hex);
  }

  async function dropFile(page, zone, name, bytes, type) {
    await page.evaluate((zoneSelector, fileName, base64, mime) => {
      const data = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
      const transfer = new DataTransfer();
      transfer.items.add(new File([data], fileName, { type: mime }));
      const target = document.querySelector(zoneSelector);
      for (const kind of ['dragenter', 'dragover', 'drop']) {
        target.dispatchEvent(new DragEvent(kind, { dataTransfer: transfer, bubbles: true, cancelable: true }));
      }
    }, zone, name, Buffer.from(bytes).toString('base64'), type);
  }

  // A file the page downloads after a click, from the download folder.
  async function download(page, selector, folder) {
    const before = new Set(fs.readdirSync(folder));
    await page.click(selector);
    for (let waited = 0; waited < 20000; waited += 100) {
      const added = fs.readdirSync(folder).filter((name) => !before.has(name) && !name.endsWith('.crdownload'));
      if (added.length > 0) {
        await sleep(100);
        return { name: added[0], bytes: fs.readFileSync(path.join(folder, added[0])) };
      }
      await sleep(100);
    }
    throw new Error(`no download after clicking ${selector}`);
  }

  after(async () => {
    if (browser) await browser.close();
    fs.rmSync(work, { recursive: true, force: true });
    for (const line of benchmarks) console.log(line);
  });

  // --- One option table -----------------------------------------------------

  test('page: the controls are the command line\'s options with its defaults, and web/ names none itself', async () => {
    // The options and defaults as the command line's usage text shows them.
    // The page makes single stereograms: the options of frame sequences,
    // listed after their own heading, have no controls.
    const usage = spawnSync(path.resolve(options.rdsgen), ['--help'], { encoding: 'latin1' }).stdout.split(/^Frame sequences/m)[0];
    const shown = [...usage.matchAll(/^ {2}\/(\w+)(?::n \[([A-Z]?)\s*([^\]]*)\])?/gm)]
      .map(([, name, , value]) => ({ name, value }));
    assert.ok(shown.length > 10, usage);
    const page = await open('');
    const controls = await page.$$eval('[data-option]', (elements) => elements.map((e) => ({
      name: e.dataset.option, kind: e.dataset.kind, type: e.type, value: e.value, placeholder: e.placeholder,
    })));
    assert.deepEqual([...new Set(controls.map((c) => c.name))].sort(), shown.map((o) => o.name).sort());
    for (const { name, value } of shown) {
      const control = controls.find((c) => c.name === name);
      if (control.kind === 'seed' || value === undefined || control.type === 'fieldset') continue;
      const expected = control.type === 'color' ? colourToHex(Number(value)) : value;
      assert.equal(control.value || control.placeholder, expected, name);
    }
    const sources = fs.readdirSync(path.join(root, 'web')).filter((name) => /\.(js|html)$/.test(name));
    for (const file of sources) {
      const text = fs.readFileSync(path.join(root, 'web', file), 'utf8');
      for (const { name } of shown) assert.doesNotMatch(text, new RegExp(`\\b${name}\\b`), `${file} names ${name}`);
    }
    await page.close();
  });

  test('page: the notes are the engine\'s warning texts', async () => {
    const page = await open('?demo');
    const extra = ['/PatT:pattern.tga', '/Stret:XPQ', '/Hidden'];
    const state = await openDemo(page, extra);
    assert.equal(state.state, 'done', state.message);
    const notes = state.notes.replace(/\s+/g, ' ');
    assert.match(notes, /WARNING: Unknown '\/Stret=' option\(s\) 'Q' ignored\./);
    assert.match(notes, /WARNING: The stretching option 'P' and 'X' may not be used together\. Option 'X' ignored\./);
    assert.match(notes, /WARNING: combining '\/Hidden' and '\/PPos=2' may cause funny results\./);
    const files = { 'height.tga': demoHeight, 'pattern.tga': fs.readFileSync(path.join(demoDir, 'pattern.tga')) };
    assert.equal(state.sha256, native([...demoArgs, ...extra], files).sha256);
    await page.close();
  });

  // --- Same bytes as the command line ---------------------------------------

  test('page: the demo gives the command line\'s bytes for every pattern type', async () => {
    const page = await open('?demo');
    for (let type = 1; type <= 7; ++type) {
      const extra = [`/PatT:${type}`];
      const state = await openDemo(page, extra);
      const expected = native([...demoArgs, ...extra]);
      assert.equal(expected.status, 0);
      assert.equal(state.state, 'done', `type ${type}: ${state.message}`);
      assert.equal(state.sha256, expected.sha256, `pattern type ${type}`);
    }
    await page.close();
  });

  test('page: the demo gives the command line\'s bytes for options, colours and pattern images', async () => {
    const page = await open('?demo');
    const files = { 'height.tga': demoHeight, 'pattern.tga': fs.readFileSync(path.join(demoDir, 'pattern.tga')) };
    const cases = [
      ['/PatT:1', '/NoRD', '/VInc', '/Inv', '/CutOff', '/FocP:2'],
      ['/PatT:2', '/Double', '/Hidden', '/PPos:1', '/PSiz:S6', '/TrueOut'],
      ['/PatT:3', '/PPos:3', '/FocP:0', '/PUse:-20', '/Dens:90', '/PSiz:P100'],
      ['/PatT:5', '/TopF:000255000', '/BotF:255000255', '/TopB:010020030', '/BotB:300000000'],
      ['/PatT:7', '/NoRD', '/Double', '/VInc', '/Rand:-5'],
      ['/PatT:pattern.tga'],
      ['/PatT:pattern.tga', '/Stret:XYZ', '/NoRD'],
      ['/PatT:pattern.tga', '/PSiz:P40', '/Stret:XR', '/Inv'],
      ['/PatT:pattern.tga', '/Stret:P', '/Hidden', '/PPos:1'],
    ];
    for (const extra of cases) {
      const state = await openDemo(page, extra);
      const expected = native([...demoArgs, ...extra], files);
      assert.equal(expected.status, 0, extra.join(' '));
      assert.equal(state.state, 'done', `${extra.join(' ')}: ${state.message}`);
      assert.equal(state.sha256, expected.sha256, extra.join(' '));
    }
    await page.close();
  });

  // --- Using the page ---------------------------------------------------------

  test('page: a PNG chosen with the file input and options set with the controls give the command line\'s bytes', async () => {
    const page = await open('');
    assert.equal((await snapshot(page)).state, 'done', 'an example is shown on opening');
    const { width, height, pixels } = tgaGreyPixels(demoHeight);
    const rgba = new Uint8Array(width * height * 4);
    pixels.forEach((v, i) => rgba.set([v, v, v, 255], 4 * i));
    const png = writeFile('height.png', encodePng(width, height, rgba));
    const input = await page.$('#height-file');
    let state = await act(page, () => input.uploadFile(png));
    assert.equal(state.state, 'done', state.message);
    // An RGBA PNG is a colour image, as on the command line; grey colours
    // give the heights of the grey image.
    assert.match(await page.$eval('#height-info', (e) => e.textContent), /400 x 300, colour \(PNG\)/);

    await act(page, () => typeInto(page, '#Rand', '777'));
    await act(page, () => page.select('#PatT', '3'));
    await act(page, () => typeInto(page, '#PSiz', '7'));
    await act(page, () => page.select('#PSizUnit', 'S'));
    await act(page, () => page.click('#Double'));
    await act(page, () => page.click('#Inv'));
    await act(page, () => typeInto(page, '#PUse', '31'));
    state = await act(page, () => setColour(page, '#TopB', '#102030'));
    const expected = native(['/PatT:3', '/PSiz:S7', '/Double', '/Inv', '/PUse:31', '/TopB:016032048', '/Rand:777']);
    assert.equal(state.state, 'done', state.message);
    assert.equal(state.sha256, expected.sha256);

    // Unchecking a flag and emptying a field go back to the defaults.
    await act(page, () => page.click('#Double'));
    state = await act(page, () => typeInto(page, '#PSiz', ''));
    assert.equal(state.sha256, native(['/PatT:3', '/Inv', '/PUse:31', '/TopB:016032048', '/Rand:777']).sha256);
    await page.close();
  });

  test('page: dropped PNG files with transparency are laid over black, grey or colour', async () => {
    const page = await open('');
    await act(page, () => typeInto(page, '#Rand', '4242'));
    await act(page, () => page.select('#PatT', '7'));
    const { width, height, pixels } = tgaGreyPixels(demoHeight);
    const over = (v, a) => Math.round((v * a) / 255);
    const alpha = (i) => (i * 37 + (i >> 9) * 11) % 256;

    // Grey with transparency: an 8-bit grey image of the composited values.
    const greyRgba = new Uint8Array(width * height * 4);
    const greyExpected = Buffer.alloc(width * height);
    pixels.forEach((v, i) => {
      greyRgba.set([v, v, v, alpha(i)], 4 * i);
      greyExpected[i] = over(v, alpha(i));
    });
    let state = await act(page, () => dropFile(page, '#height-drop', 'grey.png', encodePng(width, height, greyRgba), 'image/png'));
    assert.equal(state.state, 'done', state.message);
    let expected = native(['/PatT:7', '/Rand:4242'], { 'h.tga': encodeTga(width, height, greyExpected, false) }, 'h.tga');
    assert.equal(state.sha256, expected.sha256, 'grey PNG with alpha');

    // Colour with transparency: a colour image (blue, green, red) of the composited values.
    const colourRgba = new Uint8Array(width * height * 4);
    const colourExpected = Buffer.alloc(width * height * 3);
    pixels.forEach((v, i) => {
      const [r, g, b, a] = [v, (v * 3 + i) & 255, 255 - v, alpha(i) | 1];
      colourRgba.set([r, g, b, a], 4 * i);
      colourExpected.set([over(b, a), over(g, a), over(r, a)], 3 * i);
    });
    state = await act(page, () => dropFile(page, '#height-drop', 'colour.png', encodePng(width, height, colourRgba), 'image/png'));
    assert.equal(state.state, 'done', state.message);
    assert.match(await page.$eval('#height-info', (e) => e.textContent), /colour \(PNG\)/);
    expected = native(['/PatT:7', '/Rand:4242'], { 'h.tga': encodeTga(width, height, colourExpected, true) }, 'h.tga');
    assert.equal(state.sha256, expected.sha256, 'colour PNG with alpha');

    // Colour that is wholly transparent is black: the heights of the grey image.
    const hiddenColour = new Uint8Array(greyRgba);
    for (let i = 0; i < width * height; i += 7) hiddenColour.set([255, 0, 90, 0], 4 * i);
    const hiddenExpected = Buffer.from(greyExpected);
    for (let i = 0; i < width * height; i += 7) hiddenExpected[i] = 0;
    state = await act(page, () => dropFile(page, '#height-drop', 'hidden.png', encodePng(width, height, hiddenColour), 'image/png'));
    assert.match(await page.$eval('#height-info', (e) => e.textContent), /colour \(PNG\)/);
    expected = native(['/PatT:7', '/Rand:4242'], { 'h.tga': encodeTga(width, height, hiddenExpected, false) }, 'h.tga');
    assert.equal(state.sha256, expected.sha256, 'transparent colour');

    // A pattern image dropped on its own zone switches to it.
    state = await act(page, () => dropFile(page, '#pattern-drop', 'p.tga', fs.readFileSync(path.join(demoDir, 'pattern.tga')), ''));
    assert.equal(await page.$eval('#PatT', (e) => e.value), 'image');
    expected = native(['/PatT:p.tga', '/Rand:4242'], {
      'h.tga': encodeTga(width, height, hiddenExpected, false), 'p.tga': fs.readFileSync(path.join(demoDir, 'pattern.tga')),
    }, 'h.tga');
    assert.equal(state.sha256, expected.sha256, 'pattern image');
    await page.close();
  });

  test('page: the downloads are the command line\'s TARGA file and a PNG of the same pixels', async () => {
    const page = await open('?demo');
    const folder = fs.mkdtempSync(path.join(work, 'downloads-'));
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder });
    const expected = native(demoArgs);
    const tga = await download(page, '#download-tga', folder);
    assert.equal(tga.name, 'height-stereogram.tga');
    assert.equal(sha256(tga.bytes), expected.sha256);
    const png = await download(page, '#download-png', folder);
    assert.equal(png.name, 'height-stereogram.png');
    const decoded = decodePng(png.bytes);
    const pixels = tgaToRgba(expected.bytes);
    assert.deepEqual([decoded.width, decoded.height], [pixels.width, pixels.height]);
    assert.ok(decoded.rgba.equals(pixels.rgba), 'PNG pixels differ from the TARGA file\'s');
    await page.close();
  });

  // --- Bad input ------------------------------------------------------------

  test('page: bad input shows the engine\'s message and the page keeps working', async () => {
    const page = await open('?demo');
    const good = (await snapshot(page)).sha256;
    const input = await page.$('#height-file');
    // A file that is no image at all is refused by the page, saying so.
    let state = await act(page, () => input.uploadFile(writeFile('notes.txt', Buffer.from('not an image at all\n'))));
    assert.equal(state.state, 'error');
    assert.equal(state.message, 'notes.txt is not a PNG, JPEG or TARGA image.');
    const refusals = [
      ['short.tga', encodeTga(300, 200, Buffer.alloc(100), false)],
      ['huge.tga', encodeTga(65535, 2, Buffer.alloc(65535 * 2), false)],
    ];
    for (const [name, bytes] of refusals) {
      const expected = native([], { [name]: bytes }, name);
      assert.ok(expected.error, `the command line refuses ${name}`);
      state = await act(page, () => input.uploadFile(writeFile(name, bytes)));
      assert.equal(state.state, 'error', name);
      assert.equal(state.message, `${name}: ${expected.error}`);
    }
    // A PNG whose stereogram would be too large is refused before it is decoded.
    await act(page, () => page.click('#Double'));
    const wide = writeFile('wide.png', encodePng(33000, 4, new Uint8Array(33000 * 4 * 4).fill(255)));
    const refusedWide = native(['/Double'], { 'wide.tga': encodeTga(33000, 4, Buffer.alloc(33000 * 4, 255), false) }, 'wide.tga');
    state = await act(page, () => input.uploadFile(wide));
    assert.equal(state.message, `wide.png: ${refusedWide.error}`);
    await act(page, () => page.click('#Double'));

    // Pattern widths the engine refuses.
    for (const [text, unit, option] of [['0', 'P', '/PSiz:P0'], ['70000', 'P', '/PSiz:P70000'], ['0', 'S', '/PSiz:S0']]) {
      await act(page, () => page.select('#PSizUnit', unit));
      state = await act(page, () => typeInto(page, '#PSiz', text));
      const expected = native([...demoArgs, option]);
      assert.ok(expected.error, option);
      assert.equal(state.state, 'error', option);
      assert.equal(state.message, expected.error);
    }
    await act(page, () => page.select('#PSizUnit', 'P'));
    state = await act(page, () => typeInto(page, '#PSiz', ''));
    assert.equal(state.state, 'done', state.message);
    assert.equal(state.message, '');
    assert.equal(state.sha256, good, 'the demo image is still the height image');
    await page.close();
  });

  // --- Keyboard, screens ----------------------------------------------------

  test('page: every control has a label, and the keyboard alone changes the pattern', async () => {
    const page = await open('?demo');
    const unlabelled = await page.$$eval('input, select, button', (elements) => elements
      .filter((e) => !e.closest('[hidden]'))
      .filter((e) => (e.labels ? e.labels.length === 0 : true) && !e.textContent.trim() && !e.getAttribute('aria-label'))
      .map((e) => e.id || e.outerHTML));
    assert.deepEqual(unlabelled, []);
    let presses = 0;
    while ((await page.evaluate(() => document.activeElement.id)) !== 'PatT') {
      assert.ok(++presses < 40, 'Tab never reaches the pattern type');
      await page.keyboard.press('Tab');
    }
    const state = await act(page, () => page.keyboard.press('ArrowDown'));
    assert.equal(await page.$eval('#PatT', (e) => e.value), '7');
    assert.equal(state.sha256, native([...demoArgs, '/PatT:7']).sha256);
    await page.close();
  });

  test('page: on a phone only the picture scrolls sideways, at whole screen pixels per pixel', async () => {
    const page = await open('?demo&args=%2FDouble', { width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true });
    const outputWidth = (bytes) => bytes[12] | (bytes[13] << 8);
    const doubled = outputWidth(native([...demoArgs, '/Double']).bytes);
    const layout = await page.evaluate((width) => {
      const canvas = document.getElementById('stereogram');
      const picture = document.getElementById('picture');
      return {
        pageWidth: document.documentElement.scrollWidth,
        viewport: window.innerWidth,
        pictureScrolls: picture.scrollWidth > picture.clientWidth,
        screenPixelsPerPixel: Math.round(canvas.getBoundingClientRect().width * devicePixelRatio) / width,
      };
    }, doubled);
    assert.ok(layout.pageWidth <= layout.viewport, `page ${layout.pageWidth} wide on a ${layout.viewport} screen`);
    assert.ok(layout.pictureScrolls);
    assert.equal(layout.screenPixelsPerPixel, 3);
    if (options['phone-screenshot']) await page.screenshot({ path: options['phone-screenshot'] });

    await page.setViewport({ width: 1280, height: 860, deviceScaleFactor: 1 });
    await openDemo(page);
    const ratio = await page.evaluate((width) => {
      const canvas = document.getElementById('stereogram');
      return canvas.getBoundingClientRect().width / width;
    }, outputWidth(native(demoArgs).bytes));
    assert.equal(ratio, 1);
    if (options.screenshot) await page.screenshot({ path: options.screenshot });
    await page.close();
  });

  test('page: a large image shows the progress of its run, and the page answers meanwhile', async () => {
    const dir = fs.mkdtempSync(path.join(work, 'large-'));
    assert.equal(spawnSync(path.resolve(options.heightmaps), ['-s', '10000x5000', dir, 'dome']).status, 0);
    const page = await open('');
    // The bar appears only once a run has taken 200 ms; image and options
    // are chosen so that the run takes several times that (about 0.55 s
    // in WebAssembly on the 2-core test machine).
    await act(page, () => page.select('#PatT', '7'));
    await act(page, () => page.click('#NoRD'));
    await act(page, () => page.click('#VInc'));
    await act(page, () => page.click('#Hidden'));
    const input = await page.$('#height-file');
    const before = Number(await page.evaluate(() => document.body.dataset.settled));
    await input.uploadFile(path.join(dir, 'dome.tga'));
    // While the worker computes, the bar moves and the page runs its own code.
    await page.waitForFunction(() => {
      const bar = document.getElementById('progress');
      return !bar.hidden && bar.value > 0 && bar.value < 1;
    }, { timeout: 60000, polling: 10 });
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'working');
    const state = await waitIdle(page, before);
    assert.equal(state.state, 'done', state.message);
    assert.equal(await page.$eval('#progress', (bar) => bar.hidden), true);
    await page.close();
  });

  // --- Speed ----------------------------------------------------------------

  test('page: the SIMD and the baseline build of the engine give the command line\'s bytes', async () => {
    const page = await open('');
    assert.equal(await page.evaluate(() => document.body.dataset.engine), 'simd');
    const argSets = [demoArgs, ['/PatT:5', '/VInc', '/Double', '/Hidden', '/PPos:1', '/Rand:3'],
      ['/PatT:2', '/PSiz:S9', '/Inv', '/Width:517', '/Rand:11'], ['/PatT:1', '/NoRD', '/Stret:Z', '/Rand:12']];
    // Each build in a worker of its own, driven by the worker's messages.
    const results = await page.evaluate(async (sets) => {
      const heights = new Uint8Array(await (await fetch('demo/height.tga')).arrayBuffer());
      const out = {};
      for (const build of ['default', 'baseline']) {
        const worker = new Worker(`worker.js${build === 'baseline' ? '?engine=baseline' : ''}`, { type: 'module' });
        const next = (type) => new Promise((resolve, reject) => {
          worker.onmessage = (event) => {
            if (event.data.type === 'failed') reject(new Error(event.data.message));
            if (event.data.type === type) resolve(event.data);
          };
        });
        const ready = await next('ready');
        const canvas = new OffscreenCanvas(1, 1);
        worker.postMessage({ type: 'canvas', canvas }, [canvas]);
        const hashes = [];
        for (const args of sets) {
          const parsing = next('parsed');
          worker.postMessage({ type: 'parse', args });
          const { slots } = await parsing;
          const loading = next('image');
          worker.postMessage({ type: 'image', slot: 0, bytes: heights.slice().buffer, slots, check: false });
          await loading;
          const rendering = next('result');
          worker.postMessage({ type: 'render', id: 1, slots });
          hashes.push((await rendering).sha256);
        }
        worker.terminate();
        out[ready.engine] = hashes;
      }
      return out;
    }, argSets);
    const expected = argSets.map((args) => native(args).sha256);
    assert.deepEqual(results, { simd: expected, baseline: expected });
    await page.close();
  });

  // Regenerating a stereogram of the dome at a size, in the page and with
  // the native rdsgen on one thread; a benchmark line of the medians.
  async function benchmarkAt(width, height) {
    const dir = fs.mkdtempSync(path.join(work, 'bench-'));
    const made = spawnSync(path.resolve(options.heightmaps), ['-s', `${width}x${height}`, dir, 'dome']);
    assert.equal(made.status, 0);
    const heightFile = fs.readFileSync(path.join(dir, 'dome.tga'));
    const page = await open('');
    await act(page, () => typeInto(page, '#Rand', '99'));
    const input = await page.$('#height-file');
    let state = await act(page, () => input.uploadFile(path.join(dir, 'dome.tga')));
    assert.equal(state.state, 'done', state.message);
    // Browser and native runs take turns, so that both meet the same load
    // of the machine.
    const runs = 11;
    const total = [];
    const engine = [];
    const nativeRuns = [];
    let expected = null;
    for (let k = 0; k < runs; ++k) {
      state = await act(page, () => page.click('#new-seed'));
      total.push(Number(state.totalMs));
      engine.push(Number(state.engineMs));
      const seed = await page.$eval('#Rand', (e) => e.value);
      expected = native([`/Rand:${seed}`], { 'dome.tga': heightFile }, 'dome.tga');
      nativeRuns.push(expected.ms);
    }
    assert.equal(state.sha256, expected.sha256, 'the timed stereogram is the command line\'s');
    const engineKind = await page.evaluate(() => document.body.dataset.engine || '');
    const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
    const browserMs = median(total);
    const nativeMs = median(nativeRuns);
    // Browser: from the click on "New seed" to the picture drawn on the
    // page's canvas. Native: the whole rdsgen process, file in and file out.
    benchmarks.push(`benchmark: ${width}x${height} dome, defaults, median of ${runs}: browser ${browserMs.toFixed(1)} ms ` +
      `(engine${engineKind ? ` (${engineKind})` : ''} and RGBA rows in WebAssembly ${median(engine).toFixed(1)} ms), ` +
      `native single thread ${nativeMs.toFixed(1)} ms (whole run, file in and out), ratio ${(browserMs / nativeMs).toFixed(2)}`);
    await page.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }

  test('page: benchmark, regenerating a 1920 x 1080 stereogram', () => benchmarkAt(1920, 1080));
  test('page: benchmark, regenerating a 4096 x 3072 stereogram', () => benchmarkAt(4096, 3072));

  test('page: no console errors, page errors or failed requests', async () => {
    assert.deepEqual(problems, []);
  });
}
