// Makes the npm package in OUTPUT_DIR: package.json at VERSION, index.js and index.d.ts as they are, and
// kvox-module.js, an ES module of Emscripten's glue with the WebAssembly inlined as base64 (no file to
// fetch or read, so the package loads the same in Node.js, browsers and bundlers); the licence, and the
// notices of the code compiled into the module.
// Usage: node npm/build.mjs MODULE_JS OUTPUT_DIR VERSION LICENSE KISSFFT_COPYING KISSFFT_BSD MUSL_COPYRIGHT
import { copyFileSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { notices } from '../web/notices.mjs';

const [moduleJs, output, version, ...noticeFiles] = process.argv.slice(2);
const source = dirname(fileURLToPath(import.meta.url));
mkdirSync(output, { recursive: true });

// The glue's closing lines export it for CommonJS and AMD loaders, which an ES module must not reach for
// (a bundler would take them literally).
const glue = readFileSync(moduleJs, 'utf8');
const loaderTail = /\nif \(typeof exports === 'object' && typeof module === 'object'\)[\s\S]*$/;
if (!loaderTail.test(glue) || !glue.includes('var createKvoxModule = ')) {
  throw new Error(`${moduleJs} is not the glue this script knows how to wrap`);
}
const wasm = readFileSync(moduleJs.replace(/\.js$/, '.wasm'));
writeFileSync(join(output, 'kvox-module.js'), [
  '// Emscripten\'s glue for libkvox compiled to WebAssembly, and the WebAssembly itself (base64). Generated.',
  glue.replace(loaderTail, '\n').trim(),
  `const wasmBase64 = '${wasm.toString('base64')}';`,
  'export { createKvoxModule, wasmBase64 };',
  '',
].join('\n'));

const manifest = JSON.parse(readFileSync(join(source, 'package.json'), 'utf8'));
const { name, ...rest } = manifest;
writeFileSync(join(output, 'package.json'), `${JSON.stringify({ name, version, ...rest }, null, 2)}\n`);
for (const file of ['index.js', 'index.d.ts', 'README.md']) copyFileSync(join(source, file), join(output, file));
copyFileSync(noticeFiles[0], join(output, 'LICENSE'));

const title = `Third-party notices for kestrovan-vox ${version}`;
writeFileSync(join(output, 'THIRD-PARTY-NOTICES.txt'), [
  title,
  '='.repeat(title.length),
  '',
  'The WebAssembly module in kvox-module.js is kestrovan-vox\'s own code (MIT, LICENSE) compiled together',
  'with KISS FFT, Emscripten\'s runtime and the musl C library. Their notices follow.',
  '',
  ...notices(...noticeFiles).flatMap(([heading, text]) => [heading, '-'.repeat(heading.length), '', text, '', '']),
].join('\n'));
