// kestrovan-vox: Kestrovan VOX files, G.711 and ADPCM for JavaScript, on libkvox compiled to WebAssembly.
// After `await init()` every call is synchronous. Samples and codes pass through two buffers inside the
// module that init() makes once, in pieces of at most ChunkSamples, so coding allocates nothing inside the
// module whatever the length: a call per 20 ms frame costs the copies in and out and the result array.
import { createKvoxModule, wasmBase64 } from './kvox-module.js';

const ChunkSamples = 1 << 16;
const TagBytes = 4;
// A raw buffer longer than this is judged on eight stretches of StretchBytes spread over it, as kvox reads
// a long file; only those are handed to the module.
const WholeBytes = 80000;
const StretchBytes = 10000;
const Stretches = 8;

let kvox = null;
let starting = null;
// Views of the module's memory; a memory that grew has a new buffer, and the old views are then empty.
let heapU8 = new Uint8Array(0);
let heap16 = new Int16Array(0);
let codes = 0;    // ChunkSamples bytes of codes in, or 2 * ChunkSamples bytes of samples in
let samples = 0;  // 2 * ChunkSamples samples out, or ChunkSamples + 1 codes out
let probe = 0;    // WholeBytes + 1 bytes for detection
let codingList = [];
const byName = new Map();

function wasmBytes() {
  if (typeof Buffer === 'function') return Buffer.from(wasmBase64, 'base64');
  const text = atob(wasmBase64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
  return bytes;
}

function views() {
  if (heapU8.byteLength === 0) {
    heapU8 = kvox.HEAPU8;
    heap16 = kvox.HEAP16;
  }
}

function cString(pointer) {
  views();
  const heap = heapU8;
  let end = pointer;
  while (heap[end] !== 0) ++end;
  return String.fromCharCode(...heap.subarray(pointer, end));
}

async function start() {
  let module;
  try {
    module = await createKvoxModule({ wasmBinary: wasmBytes(), print: () => {}, printErr: () => {} });
  } catch (failure) {
    // Emscripten's own advice is about rebuilding it, which is no help to the package's users.
    const reason = String(failure?.message || failure).replace(/ Build with -s ASSERTIONS=1 for more info\.$/, '');
    throw new Error('kestrovan-vox: the WebAssembly module cannot start here (it needs 128-bit SIMD: Node.js 18, ' +
      `Chrome 91, Firefox 89, Safari 16.4 or later): ${reason}`, { cause: failure });
  }
  codes = module._malloc(2 * ChunkSamples);
  samples = module._malloc(4 * ChunkSamples);
  probe = module._malloc(WholeBytes + 1);
  if (!codes || !samples || !probe) throw new Error('kestrovan-vox: the WebAssembly module has no memory to start with');
  kvox = module;
  const list = [];
  for (let id = 1; id <= 6; ++id) {
    const coding = Object.freeze({
      tag: cString(module._kvox_coding_tag(id)),
      alias: cString(module._kvox_coding_alias(id)),
      rate: module._kvox_coding_rate(id),
      displayName: cString(module._kvox_coding_display_name(id)),
      bitsPerSample: module._kvox_coding_bits(id),
    });
    const entry = { id, coding, tagBytes: [...coding.tag].map((c) => c.charCodeAt(0)), decoder: 0, encoder: 0 };
    list.push(entry);
    byName.set(coding.tag.toLowerCase(), entry);
    byName.set(coding.alias.toLowerCase(), entry);
  }
  codingList = list;
}

/** Loads the WebAssembly module; call once and await it before anything else. Later calls return the same promise. */
function init() {
  starting ||= start().catch((failure) => {
    starting = null;
    kvox = null;
    throw failure;
  });
  return starting;
}

// ---- Checking what callers hand over ---------------------------------------------------------------------

function ready() {
  if (kvox === null) throw new Error('kestrovan-vox is not loaded yet: await init() once before the first call');
}

function describe(value) {
  if (value === null) return 'null';
  if (Array.isArray(value)) return 'an Array';
  if (ArrayBuffer.isView(value)) return `a ${value[Symbol.toStringTag] || 'DataView'}`;
  if (value instanceof ArrayBuffer) return 'an ArrayBuffer';
  return typeof value === 'object' ? 'an object' : `a ${typeof value}`;
}

// By the typed array's own tag as well as instanceof, so arrays from another realm (a vm context, an
// iframe) pass too.
const isTyped = (value, kind) => ArrayBuffer.isView(value) && value[Symbol.toStringTag] === kind;

function checkBytes(bytes, what, allowEmpty = false) {
  if (!(bytes instanceof Uint8Array) && !isTyped(bytes, 'Uint8Array')) {
    throw new TypeError(`${what} must be a Uint8Array (or Buffer) of code bytes, not ${describe(bytes)}` +
      (bytes instanceof ArrayBuffer ? ': wrap it as new Uint8Array(buffer)' : ''));
  }
  if (!allowEmpty && bytes.length === 0) throw new RangeError(`${what} is empty: it holds no audio`);
}

function checkSamples(pcm, what, allowEmpty = false) {
  if (!(pcm instanceof Int16Array) && !isTyped(pcm, 'Int16Array')) {
    throw new TypeError(`${what} must be an Int16Array of 16-bit PCM samples, not ${describe(pcm)}` +
      (isTyped(pcm, 'Float32Array') ? ': scale and round them to -32768..32767 first' : ''));
  }
  if (!allowEmpty && pcm.length === 0) throw new RangeError(`${what} is empty: it holds no samples`);
}

function codingNames() {
  return codingList.map(({ coding }) => `"${coding.tag}"`).join(', ') + ' or ' +
    codingList.map(({ coding }) => `"${coding.alias}"`).join(', ');
}

// A tag or an alias, in any case, as kvox takes it.
function codingOf(name, what = 'coding') {
  if (typeof name !== 'string') {
    throw new TypeError(`${what} must be a string such as "ulaw" or "064U", not ${describe(name)}`);
  }
  let entry = byName.get(name);
  if (entry === undefined) {
    // Kept under the spelling given as well, so a call per frame costs one look-up.
    entry = byName.get(name.replace(/[A-Z]+/g, (upper) => upper.toLowerCase()));
    if (!entry) throw new RangeError(`${what} "${name}" is not one of the six: use ${codingNames()} (any case)`);
    byName.set(name, entry);
  }
  return entry;
}

function checkOptions(options, example) {
  if (options === null || typeof options !== 'object' || Array.isArray(options)) {
    throw new TypeError(`options must be an object such as ${example}, not ${describe(options)}`);
  }
}

// ---- Coding through the module ---------------------------------------------------------------------------

// The codec the one-shot calls use for `entry`, made on first use.
function handleOf(entry, kind, create) {
  if (!entry[kind]) {
    entry[kind] = create(entry.id);
    if (!entry[kind]) throw new RangeError('kestrovan-vox: the WebAssembly module is out of memory');
  }
  return entry[kind];
}

const perByte = (entry) => (entry.coding.bitsPerSample === 4 ? 2 : 1);

// The samples of all of `bytes`, decoded with `handle`.
function decodeWith(handle, entry, bytes) {
  views();
  const per = perByte(entry);
  if (bytes.length <= ChunkSamples) {
    heapU8.set(bytes, codes);
    const made = kvox._kvox_decode(handle, codes, bytes.length, samples);
    return heap16.slice(samples >> 1, (samples >> 1) + made);
  }
  const out = new Int16Array(bytes.length * per);
  for (let at = 0; at < bytes.length; at += ChunkSamples) {
    const part = bytes.subarray(at, at + ChunkSamples);
    heapU8.set(part, codes);
    const made = kvox._kvox_decode(handle, codes, part.length, samples);
    out.set(heap16.subarray(samples >> 1, (samples >> 1) + made), at * per);
  }
  return out;
}

// Encodes all of `pcm` with `handle` into `out` from `at` on; `flush` ends the stream. Returns the bytes made.
function encodeInto(handle, pcm, out, at, flush) {
  views();
  let made = 0;
  for (let done = 0; done < pcm.length; done += ChunkSamples) {
    const part = done === 0 && pcm.length <= ChunkSamples ? pcm : pcm.subarray(done, done + ChunkSamples);
    heap16.set(part, codes >> 1);
    const got = kvox._kvox_encode(handle, codes, part.length, samples);
    out.set(heapU8.subarray(samples, samples + got), at + made);
    made += got;
  }
  if (flush) {
    const got = kvox._kvox_encoder_flush(handle, samples);
    if (got) out[at + made] = heapU8[samples];
    made += got;
  }
  return made;
}

const encodedLength = (entry, count, held) => (entry.coding.bitsPerSample === 4 ? (count + held) >> 1 : count);

/**
 * Decodes code bytes without a tag (a whole stream, from a fresh state) into 16-bit samples: one a byte for
 * G.711, two a byte (high nibble first) for ADPCM.
 */
function decode(bytes, coding) {
  ready();
  const entry = codingOf(coding);
  checkBytes(bytes, 'bytes');
  const handle = handleOf(entry, 'decoder', kvox._kvox_decoder_new);
  kvox._kvox_decoder_reset(handle);
  return decodeWith(handle, entry, bytes);
}

/** Encodes 16-bit samples into code bytes without a tag: a whole stream, an odd last ADPCM sample included. */
function encode(pcm, coding) {
  ready();
  const entry = codingOf(coding);
  checkSamples(pcm, 'samples');
  const handle = handleOf(entry, 'encoder', kvox._kvox_encoder_new);
  const out = new Uint8Array(encodedLength(entry, pcm.length, 1));
  kvox._kvox_encoder_flush(handle, 0);  // a fresh stream, whatever an earlier call that failed left
  encodeInto(handle, pcm, out, 0, true);
  return out;
}

// Frees the module's codec of a stream object nobody holds any more.
const streams = typeof FinalizationRegistry === 'function'
  ? new FinalizationRegistry(({ free, handle }) => kvox?.[free](handle))
  : { register() {}, unregister() {} };

// The module's codec and the coding of a Decoder or Encoder, for this file only.
const inside = Symbol('kestrovan-vox stream');

class Stream {
  #handle;
  #entry;
  #free;

  constructor(coding, create, free) {
    ready();
    this.#entry = codingOf(coding);
    this.#handle = kvox[create](this.#entry.id);
    if (!this.#handle) throw new RangeError('kestrovan-vox: the WebAssembly module is out of memory');
    this.#free = free;
    streams.register(this, { free, handle: this.#handle }, this);
  }

  /** The coding's alias, such as "ulaw". */
  get coding() { return this.#entry.coding.alias; }
  /** 8000 or 6000. */
  get sampleRate() { return this.#entry.coding.rate; }

  [inside](what) {
    if (!this.#handle) throw new TypeError(`this ${what} was freed; make a new one`);
    return [this.#handle, this.#entry];
  }

  /** Gives the module's memory for this stream back now, rather than when the object is collected. */
  free() {
    if (!this.#handle) return;
    streams.unregister(this);
    kvox[this.#free](this.#handle);
    this.#handle = 0;
  }
}

/** Decodes a stream that arrives in chunks; an ADPCM stream's state carries over from chunk to chunk. */
class Decoder extends Stream {
  constructor(coding) {
    super(coding, '_kvox_decoder_new', '_kvox_decoder_free');
  }

  /** The samples of the next chunk of code bytes (an empty chunk gives none). */
  decode(chunk) {
    const [handle, entry] = this[inside]('Decoder');
    checkBytes(chunk, 'chunk', true);
    if (chunk.length === 0) return new Int16Array(0);
    return decodeWith(handle, entry, chunk);
  }

  /** Starts a new stream, as a fresh Decoder. */
  reset() {
    kvox._kvox_decoder_reset(this[inside]('Decoder')[0]);
  }
}

/**
 * Encodes a stream that arrives in chunks. ADPCM codes samples in pairs, so an odd sample waits for the next
 * chunk; flush() ends the stream and gives its last byte.
 */
class Encoder extends Stream {
  #held = 0;

  constructor(coding) {
    super(coding, '_kvox_encoder_new', '_kvox_encoder_free');
  }

  /** The code bytes of the next chunk of samples (an empty chunk gives none). */
  encode(chunk) {
    const [handle, entry] = this[inside]('Encoder');
    checkSamples(chunk, 'chunk', true);
    if (chunk.length === 0) return new Uint8Array(0);
    // A result too large to allocate fails before the stream moves on.
    const out = chunk.length <= ChunkSamples ? null : new Uint8Array(encodedLength(entry, chunk.length, this.#held));
    if (entry.coding.bitsPerSample === 4) this.#held = (this.#held + chunk.length) & 1;
    if (out === null) {
      views();
      heap16.set(chunk, codes >> 1);
      const got = kvox._kvox_encode(handle, codes, chunk.length, samples);
      return heapU8.slice(samples, samples + got);
    }
    return out.subarray(0, encodeInto(handle, chunk, out, 0, false));
  }

  /** Ends the stream: the byte of a sample still held (ADPCM), or nothing; the Encoder then starts a new stream. */
  flush() {
    const [handle] = this[inside]('Encoder');
    this.#held = 0;
    const got = kvox._kvox_encoder_flush(handle, samples);
    views();
    return heapU8.slice(samples, samples + got);
  }
}

// ---- Files and what their content says -------------------------------------------------------------------

function tagOf(bytes) {
  if (bytes.length < TagBytes) return null;
  return codingList.find(({ tagBytes }) => tagBytes.every((c, i) => bytes[i] === c)) || null;
}

// The first bytes of a tag with nothing after them: a tagged file cut short.
function cutInsideTag(bytes) {
  return bytes.length < TagBytes && codingList.some(({ tagBytes }) => [...bytes].every((c, i) => tagBytes[i] === c));
}

const aliasOf = (id) => codingList[id - 1].coding.alias;

// The stretches kvox examines of a raw file of `length` bytes (each starting on an even byte), copied one
// after the other: a buffer of WholeBytes + 1 bytes holds them where the detector looks for them.
function examined(bytes) {
  views();
  if (bytes.length <= WholeBytes) {
    heapU8.set(bytes, probe);
    return bytes.length;
  }
  const spread = bytes.length - StretchBytes;
  const gaps = Stretches - 1;
  for (let i = 0; i < Stretches; ++i) {
    const offset = (Math.floor(spread / gaps) * i + Math.floor(((spread % gaps) * i) / gaps)) & ~1;
    heapU8.set(bytes.subarray(offset, offset + StretchBytes), probe + i * StretchBytes);
  }
  heapU8[probe + WholeBytes] = 0;
  return WholeBytes + 1;
}

function detection(bytes) {
  const status = kvox._kvw_detect(probe, examined(bytes));
  if (status !== 0) throw new RangeError(`kestrovan-vox: detection failed (${status})`);
  const number = (i) => kvox._kvw_detection_number(i);
  const text = (i) => cString(kvox._kvw_detection_text(i));
  const family = number(0);
  const rate = number(2) || null;
  return {
    result: Object.freeze({
      // The coding's member at the rate the tones decide (else its 8000 Hz one), so that decode() takes it.
      coding: family ? aliasOf(rate === 6000 ? family + 1 : family) : null,
      confidence: number(1),
      rate,
      rateConfidence: number(3),
      reason: text(0),
      rateHint: number(4) || null,
      summary: text(2),
    }),
    readAs: number(6),
  };
}

/**
 * What a raw file's bytes say of their coding and rate, as `kvox info` reports it. A long buffer is judged on
 * eight stretches of 10,000 bytes spread over it.
 */
function detect(bytes) {
  ready();
  checkBytes(bytes, 'bytes');
  return detection(bytes).result;
}

/** Raised by readVox for a raw file whose content does not settle its coding; `.detection` says why. */
class CodingNotSettledError extends Error {
  constructor(found) {
    super(`a raw VOX file (no coding tag) whose content does not settle its coding: ${found.summary}; ` +
      `name its coding, as in readVox(bytes, { coding: '${found.coding || 'ulaw'}' })`);
    this.name = 'CodingNotSettledError';
    this.code = 'KVOX_EUNDECIDED';
    this.detection = found;
  }
}

/**
 * Reads a VOX file's bytes: a tagged file by its tag; a raw one with `coding`, or else by its content when
 * that settles the coding at a confidence of 0.9 or more (at the rate tones decide, else 8000 Hz).
 */
function readVox(bytes, options = {}) {
  ready();
  checkOptions(options, "{ coding: 'ulaw' }");
  checkBytes(bytes, 'bytes');
  const named = options.coding === undefined || options.coding === null ? null : codingOf(options.coding, 'options.coding');
  const read = (entry, codeBytes, tagged, found) => ({
    samples: codeBytes.length ? decode(codeBytes, entry.coding.alias) : new Int16Array(0),
    sampleRate: entry.coding.rate,
    coding: entry.coding.alias,
    tagged,
    detection: found,
  });
  const tag = tagOf(bytes);
  if (tag) return read(tag, bytes.subarray(TagBytes), true, null);
  if (cutInsideTag(bytes)) {
    throw new RangeError('cut short: it ends inside its four-byte coding tag, before any audio');
  }
  if (named) return read(named, bytes, false, null);
  const { result, readAs } = detection(bytes);
  if (!readAs) throw new CodingNotSettledError(result);
  return read(codingList[readAs - 1], bytes, false, result);
}

/** The bytes of a VOX file of `coding` holding `samples`: its four-byte tag (unless `tag` is false), then the codes. */
function writeVox(pcm, coding, options = {}) {
  ready();
  const entry = codingOf(coding);
  checkOptions(options, '{ tag: false }');
  const { tag = true } = options;
  if (typeof tag !== 'boolean') throw new TypeError(`options.tag must be true or false, not ${describe(tag)}`);
  checkSamples(pcm, 'samples');
  const head = tag ? TagBytes : 0;
  const out = new Uint8Array(head + encodedLength(entry, pcm.length, 1));
  if (tag) out.set(entry.tagBytes);
  const handle = handleOf(entry, 'encoder', kvox._kvox_encoder_new);
  kvox._kvox_encoder_flush(handle, 0);
  encodeInto(handle, pcm, out, head, true);
  return out;
}

/** The six codings: tag, alias, rate, display name and bits per sample. */
function codings() {
  ready();
  return codingList.map(({ coding }) => ({ ...coding }));
}

/** libkvox's version, such as "1.1.0". */
function version() {
  ready();
  return cString(kvox._kvox_version());
}

export { init, decode, encode, Decoder, Encoder, readVox, writeVox, detect, codings, version, CodingNotSettledError };
