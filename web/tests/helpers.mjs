// Helpers the page's test files share: the demo's files, Chromium and
// Puppeteer input, and files written for the page to open.
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { splitArgs } from '../options.js';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const demoDir = path.join(root, 'web/demo');
export const demoArgs = splitArgs(fs.readFileSync(path.join(demoDir, 'args.txt'), 'utf8'));
export const demoHeight = fs.readFileSync(path.join(demoDir, 'height.tga'));
export const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');
export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Replaces an input's text, then leaves it (Tab), as a person would.
export async function typeInto(page, selector, text) {
  await page.click(selector, { clickCount: 3 });
  await page.keyboard.press('Backspace');
  if (text !== '') await page.keyboard.type(text);
  await page.keyboard.press('Tab');
}

// Writes bytes into dir/name; returns the file's path.
export function writeFileIn(dir, name, bytes) {
  const file = path.join(dir, name);
  fs.writeFileSync(file, bytes);
  return file;
}

// Headless Chromium with its profile in userDataDir, quiet on the network;
// extraArgs are a test file's own switches.
export function launchChromium(puppeteer, executablePath, userDataDir, extraArgs) {
  return puppeteer.launch({
    executablePath,
    headless: true,
    userDataDir,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', ...extraArgs],
  });
}

// Waits until the page has settled after `before` (its data-settled count)
// and stayed so for pauseMs with no work running; returns snapshot(page).
export async function waitSettled(page, before, timeout, pauseMs, snapshot) {
  await page.waitForFunction((b) => Number(document.body.dataset.settled || 0) > b, { timeout }, before);
  for (;;) {
    const seen = await page.evaluate(() => document.body.dataset.settled);
    await new Promise((resolve) => setTimeout(resolve, pauseMs));
    const state = await page.evaluate(() => [document.body.dataset.settled, document.body.dataset.state]);
    if (state[0] === seen && state[1] !== 'working') return snapshot(page);
  }
}
