// The licences of the code inside the module, for the page's footer and the npm package's
// THIRD-PARTY-NOTICES.txt alike: ours, kissfft's, Emscripten's runtime and musl's.
import { readFileSync } from 'node:fs';

// [title, text] pairs. Emscripten's runtime is under the same MIT terms as our own code, with its authors'
// notice.
export function notices(ourLicence, kissCopying, kissLicence, muslCopyright) {
  const read = (path) => readFileSync(path, 'utf8');
  const mitTerms = read(ourLicence).replace(/^[\s\S]*?\n(?=Permission is hereby granted)/, '');
  return [
    ['kvox and the plug-in (MIT)', read(ourLicence)],
    ['KISS FFT, the tone search (BSD-3-Clause)', `${read(kissCopying)}\n${read(kissLicence)}`],
    ["Emscripten's runtime (MIT)", `Copyright (c) 2010-2022 The Emscripten Authors\n\n${mitTerms}`],
    ['musl, the C library (MIT)', read(muslCopyright)],
  ].map(([title, text]) => [title, text.trim()]);
}
