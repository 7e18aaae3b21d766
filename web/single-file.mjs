// Makes OUT/rdsgen.html from the built page in OUT: one file that works
// opened from disk (file://), where browsers load no module, worker or
// WebAssembly file beside it. The style, the page's modules and the demo
// files are put inside it; the worker (with the engine's code and its
// WebAssembly as base64) becomes a Blob address made by a small script.
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

// The worker: the view module, the engine (given its WebAssembly, so that it
// fetches nothing) and the worker's own code.
const wasm = fs.readFileSync(path.join(out, 'rdsgen-engine.wasm')).toString('base64');
const engine = read('rdsgen-engine.js').replace(/^export default createEngine;\s*$/m, '');
if (/^export /m.test(engine)) throw new Error('rdsgen-engine.js: an export that is not handled');
let worker = read('worker.js');
const engineImport = /^import createEngine from '\.\/rdsgen-engine\.js';$/m;
if (!engineImport.test(worker)) throw new Error('worker.js: the engine import was not found');
worker = worker.replace(engineImport, () => `const createEngine = (() => {
${engine}
const wasmBinary = Uint8Array.from(atob('${wasm}'), (c) => c.charCodeAt(0));
return (options = {}) => createEngine({ ...options, wasmBinary, locateFile: (file) => file });
})();`);
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
  `<meta http-equiv="Content-Security-Policy" content="default-src 'none'; script-src 'unsafe-inline' 'wasm-unsafe-eval' blob:; worker-src blob:; style-src 'unsafe-inline'; img-src data: blob:; object-src 'none'; base-uri 'none'; form-action 'none'">`);
html = html.replace('<link rel="stylesheet" href="style.css">', () => `<style>\n${read('style.css')}</style>`);
const setup = `window.rdsgenInline = {
  files: ${JSON.stringify(files)},
  worker: URL.createObjectURL(new Blob([document.getElementById('rdsgen-worker').textContent], { type: 'text/javascript' })),
};`;
const scripts = `<script type="text/plain" id="rdsgen-worker">${scriptSafe(workerText)}</script>
<script>${scriptSafe(setup)}</script>
<script type="module">${scriptSafe(page)}</script>`;
if (!html.includes('<script type="module" src="main.js"></script>')) throw new Error('index.html: the script element was not found');
// The worker's text is read from the document: the scripts go at the end of the body.
html = html.replace('<script type="module" src="main.js"></script>\n', '');
html = html.replace('</body>', () => `${scripts}\n</body>`);
fs.writeFileSync(path.join(out, 'rdsgen.html'), html);
console.log(`Single-file page written: ${path.join(out, 'rdsgen.html')}`);
