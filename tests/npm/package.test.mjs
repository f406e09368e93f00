// The npm package as built (build/web/npm), against the native kvox on the same bytes: every coding, random
// signals and code bytes, random chunk splits; files read by tag, by name and by content; bad input; the
// tarball installed into an empty folder. Run by `make test` (node --test).
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const packageDir = process.env.KVOX_NPM || join(root, 'build/web/npm');
const kvoxPath = process.env.KVOX || join(root, 'build/native/host/kvox');
const vox = await import(pathToFileURL(join(packageDir, 'index.js')).href);
await vox.init();

const folder = mkdtempSync(join(tmpdir(), 'kvox-npm-test-'));
const file = (name) => join(folder, name);
const kvox = (...args) => execFileSync(kvoxPath, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
const codings = vox.codings();

// xorshift32: the same inputs on every run, a different stream per seed.
function random(seed) {
  let state = seed >>> 0 || 1;
  return (below) => {
    state ^= state << 13;
    state >>>= 0;
    state ^= state >>> 17;
    state ^= state << 5;
    state >>>= 0;
    return state % below;
  };
}

// Speech-like and wild alike: a random walk whose step size changes now and then, with jumps to the extremes,
// so ADPCM's step adaptation and clipping are both exercised. Odd lengths included.
function signal(next, length) {
  const samples = new Int16Array(length);
  let value = 0;
  let step = 64;
  for (let i = 0; i < length; ++i) {
    if (next(500) === 0) step = 1 << next(15);
    value = Math.max(-32768, Math.min(32767, value + next(2 * step + 1) - step));
    const jump = next(2000);
    samples[i] = jump === 0 ? -32768 : jump === 1 ? 32767 : value;
  }
  return samples;
}

const codeBytes = (next, length) => Uint8Array.from({ length }, () => next(256));

// Cuts `array` at random points, empty pieces included.
function pieces(next, array) {
  const parts = [];
  for (let at = 0; at < array.length;) {
    const size = next(4) === 0 ? 0 : 1 + next(Math.min(array.length - at, 70000));
    parts.push(array.subarray(at, at + size));
    at += size;
  }
  return parts;
}

const joined = (parts, Type) => {
  const whole = new Type(parts.reduce((sum, part) => sum + part.length, 0));
  parts.reduce((at, part) => (whole.set(part, at), at + part.length), 0);
  return whole;
};

function wav(samples, rate) {
  const bytes = Buffer.alloc(44 + samples.length * 2);
  bytes.write('RIFF', 0);
  bytes.writeUInt32LE(bytes.length - 8, 4);
  bytes.write('WAVEfmt ', 8);
  [16, 0x10001, rate, rate * 2, 0x100002].forEach((value, i) => bytes.writeUInt32LE(value, 16 + i * 4));
  bytes.write('data', 36);
  bytes.writeUInt32LE(samples.length * 2, 40);
  Buffer.from(samples.buffer, samples.byteOffset, samples.byteLength).copy(bytes, 44);
  return bytes;
}

// The samples of the WAV file kvox decode writes.
function samplesOfWav(path) {
  const bytes = readFileSync(path);
  let at = 12;
  while (bytes.toString('latin1', at, at + 4) !== 'data') at += 8 + bytes.readUInt32LE(at + 4);
  const data = bytes.subarray(at + 8, at + 8 + bytes.readUInt32LE(at + 4));
  return new Int16Array(data.buffer.slice(data.byteOffset, data.byteOffset + data.length));
}

function kvoxDecode(bytes, name, ...options) {
  writeFileSync(file(`${name}.vox`), bytes);
  kvox('decode', file(`${name}.vox`), file(`${name}.wav`), ...options);
  return samplesOfWav(file(`${name}.wav`));
}

test('encodes every coding to the bytes of kvox encode, tag or none, whole or in any chunks', () => {
  for (const [index, coding] of codings.entries()) {
    const next = random(101 + index);
    for (let round = 0; round < 3; ++round) {
      const samples = signal(next, 1 + next(40000));
      const name = `${coding.alias}-${round}`;
      writeFileSync(file(`${name}.wav`), wav(samples, coding.rate));
      kvox('encode', file(`${name}.wav`), file(`${name}.vox`), '--format', coding.alias);
      const expected = readFileSync(file(`${name}.vox`));
      assert.deepEqual(Buffer.from(vox.writeVox(samples, coding.tag.toLowerCase())), expected, name);
      assert.deepEqual(Buffer.from(vox.writeVox(samples, coding.alias, { tag: false })), expected.subarray(4), name);
      assert.deepEqual(Buffer.from(vox.encode(samples, coding.alias.toUpperCase())), expected.subarray(4), name);
      const encoder = new vox.Encoder(coding.alias);
      const parts = pieces(next, samples).map((part) => encoder.encode(part));
      parts.push(encoder.flush());
      assert.deepEqual(Buffer.from(joined(parts, Uint8Array)), expected.subarray(4), `${name} in chunks`);
    }
  }
});

test('decodes every coding to the samples of kvox decode, raw with its coding named or tagged, whole or in any chunks', () => {
  for (const [index, coding] of codings.entries()) {
    const next = random(201 + index);
    for (let round = 0; round < 3; ++round) {
      // Random bytes, and the codes of a signal, whose step sizes move as speech makes them move.
      const bytes = round < 2 ? codeBytes(next, 1 + next(40000)) : vox.encode(signal(next, 1 + next(80000)), coding.alias);
      const name = `${coding.alias}-${round}`;
      const expected = kvoxDecode(bytes, `raw-${name}`, '--format', coding.tag);
      assert.deepEqual(vox.decode(bytes, coding.alias), expected, name);
      assert.deepEqual(vox.readVox(bytes, { coding: coding.alias }).samples, expected, name);
      const tagged = Buffer.concat([Buffer.from(coding.tag), bytes]);
      assert.deepEqual(kvoxDecode(tagged, `tagged-${name}`), expected, `${name}: kvox reads the tagged file alike`);
      const read = vox.readVox(tagged, { coding: coding.tag === '064A' ? 'ulaw' : 'alaw' });
      assert.deepEqual([read.coding, read.sampleRate, read.tagged], [coding.alias, coding.rate, true], name);
      assert.deepEqual(read.samples, expected, name);
      const decoder = new vox.Decoder(coding.alias);
      decoder.decode(bytes.subarray(0, 100));
      decoder.reset();
      assert.deepEqual(joined(pieces(next, bytes).map((part) => decoder.decode(part)), Int16Array), expected, `${name} in chunks`);
      decoder.free();
    }
  }
});

// Speech in each coding family at 8000 Hz, a dialled number at 6000 Hz, noise, and long files whose
// stretches differ; every one judged by readVox and detect as kvox info and kvox decode judge it.
test('reads raw files by their content exactly when kvox does, and says what kvox info says of them', () => {
  const speech = join(root, 'examples/speech.wav');
  const dial = [];
  const next = random(7);
  for (const digit of '0412555019') {
    const [low, high] = [[697, 770, 852, 941][digit % 4], [1209, 1336, 1477][digit % 3]];
    for (let i = 0; i < 720; ++i) dial.push(7000 * (Math.sin((2 * Math.PI * low * i) / 6000) + Math.sin((2 * Math.PI * high * i) / 6000)));
    for (let i = 0; i < 480; ++i) dial.push(next(64) - 32);
  }
  writeFileSync(file('dial.wav'), wav(Int16Array.from(dial, Math.round), 6000));
  const raw = (source, alias) => {
    kvox('encode', source, file('coded.vox'), '--format', alias, '--no-header');
    return readFileSync(file('coded.vox'));
  };
  const ulaw = raw(speech, 'ulaw');
  const inputs = {
    'speech-alaw': raw(speech, 'alaw'), 'speech-ulaw': ulaw, 'speech-adpcm': raw(speech, 'adpcm'),
    'dial-alaw48': raw(file('dial.wav'), 'alaw48'), noise: codeBytes(random(9), 30000), short: ulaw.subarray(0, 200),
    'long-ulaw': Buffer.concat([ulaw, ulaw, ulaw, ulaw, codeBytes(random(11), 5001)]),
    'long-noise-then-speech': Buffer.concat([codeBytes(random(13), 150000), ulaw]),
  };
  for (const [name, bytes] of Object.entries(inputs)) {
    writeFileSync(file(`${name}.vox`), bytes);
    const info = JSON.parse(kvox('info', '--json', file(`${name}.vox`)));
    const theirs = (Array.isArray(info) ? info[0] : info).detected;
    const ours = vox.detect(bytes);
    const family = { alaw: 'alaw', ulaw: 'mulaw', adpcm: 'adpcm' }[ours.coding?.replace(/(48|24)$/, '')] ?? null;
    assert.deepEqual([family, ours.confidence, ours.rate, ours.rateConfidence, ours.rateHint, ours.reason],
      [theirs.coding, theirs.confidence, theirs.rate, theirs.rate_confidence, theirs.rate_hint, theirs.reason], name);
    assert.equal(`  detected: ${ours.summary}`, kvox('info', file(`${name}.vox`)).split('\n')[1], name);
    const decoded = spawnSync(kvoxPath, ['decode', file(`${name}.vox`), file(`${name}.wav`)]);
    if (decoded.status === 0) {
      const read = vox.readVox(bytes);
      assert.deepEqual(read.samples, samplesOfWav(file(`${name}.wav`)), name);
      assert.equal(read.sampleRate, readFileSync(file(`${name}.wav`)).readUInt32LE(24), name);
      assert.deepEqual([read.tagged, read.detection], [false, ours], name);
    } else {
      assert.throws(() => vox.readVox(bytes), (failure) => failure instanceof vox.CodingNotSettledError &&
        failure.code === 'KVOX_EUNDECIDED' && failure.detection.summary === ours.summary, name);
    }
  }
  assert.equal(vox.readVox(inputs['dial-alaw48']).coding, 'alaw48', 'the rate from the tones');
});

test('bad input is a TypeError or a RangeError that says what was wrong, and the module carries on', () => {
  const bytes = Uint8Array.of(1, 2, 3, 4, 5, 6);
  const samples = Int16Array.of(1, -2, 300, -4000, 5);
  const notBytes = [undefined, null, 7, 'abc', [1, 2], new ArrayBuffer(4), new Int16Array(4), new Float32Array(4), new DataView(new ArrayBuffer(4))];
  const notSamples = [undefined, 7, [1, 2], new Uint8Array(4), new Float32Array(4), new Int32Array(4), new ArrayBuffer(4)];
  const notCodings = [undefined, null, 5, {}, ['ulaw']];
  const unknownCodings = ['', 'mulaw', 'ulaw ', 'u-law', '064', '064UU', 'alaw64', 'ADPCM32'];
  const before = vox.decode(vox.encode(samples, 'adpcm'), 'adpcm');
  const failures = [];
  const expect = (Type, call, what) => {
    try {
      call();
      failures.push(`${what}: no error`);
    } catch (failure) {
      if (!(failure instanceof Type) || failure.message.length < 15) failures.push(`${what}: ${failure.name}: ${failure.message}`);
    }
  };
  const withBytes = {
    decode: (b) => vox.decode(b, 'ulaw'), readVox: (b) => vox.readVox(b), detect: (b) => vox.detect(b),
    'Decoder.decode': (b) => new vox.Decoder('adpcm').decode(b),
  };
  const withSamples = {
    encode: (s) => vox.encode(s, 'adpcm'), writeVox: (s) => vox.writeVox(s, 'alaw'), 'Encoder.encode': (s) => new vox.Encoder('adpcm').encode(s),
  };
  const withCoding = {
    decode: (c) => vox.decode(bytes, c), encode: (c) => vox.encode(samples, c), writeVox: (c) => vox.writeVox(samples, c),
    readVox: (c) => vox.readVox(bytes, { coding: c === undefined || c === null ? 5 : c }), Decoder: (c) => new vox.Decoder(c), Encoder: (c) => new vox.Encoder(c),
  };
  for (const [name, call] of Object.entries(withBytes)) notBytes.forEach((value, i) => expect(TypeError, () => call(value), `${name}(not bytes #${i})`));
  for (const [name, call] of Object.entries(withSamples)) notSamples.forEach((value, i) => expect(TypeError, () => call(value), `${name}(not samples #${i})`));
  for (const [name, call] of Object.entries(withCoding)) {
    notCodings.forEach((value, i) => expect(TypeError, () => call(value), `${name}(not a coding #${i})`));
    unknownCodings.forEach((value) => expect(RangeError, () => call(value), `${name}(${JSON.stringify(value)})`));
  }
  for (const name of ['decode', 'readVox', 'detect']) expect(RangeError, () => withBytes[name](new Uint8Array(0)), `${name}(empty)`);
  for (const name of ['encode', 'writeVox']) expect(RangeError, () => withSamples[name](new Int16Array(0)), `${name}(empty)`);
  for (const { tag } of codings) {
    for (let length = 1; length < 4; ++length) {
      expect(RangeError, () => vox.readVox(new TextEncoder().encode(tag.slice(0, length))), `readVox("${tag.slice(0, length)}")`);
    }
  }
  expect(TypeError, () => vox.readVox(bytes, 'ulaw'), 'readVox(bytes, "ulaw")');
  expect(TypeError, () => vox.writeVox(samples, 'ulaw', { tag: 'no' }), 'writeVox(tag: "no")');
  const freed = new vox.Decoder('ulaw');
  freed.free();
  expect(TypeError, () => freed.decode(bytes), 'a freed Decoder');
  assert.deepEqual(failures, []);
  assert.deepEqual(new vox.Decoder('ulaw').decode(new Uint8Array(0)), new Int16Array(0), 'an empty chunk gives nothing');
  assert.deepEqual(vox.decode(vox.encode(samples, 'adpcm'), 'adpcm'), before, 'the module still codes as before');
  const early = spawnSync(process.execPath, ['--input-type=module', '-e',
    `import { decode } from ${JSON.stringify(pathToFileURL(join(packageDir, 'index.js')).href)};
     try { decode(new Uint8Array(1), 'ulaw'); } catch (failure) { console.log(failure.message); }`], { encoding: 'utf8' });
  assert.match(early.stdout, /await init\(\)/, 'a call before init() says what to do');
});

test('the packed tarball installs into an empty folder and runs the README\'s Node.js example', () => {
  const packed = mkdtempSync(join(tmpdir(), 'kvox-npm-pack-'));
  execFileSync('npm', ['pack', '--silent', '--pack-destination', packed, packageDir], { stdio: ['ignore', 'pipe', 'inherit'] });
  const [tarball] = readdirSync(packed);
  assert.equal(tarball, `kestrovan-vox-${vox.version()}.tgz`);
  const output = execFileSync(join(root, 'tests/npm/try-tarball.sh'), [join(packed, tarball)], { encoding: 'utf8' });
  assert.equal(output.trim().split('\n').at(-1), 'adpcm, 8000 Hz, 8000 samples, tagged: true');
});

test('the TypeScript declarations declare what the module exports, and nothing else', () => {
  const declarations = readFileSync(join(packageDir, 'index.d.ts'), 'utf8');
  const declared = [...declarations.matchAll(/^export (?:function|class) (\w+)/gm)].map((match) => match[1]);
  assert.deepEqual(declared.sort(), Object.keys(vox).sort());
});
