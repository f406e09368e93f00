// kestrovan-vox: Kestrovan VOX files, G.711 A-law and mu-law, and 4-bit ADPCM with DC tracking.

/** A tag ("064A", "048A", "064U", "048U", "032D", "024D") or an alias ("alaw", "alaw48", "ulaw", "ulaw48",
 * "adpcm", "adpcm24"), in any case. */
export type CodingName = string;

export interface Coding {
  /** The four-byte tag a tagged file starts with, such as "064U". */
  tag: string;
  /** The short name, such as "ulaw". */
  alias: string;
  /** 8000 or 6000. */
  rate: number;
  /** The name the editor shows, such as "Kestrovan 64KB U-Law". */
  displayName: string;
  /** 8 for G.711, 4 for ADPCM. */
  bitsPerSample: number;
}

export interface Detection {
  /** The alias of the claimed coding (at the rate tones decide, else its 8000 Hz one), claimed at a
   * confidence of 0.5 or more; null when unknown. */
  coding: string | null;
  /** 0..1; a coding at 0.9 or more is what readVox acts on. */
  confidence: number;
  /** 8000 or 6000 when telephone tones decide it; null when unknown. */
  rate: number | null;
  rateConfidence: number;
  /** Why the coding is unknown, in words ("looks like 16-bit PCM, not this format"); "" when one is claimed. */
  reason: string;
  /** The rate a single tone event points to (never acted on), or null. */
  rateHint: number | null;
  /** What kvox info says: "coding mu-law, confidence 0.99; rate unknown from content". */
  summary: string;
}

export interface VoxAudio {
  samples: Int16Array;
  sampleRate: number;
  /** The alias of the coding the file was read with. */
  coding: string;
  /** True when the file starts with its coding tag. */
  tagged: boolean;
  /** What the content said, when the coding came from it; null otherwise. */
  detection: Detection | null;
}

/** Loads the WebAssembly module (inside the package: nothing is fetched). Await it once; every other call is
 * synchronous and throws until it has resolved. */
export function init(): Promise<void>;

/** Decodes a whole stream of code bytes without a tag: one sample a byte for G.711, two for ADPCM.
 * @throws TypeError for anything but a Uint8Array, RangeError for an empty one or an unknown coding. */
export function decode(bytes: Uint8Array, coding: CodingName): Int16Array;

/** Encodes a whole stream of samples into code bytes without a tag; an odd last ADPCM sample is included.
 * @throws TypeError for anything but an Int16Array, RangeError for an empty one or an unknown coding. */
export function encode(samples: Int16Array, coding: CodingName): Uint8Array;

/** A stream decoded chunk by chunk; the ADPCM state carries over, so any split gives the same samples. */
export class Decoder {
  constructor(coding: CodingName);
  readonly coding: string;
  readonly sampleRate: number;
  decode(chunk: Uint8Array): Int16Array;
  /** Starts a new stream. */
  reset(): void;
  /** Gives the module's memory back now rather than when the object is collected. */
  free(): void;
}

/** A stream encoded chunk by chunk; any split gives the same bytes. ADPCM holds an odd sample until the next
 * chunk pairs it: flush() ends the stream. */
export class Encoder {
  constructor(coding: CodingName);
  readonly coding: string;
  readonly sampleRate: number;
  encode(chunk: Int16Array): Uint8Array;
  /** The last byte of an ADPCM stream that ends on an odd sample (else nothing); the Encoder then starts anew. */
  flush(): Uint8Array;
  free(): void;
}

/** Reads a VOX file: a tagged one by its tag, a raw one with `coding`, or else by its content when that
 * settles the coding at a confidence of 0.9 or more (at the rate tones decide, else 8000 Hz).
 * @throws CodingNotSettledError for a raw file whose content does not settle it; RangeError for an empty
 * file or one cut short inside its tag; TypeError for wrong types. */
export function readVox(bytes: Uint8Array, options?: { coding?: CodingName }): VoxAudio;

/** A VOX file's bytes: the four-byte tag (unless `tag` is false), then the codes. */
export function writeVox(samples: Int16Array, coding: CodingName, options?: { tag?: boolean }): Uint8Array;

/** What a raw file's bytes say of their coding and rate. A long buffer is judged on eight stretches of
 * 10,000 bytes spread over it. */
export function detect(bytes: Uint8Array): Detection;

/** The six codings. */
export function codings(): Coding[];

/** libkvox's version, such as "1.1.0". */
export function version(): string;

export class CodingNotSettledError extends Error {
  readonly name: 'CodingNotSettledError';
  readonly code: 'KVOX_EUNDECIDED';
  readonly detection: Detection;
}
