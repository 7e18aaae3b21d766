// The page's view, viewing help, made height images and plain controls, in
// headless Chromium against the native rdsgen; and the single-file page
// opened from disk.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';
import { fitWidth, pixelFactor, canvasSize } from '../view.js';
import {
  demoArgs, demoDir, demoHeight, launchChromium, root, sha256, sleep, typeInto, waitSettled, writeFileIn,
} from './helpers.mjs';
import { decodePng, tgaToRgba } from './images.mjs';

export function registerPure(test) {
  test('view: fitting the screen and whole screen pixels per pixel', () => {
    // 400 columns and a 68-pixel pattern: 468 wide; a 1280-pixel screen
    // takes 1212 columns of heights.
    assert.equal(fitWidth({ deviceWidth: 1280, outputWidth: 468, inputWidth: 400, doubled: false, cut: false }), 1212);
    // Doubled: 2 x (400 + 68); half the screen less the pattern.
    assert.equal(fitWidth({ deviceWidth: 1280, outputWidth: 936, inputWidth: 400, doubled: true, cut: false }), 572);
    assert.equal(fitWidth({ deviceWidth: 1280, outputWidth: 800, inputWidth: 400, doubled: true, cut: true }), 640);
    assert.deepEqual([1, 1.25, 1.5, 2, 2.5, 3].map((r) => pixelFactor(r, false)), [1, 1, 1, 2, 2, 3]);
    assert.equal(pixelFactor(2.5, true), 1);
    // Canvases a few pixels larger, whose CSS sizes are whole 1/64 pixels.
    assert.deepEqual(canvasSize(468, 310, { factor: 1, ratio: 1.75 }), { width: 469, height: 315 });
    assert.deepEqual(canvasSize(468, 310, { factor: 2, ratio: 2.5 }), { width: 940, height: 620 });
    assert.deepEqual(canvasSize(468, 311, { factor: 3, ratio: 3 }), { width: 1404, height: 933 });
  });
}

export default function register(test, options, after) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'rdsgen-ui-test-'));
  const problems = [];
  let browser = null;

  function native(args, files = { 'height.tga': demoHeight }, input = 'height.tga') {
    const dir = fs.mkdtempSync(path.join(work, 'native-'));
    for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), bytes);
    const run = spawnSync(path.resolve(options.rdsgen), [input, 'out.tga', ...args],
      { cwd: dir, env: { ...process.env, RDSGEN_THREADS: '1' }, encoding: 'latin1' });
    const bytes = run.status === 0 ? fs.readFileSync(path.join(dir, 'out.tga')) : null;
    fs.rmSync(dir, { recursive: true, force: true });
    return { status: run.status, bytes, sha256: bytes && sha256(bytes), stderr: run.stderr };
  }

  async function launch() {
    if (browser) return browser;
    browser = await launchChromium(puppeteer, options.chromium, fs.mkdtempSync(path.join(work, 'chromium-')),
      ['--force-color-profile=srgb', '--allow-file-access-from-files']);
    return browser;
  }

  function watch(page) {
    page.on('console', (message) => {
      if (message.type() === 'error') problems.push(`console: ${message.text()}`);
    });
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  }

  const snapshot = (page) => page.evaluate(() => ({
    ...document.body.dataset,
    message: document.getElementById('message').textContent,
    info: document.getElementById('height-info').textContent,
  }));

  const waitIdle = (page, before, timeout = 30000) => waitSettled(page, before, timeout, 200, snapshot);

  async function act(page, action, timeout) {
    const before = Number(await page.evaluate(() => document.body.dataset.settled || 0));
    await action();
    return waitIdle(page, before, timeout);
  }

  async function open(query = '', viewport = { width: 1280, height: 900 }, base = options.base) {
    const page = await (await launch()).newPage();
    watch(page);
    await page.setViewport(viewport);
    await page.goto(new URL(query, base).href);
    await waitIdle(page, 0);
    return page;
  }

  const writeFile = (name, bytes) => writeFileIn(work, name, bytes);

  // A height image the page makes, as the TARGA bytes it hands the engine.
  async function madeInPage(page, request) {
    const base64 = await page.evaluate(async (made) => {
      const heights = await import(new URL('heights.js', location.href).href);
      const image = made.shape ? heights.makeShape(made.shape) : heights.makeText(made.text);
      const bytes = heights.greyTarga(image);
      let text = '';
      for (const b of bytes) text += String.fromCharCode(b);
      return btoa(text);
    }, request);
    return Buffer.from(base64, 'base64');
  }

  after(async () => {
    if (browser) await browser.close();
    fs.rmSync(work, { recursive: true, force: true });
  });

  // --- The view -------------------------------------------------------------

  // Every row and column of the stereogram once on the screen, at a whole
  // number of screen pixels each, at these device pixel ratios.
  async function checkRatios(ratios) {
    const args = ['/PatT:1', '/Rand:77'];
    const expected = tgaToRgba(native([...demoArgs, ...args]).bytes);
    const query = `?demo&args=${encodeURIComponent(args.join(' '))}`;
    const page = await (await launch()).newPage();
    watch(page);
    for (const ratio of ratios) {
      await page.setViewport({ width: 760, height: 560, deviceScaleFactor: ratio });
      await page.goto(new URL(query, options.base).href);
      await waitIdle(page, 0);
      await page.evaluate(() => document.getElementById('picture').scrollIntoView());
      await sleep(100);
      const rect = await page.$eval('#stereogram', (c) => {
        const r = c.getBoundingClientRect();
        return { left: r.left, top: r.top };
      });
      const shot = decodePng(Buffer.from(await page.screenshot({ type: 'png', optimizeForSpeed: true })));
      const factor = pixelFactor(ratio, false);
      // The painted box starts near the rounded position (the screenshot
      // may place it a pixel or two away): the offset where a band of rows
      // below the focus marks matches, then every pixel there.
      const differing = (x0, y0, rows) => {
        let wrong = 0;
        for (let y = rows[0] * factor; y < rows[1] * factor; ++y) {
          for (let x = 0; x < expected.width * factor; ++x) {
            const at = 4 * ((y0 + y) * shot.width + x0 + x);
            const want = 4 * (Math.floor(y / factor) * expected.width + Math.floor(x / factor));
            if (shot.rgba[at] !== expected.rgba[want]) ++wrong;
          }
        }
        return wrong;
      };
      let start = null;
      for (let dy = -3; dy <= 3 && !start; ++dy) {
        for (let dx = -3; dx <= 3 && !start; ++dx) {
          const x0 = Math.round(rect.left * ratio) + dx;
          const y0 = Math.round(rect.top * ratio) + dy;
          if (differing(x0, y0, [40, 44]) === 0) start = [x0, y0];
        }
      }
      assert.ok(start, `device pixel ratio ${ratio}: the picture was not found`);
      const best = differing(start[0], start[1], [0, expected.height]);
      assert.equal(best, 0, `device pixel ratio ${ratio}: ${best} screen pixels differ`);
    }
    await page.close();
  }

  test('ui: at device pixel ratios 1, 1.25 and 1.5 the canvas shows every row and column of the stereogram once', () => checkRatios([1, 1.25, 1.5]));
  test('ui: at device pixel ratios 2, 2.5 and 3 each pixel of the stereogram covers a whole square of screen pixels', () => checkRatios([2, 2.5, 3]));

  test('ui: the full-screen view shows the picture 1:1 with both focus marks and its middle on screen', async () => {
    const dir = fs.mkdtempSync(path.join(work, 'large-'));
    // Wider than the screen in screen pixels, so that the marks are off
    // screen unless the view scrolls to them.
    assert.equal(spawnSync(path.resolve(options.heightmaps), ['-s', '4000x900', dir, 'dome']).status, 0);
    const page = await open('', { width: 1280, height: 800, deviceScaleFactor: 1.5 });
    const input = await page.$('#height-file');
    const state = await act(page, () => input.uploadFile(path.join(dir, 'dome.tga')));
    assert.equal(state.state, 'done', state.message);
    await page.focus('#full-screen');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.fullscreenElement, { timeout: 5000 });
    await sleep(300);
    const view = await page.evaluate(() => {
      const picture = document.getElementById('picture');
      const canvas = document.getElementById('stereogram');
      const [width, height] = document.getElementById('result-info').textContent.match(/\d+/g).map(Number);
      return {
        devicePixels: `${canvas.getBoundingClientRect().width * devicePixelRatio}x${canvas.getBoundingClientRect().height * devicePixelRatio}`,
        canvas: `${canvas.width}x${canvas.height}`,
        grown: [canvas.width - width, canvas.height - height],
        width,
        left: picture.scrollLeft * devicePixelRatio,
        right: (picture.scrollLeft + picture.clientWidth) * devicePixelRatio,
        top: picture.scrollTop * devicePixelRatio,
      };
    });
    assert.equal(view.devicePixels, view.canvas, 'one screen pixel per canvas pixel');
    assert.ok(view.grown.every((extra) => extra >= 0 && extra < 3), `canvas grown by ${view.grown}`);
    const pattern = view.width - 4000;
    const marks = [(view.width - pattern) / 2, (view.width + pattern) / 2, view.width / 2];
    for (const x of marks) assert.ok(x > view.left && x < view.right, `column ${x} off screen (${view.left} to ${view.right})`);
    assert.equal(view.top, 0);
    await page.keyboard.press('Escape');
    await page.close();
  });

  test('ui: the output size is the engine\'s resampling width where the engine has one', async () => {
    const page = await open('?demo');
    const role = await page.$eval('#output-size', (select) => ({
      disabled: select.disabled, option: select.dataset.option || '', reason: document.getElementById('output-size-reason').textContent,
    }));
    if (!role.option) {
      assert.ok(role.disabled);
      assert.match(role.reason, /cannot resample/);
    } else {
      let state = await act(page, () => page.select('#output-size', '1280'));
      assert.equal(state.sha256, native([...demoArgs, `/${role.option}:1280`]).sha256);
      // Fitting the screen: as wide as the screen in screen pixels.
      state = await act(page, () => page.select('#output-size', 'fit'));
      const [width, screenWidth] = await page.evaluate(() => [
        Number(document.getElementById('result-info').textContent.match(/\d+/)[0]), Math.round(screen.width * devicePixelRatio)]);
      assert.equal(width, screenWidth);
    }
    await page.close();
  });

  // --- Viewing help -----------------------------------------------------------

  test('ui: cross-eyed viewing inverts the heights, also on top of inverted heights', async () => {
    const page = await open('?demo');
    let state = await act(page, () => page.click('input[name="viewing"][value="cross"]'));
    assert.equal(state.sha256, native([...demoArgs, '/Inv']).sha256, 'cross-eyed');
    state = await act(page, () => page.click('#Inv'));
    assert.equal(state.sha256, native(demoArgs).sha256, 'cross-eyed and inverted');
    state = await act(page, () => page.click('input[name="viewing"][value="parallel"]'));
    assert.equal(state.sha256, native([...demoArgs, '/Inv']).sha256, 'parallel and inverted');
    // The practice image is a raised square in the middle.
    state = await act(page, () => page.click('#practice'));
    assert.equal(state.state, 'done', state.message);
    assert.match(state.info, /^square\.tga: 640 x 480, 8-bit grey/);
    await page.close();
  });

  // --- Height images made in the page -------------------------------------------

  test('ui: text and shapes become height images, 16-bit when blurred, with a preview', async () => {
    const page = await open('');
    await typeInto(page, '#Rand', '321');
    await page.click('#text-tool summary');
    await typeInto(page, '#text-text', 'Hi');
    await typeInto(page, '#text-size', '90');
    await page.$eval('#text-blur', (range) => { range.value = '5'; });
    let state = await act(page, () => page.click('#text-make'));
    assert.equal(state.state, 'done', state.message);
    assert.match(state.info, /16-bit grey \(TARGA\)/);
    const blurred = await madeInPage(page, { text: { text: 'Hi', size: 90, bold: true, blur: 5 } });
    assert.equal(blurred[16], 16);
    // The slopes keep more than 256 heights.
    const distinct = new Set();
    for (let at = 18; at < blurred.length; at += 2) distinct.add(blurred.readUInt16LE(at));
    assert.ok(distinct.size > 1000, `${distinct.size} heights`);
    assert.equal(state.sha256, native(['/Rand:321'], { 'text.tga': blurred }, 'text.tga').sha256);

    // Without a blur: 8 bits.
    await page.$eval('#text-blur', (range) => { range.value = '0'; });
    state = await act(page, () => page.click('#text-make'));
    assert.match(state.info, /8-bit grey/);
    const sharp = await madeInPage(page, { text: { text: 'Hi', size: 90, bold: true, blur: 0 } });
    assert.equal(state.sha256, native(['/Rand:321'], { 'text.tga': sharp }, 'text.tga').sha256);

    state = await act(page, () => page.click('[data-shape="torus"]'));
    const torus = await madeInPage(page, { shape: 'torus' });
    assert.equal(state.sha256, native(['/Rand:321'], { 'torus.tga': torus }, 'torus.tga').sha256);
    // The preview shows the heights: bright ring, dark middle and corners.
    const preview = await page.$eval('#height-preview', (canvas) => {
      const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      const at = (x, y) => data[4 * (Math.round(y) * canvas.width + Math.round(x))];
      const { width: w, height: h } = canvas;
      return { hidden: canvas.closest('figure').hidden, w, middle: at(w / 2, h / 2), corner: at(2, 2), ring: at(w / 2 + 0.55 * h / 2, h / 2) };
    });
    assert.equal(preview.hidden, false);
    assert.ok(preview.w > 0 && preview.w <= 240);
    assert.ok(preview.ring > 200 && preview.middle < 20 && preview.corner < 20, JSON.stringify(preview));

    // A loaded TARGA file has its preview too.
    const input = await page.$('#height-file');
    state = await act(page, () => input.uploadFile(path.join(demoDir, 'height.tga')));
    const shown = await page.$eval('#height-preview', (canvas) => [canvas.width, canvas.height]);
    assert.deepEqual(shown, [240, 180]);
    await page.close();
  });

  // --- Controls ---------------------------------------------------------------

  test('ui: labels are plain words with the option\'s name, and controls that do nothing are disabled with a reason', async () => {
    const page = await open('?demo');
    assert.equal(await page.$eval('#NoRD', (box) => box.closest('label').textContent.trim()), 'No random dots (NoRD)');
    const look = (id) => page.$eval(`#${id}`, (control) => ({
      disabled: control.disabled, reason: control.closest('label').querySelector('.reason').textContent.trim(),
    }));
    await act(page, () => page.select('#PatT', '3'));
    assert.deepEqual(await look('TopF'), { disabled: true, reason: 'no effect with pattern 3 (moving dashes)' });
    assert.deepEqual(await look('TopB'), { disabled: false, reason: '' });
    assert.equal((await look('Dens')).disabled, true);
    assert.equal((await look('TrueOut')).disabled, true);
    await act(page, () => page.select('#PatT', '1'));
    for (const id of ['TopF', 'BotB']) assert.equal((await look(id)).disabled, true, id);
    for (const id of ['Dens', 'TrueOut', 'NoRD']) assert.equal((await look(id)).disabled, false, id);

    // The height range letter is among the depth controls, also without a
    // pattern image, and is the command line's.
    assert.equal(await page.$eval('#heights-range', (box) => box.closest('[hidden]') === null && !box.closest('#stretch')), true);
    const state = await act(page, () => page.click('#heights-range'));
    assert.equal(state.sha256, native([...demoArgs, '/PatT:1', '/Stret:AZ']).sha256);
    await page.close();
  });

  test('ui: errors clear the old picture; the same file can be chosen again; a seed must be a whole number', async () => {
    const page = await open('?demo');
    const good = (await snapshot(page)).sha256;
    const input = await page.$('#height-file');
    const bad = writeFile('bad.tga', Buffer.concat([demoHeight.subarray(0, 18), Buffer.alloc(10)]));
    let state = await act(page, () => input.uploadFile(bad));
    assert.equal(state.state, 'error');
    const cleared = await page.evaluate(() => ({
      canvasHidden: document.getElementById('stereogram').hidden,
      downloads: [...document.querySelectorAll('.downloads button')].map((b) => b.disabled),
      sha: document.body.dataset.sha256 || '',
    }));
    assert.deepEqual(cleared, { canvasHidden: true, downloads: [true, true, true], sha: '' });
    // The same file again is read again (and refused again).
    state = await act(page, () => input.uploadFile(bad), 5000);
    assert.equal(state.state, 'error');

    const height = writeFile('height.tga', demoHeight);
    state = await act(page, () => input.uploadFile(height));
    assert.equal(state.sha256, good);
    state = await act(page, () => input.uploadFile(height), 5000);
    assert.equal(state.sha256, good);

    // "1e3" is refused, not read as 1; the picture stays.
    await typeInto(page, '#Rand', '1e3');
    assert.match((await snapshot(page)).message, /whole number \("1e3"/);
    assert.equal(await page.$eval('#Rand', (e) => e.getAttribute('aria-invalid')), 'true');
    state = await act(page, () => typeInto(page, '#Rand', '1000'));
    assert.equal(state.message, '');
    assert.equal(state.sha256, native([...demoArgs, '/Rand:1000']).sha256);

    // The downloads follow the picture in tab order.
    await page.focus('#picture');
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'download-png');
    await page.close();
  });

  // --- One file -----------------------------------------------------------------

  test('ui: the single-file page works opened from disk', async () => {
    const file = path.join(root, 'build-web', 'rdsgen.html');
    assert.ok(fs.existsSync(file), 'build-web/rdsgen.html');
    const page = await open('?demo', { width: 1280, height: 900 }, pathToFileURL(file).href);
    const state = await snapshot(page);
    assert.equal(state.state, 'done', state.message);
    assert.equal(state.sha256, native(demoArgs).sha256);
    // A shape is made there too.
    const shape = await act(page, () => page.click('[data-shape="ramp"]'));
    assert.equal(shape.state, 'done', shape.message);
    await page.close();
  });

  test('ui: no console errors or page errors', async () => {
    assert.deepEqual(problems, []);
  });
}
