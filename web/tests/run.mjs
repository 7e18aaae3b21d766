// Runs the page's tests: the option reading in Node, then the real page in
// headless Chromium against the native rdsgen. Prints one line per test, the
// summary "N passed, N failed" and the benchmark; exits non-zero on failure.
//
//   node web/tests/run.mjs --base http://127.0.0.1:PORT/ --rdsgen build/rdsgen
//       --heightmaps build/make-heightmaps [--chromium /usr/bin/chromium]
//       [--screenshot docs/web.png] [--phone-screenshot FILE] [--only TEXT]
import { parseArgs } from 'node:util';
import registerOptions from './options.test.mjs';
import registerPage from './page.test.mjs';
import registerExact from './exact.test.mjs';
import registerUi, { registerPure as registerView } from './ui.test.mjs';

const { values: args } = parseArgs({
  options: {
    base: { type: 'string' },
    rdsgen: { type: 'string' },
    heightmaps: { type: 'string' },
    chromium: { type: 'string', default: '/usr/bin/chromium' },
    screenshot: { type: 'string' },
    'phone-screenshot': { type: 'string' },
    only: { type: 'string' },
  },
});

const tests = [];
const test = (name, fn) => tests.push({ name, fn });
const after = [];

registerOptions(test);
registerView(test);
if (args.base) {
  registerPage(test, args, (fn) => after.push(fn));
  registerExact(test, args, (fn) => after.push(fn));
  registerUi(test, args, (fn) => after.push(fn));
} else {
  console.log('(no --base: the browser tests are left out)');
}

let passed = 0;
let failed = 0;
for (const { name, fn } of tests) {
  if (args.only && !name.includes(args.only)) continue;
  const started = Date.now();
  try {
    await fn();
    ++passed;
    console.log(`ok   ${name} (${Date.now() - started} ms)`);
  } catch (error) {
    ++failed;
    console.log(`FAIL ${name}\n     ${String(error && error.stack || error).split('\n').join('\n     ')}`);
  }
}
for (const fn of after) await fn();
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 && passed > 0 ? 0 : 1);
