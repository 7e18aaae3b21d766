// Makes OUT/rdsgen.html from the built page in OUT: one file that works
// opened from disk (file://), where browsers load no module, worker or
// WebAssembly file beside it. The style, the page's modules and the demo
// files are put inside it; the worker and the engine's modules (with their
// WebAssembly as data: addresses) become Blob addresses made by a small
// script.
//
//   node web/single-file.mjs build-web
import fs from 'node:fs';
import path from 'node:path';

const out = process.argv[2];
const read = (name) => fs.readFileSync(path.join(out, name), 'utf8');

// A module's text as a script that defines its exports: its body in a
// function returning them, its imports taken from the modules before it.
function inlineModule(name, text, known) {
  const exported = [...text.matchAll(/^export (?:async )?(?:function\*? |const |let |class )(\w+)/gm)].map((m) => m[1]);
  const body = text
    .replace(/^export (default )?/gm, '')
    .replace(/^import \{([^}]*)\} from '\.\/([\w.-]+)';$/gm, (all, names, from) => {
      if (!known.has(from)) throw new Error(`${name} imports ${from}, which is not inlined before it`);
      return `const {${names}} = modules['${from}'];`;
    });
  if (/^import /m.test(body)) throw new Error(`${name}: an import that is not inlined`);
  known.add(name);
  return `modules['${name}'] = (() => {\n${body}\nreturn { ${exported.join(', ')} };\n})();\n`;
}

// The scripts' texts must not end the element that holds them.
const scriptSafe = (text) => text.replace(/<\/(script)/gi, '<\\/$1').replace(/<!--/g, '<\\!--');

// The page: its modules in the order they import each other.
const pageModules = new Set();
let page = 'const modules = {};\n';
for (const name of ['options.js', 'heights.js', 'view.js', 'main.js']) page += inlineModule(name, read(name), pageModules);

// The engine modules (one or more builds, rdsgen-engine*.js), each with
// its WebAssembly as a data: address, become Blob addresses made when the
// page starts; the worker imports them from there.
const engines = {};
for (const name of fs.readdirSync(out).filter((file) => /^rdsgen-engine[\w-]*\.js$/.test(file))) {
  let found = false;
  engines[`./${name}`] = read(name).replace(/new URL\("([\w.-]+\.wasm)",import\.meta\.url\)\.toString\(\)/g, (all, wasm) => {
    found = true;
    return JSON.stringify(`data:application/wasm;base64,${fs.readFileSync(path.join(out, wasm)).toString('base64')}`);
  });
  if (!found) throw new Error(`${name}: where it finds its WebAssembly was not found`);
}
if (Object.keys(engines).length === 0) throw new Error('no engine module was found');

// The worker: the view module and the worker's own code, which names the
// engine modules by the Blob addresses of engineAddresses (a static import
// becomes a function that imports it when called).
let worker = read('worker.js').replace(/^import createEngine from '(\.\/rdsgen-engine[\w-]*\.js)';$/m,
  (all, name) => `const createEngine = (...args) => import('${name}').then((module) => module.default(...args));`);
let named = 0;
worker = worker.replace(/'(\.\/rdsgen-engine[\w-]*\.js)'/g, (all, name) => {
  if (!(name in engines)) throw new Error(`worker.js names ${name}, which was not built`);
  ++named;
  return `engineAddresses['${name}']`;
});
if (named === 0) throw new Error('worker.js: the engine module was not found');
const workerModules = new Set();
const workerText = `const modules = {};\n${inlineModule('view.js', read('view.js'), workerModules)}${inlineModule('worker.js', worker, workerModules)}`;

// The demo's files, as base64, for ?demo.
const files = {};
for (const name of fs.readdirSync(path.join(out, 'demo'))) {
  files[`demo/${name}`] = fs.readFileSync(path.join(out, 'demo', name)).toString('base64');
}

let html = read('index.html');
// Inline scripts, styles and a Blob worker instead of files of the same origin.
html = html.replace(/<meta http-equiv="Content-Security-Policy" content="[^"]*">/,
  `<meta http-equiv="Content-Security-Policy" content="default-src 'none'; script-src 'unsafe-inline' 'wasm-unsafe-eval' blob:; worker-src blob:; connect-src data:; style-src 'unsafe-inline'; img-src data: blob:; object-src 'none'; base-uri 'none'; form-action 'none'">`);
html = html.replace('<link rel="stylesheet" href="style.css">', () => `<style>\n${read('style.css')}</style>`);
const setup = `(() => {
  const blob = (text) => URL.createObjectURL(new Blob([text], { type: 'text/javascript' }));
  const engines = ${JSON.stringify(Object.keys(engines))};
  const engineAddresses = {};
  engines.forEach((name, k) => { engineAddresses[name] = blob(document.getElementById('rdsgen-engine-' + k).textContent); });
  const worker = 'const engineAddresses = ' + JSON.stringify(engineAddresses) + ';\\n' +
    document.getElementById('rdsgen-worker').textContent;
  window.rdsgenInline = { files: ${JSON.stringify(files)}, worker: blob(worker) };
})();`;
const engineScripts = Object.values(engines)
  .map((text, k) => `<script type="text/plain" id="rdsgen-engine-${k}">${scriptSafe(text)}</script>`).join('\n');
const scripts = `${engineScripts}
<script type="text/plain" id="rdsgen-worker">${scriptSafe(workerText)}</script>
<script>${scriptSafe(setup)}</script>
<script type="module">${scriptSafe(page)}</script>`;
if (!html.includes('<script type="module" src="main.js"></script>')) throw new Error('index.html: the script element was not found');
// The worker's text is read from the document: the scripts go at the end of the body.
html = html.replace('<script type="module" src="main.js"></script>\n', '');
html = html.replace('</body>', () => `${scripts}\n</body>`);
fs.writeFileSync(path.join(out, 'rdsgen.html'), html);
console.log(`Single-file page written: ${path.join(out, 'rdsgen.html')}`);
