// Builds the one-file page: page.html with page.css and app.js inlined, and the worker's script (the
// Emscripten glue, the WebAssembly module as base64, worker.js) inlined as a script the page never runs
// itself but hands to its worker.
// The licences of the code inside go into the page's footer.
// Usage: node assemble.mjs WEB_SOURCE_DIR MODULE_JS OUTPUT_HTML LICENSE KISSFFT_COPYING KISSFFT_BSD MUSL_COPYRIGHT
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [sourceDir, moduleJs, output, ourLicence, kissCopying, kissLicence, muslCopyright] = process.argv.slice(2);
const read = (path) => readFileSync(path, 'utf8');
const escapeHtml = (text) => text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');

// Emscripten's runtime is under the same MIT terms as our own code, with its authors' notice.
const mitTerms = read(ourLicence).replace(/^[\s\S]*?\n(?=Permission is hereby granted)/, '');
const notices = [
  ['kvox and the plug-in (MIT)', read(ourLicence)],
  ['KISS FFT, the tone search (BSD-3-Clause)', `${read(kissCopying)}\n${read(kissLicence)}`],
  ["Emscripten's runtime (MIT)", `Copyright (c) 2010-2022 The Emscripten Authors\n\n${mitTerms}`],
  ['musl, the C library (MIT)', read(muslCopyright)],
].map(([title, text]) => `<h3>${escapeHtml(title)}</h3>\n<pre>${escapeHtml(text.trim())}</pre>`).join('\n');

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
  '<!--@NOTICES@-->': notices,
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
