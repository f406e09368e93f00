// Builds the one-file page: page.html with page.css and app.js inlined, and the worker's script inlined as
// a script the page never runs itself but hands to its worker. The worker's script is the npm package as
// built (Emscripten's glue with the WebAssembly inlined, and the package's index.js), wrapped in a function
// whose result, `kvoxPackage`, holds what the package exports; worker.js follows it.
// The licences of the code inside go into the page's footer.
// Usage: node assemble.mjs WEB_SOURCE_DIR NPM_DIR OUTPUT_HTML LICENSE KISSFFT_COPYING KISSFFT_BSD MUSL_COPYRIGHT
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { notices } from './notices.mjs';

const [sourceDir, npmDir, output, ...noticeFiles] = process.argv.slice(2);
const read = (path) => readFileSync(path, 'utf8');
const escapeHtml = (text) => text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');

const footer = notices(...noticeFiles)
  .map(([title, text]) => `<h3>${escapeHtml(title)}</h3>\n<pre>${escapeHtml(text)}</pre>`).join('\n');

// Script text inside <script> may not hold "</script" or "<!--"; in JavaScript both escapes mean the same.
function inlineScript(text) {
  return text.replace(/<\/script/gi, '<\\/script').replace(/<!--/g, '<\\!--');
}

// Replaces the one line of `text` that is exactly `line`, or fails: the package's modules must keep the
// shape this script knows.
function replaceLine(text, line, replacement, file) {
  const lines = text.split('\n');
  const found = lines.filter((candidate) => candidate === line).length;
  if (found !== 1) throw new Error(`${file} must hold the line ${JSON.stringify(line)} once (found ${found})`);
  return lines.map((candidate) => (candidate === line ? replacement : candidate)).join('\n');
}

const glue = replaceLine(read(join(npmDir, 'kvox-module.js')), 'export { createKvoxModule, wasmBase64 };', '',
  'kvox-module.js');
let wrapper = replaceLine(read(join(npmDir, 'index.js')), "import { createKvoxModule, wasmBase64 } from './kvox-module.js';",
  '', 'index.js');
const exported = wrapper.match(/^export \{ ([\w, ]+) \};$/m);
if (!exported) throw new Error('index.js must end with one export { ... } list');
wrapper = replaceLine(wrapper, exported[0], `return { ${exported[1]} };`, 'index.js');
const workerScript = [
  `const kvoxPackage = (() => {\n${glue}\n${wrapper}\n})();`,
  read(join(sourceDir, 'worker.js')),
].join('\n');

const parts = {
  '/*@STYLE@*/': read(join(sourceDir, 'page.css')),
  '/*@WORKER@*/': inlineScript(workerScript),
  '/*@APP@*/': inlineScript(read(join(sourceDir, 'app.js'))),
  '<!--@NOTICES@-->': footer,
};
let page = read(join(sourceDir, 'page.html'));
for (const [marker, text] of Object.entries(parts)) {
  if (page.split(marker).length !== 2) throw new Error(`page.html must hold ${marker} once`);
  page = page.replace(marker, () => text);
}
writeFileSync(output, page);
const kib = (Buffer.byteLength(page) / 1024).toFixed(0);
console.log(`kvox.html: ${kib} KiB (module ${(Buffer.byteLength(glue) / 1024).toFixed(0)} KiB with its WebAssembly)`);
if (Buffer.byteLength(page) > 1024 * 1024) throw new Error('kvox.html is larger than 1 MiB');
