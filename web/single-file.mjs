// Makes OUT/rdsgen.html from the built page in OUT: one file that works
// opened from disk (file://), where browsers load no module, worker or
// WebAssembly file beside it. The style, the page's modules and the demo
// files are put inside it; the worker and the modules it imports (with
// their WebAssembly as data: addresses) become Blob addresses made by a
// small script.
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

// The worker and every module it imports (the engine's builds, the JPEG
// decoder), found by the relative addresses written in them, become Blob
// addresses made when the page starts, dependencies first; each module's
// addresses of the others are put in then (placeholders here), and its
// WebAssembly goes inside it as a data: address.
const workerModules = [];  // {file, text}, dependencies before their users
const moduleIds = new Map();
function addModule(file) {
  if (moduleIds.has(file)) {
    if (moduleIds.get(file) === null) throw new Error(`${file}: modules that import each other`);
    return moduleIds.get(file);
  }
  moduleIds.set(file, null);
  let text = read(file).replace(/new URL\("([\w.-]+\.wasm)",import\.meta\.url\)(?:\.toString\(\)|\.href)/g, (all, wasm) => {
    const bytes = fs.readFileSync(path.join(out, path.dirname(file), wasm));
    return JSON.stringify(`data:application/wasm;base64,${bytes.toString('base64')}`);
  });
  text = text.replace(/(['"])(\.{1,2}\/[\w./-]+\.js)\1/g, (all, quote, address) => {
    const id = addModule(path.posix.join(path.posix.dirname(file), address));
    return `${quote}@@rdsgen-module-${id}@@${quote}`;
  });
  const id = workerModules.length;
  workerModules.push({ file, text });
  moduleIds.set(file, id);
  return id;
}
addModule('worker.js');
if (!workerModules.some(({ file }) => /^rdsgen-engine/.test(file))) throw new Error('worker.js: the engine module was not found');

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
  const addresses = [];
  document.querySelectorAll('script[data-rdsgen-module]').forEach((element) => {
    const text = element.textContent.replace(/@@rdsgen-module-(\\d+)@@/g, (all, id) => addresses[Number(id)]);
    addresses.push(URL.createObjectURL(new Blob([text], { type: 'text/javascript' })));
  });
  window.rdsgenInline = { files: ${JSON.stringify(files)}, worker: addresses[addresses.length - 1] };
})();`;
const moduleScripts = workerModules
  .map(({ file, text }) => `<script type="text/plain" data-rdsgen-module="${file}">${scriptSafe(text)}</script>`).join('\n');
const scripts = `${moduleScripts}
<script>${scriptSafe(setup)}</script>
<script type="module">${scriptSafe(page)}</script>`;
if (!html.includes('<script type="module" src="main.js"></script>')) throw new Error('index.html: the script element was not found');
// The worker's text is read from the document: the scripts go at the end of the body.
html = html.replace('<script type="module" src="main.js"></script>\n', '');
html = html.replace('</body>', () => `${scripts}\n</body>`);
fs.writeFileSync(path.join(out, 'rdsgen.html'), html);
console.log(`Single-file page written: ${path.join(out, 'rdsgen.html')}`);
