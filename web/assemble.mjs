// Builds the one-file page: page.html with page.css and app.js inlined, and the worker's script (the
// Emscripten glue, the WebAssembly module as base64, worker.js) inlined as a script the page never runs
// itself but hands to its worker.
// Usage: node assemble.mjs WEB_SOURCE_DIR MODULE_JS OUTPUT_HTML
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [sourceDir, moduleJs, output] = process.argv.slice(2);
const read = (path) => readFileSync(path, 'utf8');

// Script text inside <script> may not hold "</script" or "<!--"; in JavaScript both escapes mean the same.
function inlineScript(text) {
  return text.replace(/<\/script/gi, '<\\/script').replace(/<!--/g, '<\\!--');
}

const wasm = readFileSync(moduleJs.replace(/\.js$/, '.wasm'));
const workerScript = [
  read(moduleJs),
  `const KVOX_WASM_BASE64 = "${wasm.toString('base64')}";`,
  read(join(sourceDir, 'worker.js')),
].join('\n');

const parts = {
  '/*@STYLE@*/': read(join(sourceDir, 'page.css')),
  '/*@WORKER@*/': inlineScript(workerScript),
  '/*@APP@*/': inlineScript(read(join(sourceDir, 'app.js'))),
};
let page = read(join(sourceDir, 'page.html'));
for (const [marker, text] of Object.entries(parts)) {
  if (page.split(marker).length !== 2) throw new Error(`page.html must hold ${marker} once`);
  page = page.replace(marker, () => text);
}
writeFileSync(output, page);
const kib = (Buffer.byteLength(page) / 1024).toFixed(0);
console.log(`kvox.html: ${kib} KiB (module ${(wasm.length / 1024).toFixed(0)} KiB)`);
if (Buffer.byteLength(page) > 1024 * 1024) throw new Error('kvox.html is larger than 1 MiB');
