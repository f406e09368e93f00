// The npm package's speed, in one Node.js run beside alawmulaw, the most used JavaScript G.711 package
// (installed for this benchmark only, from bench/node's lock file): one hour of 8 kHz speech coded in one
// call, and the same hour in 160-sample frames (20 ms, as telephony media streams carry it), one call per
// frame; and ADPCM, which alawmulaw does not have. Each job is timed RUNS times (default 7), ours and
// theirs in turn; the table shows the best run and the median. Run by `make bench` (or `make bench-npm`);
// figures in bench/README.md.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { cpus, loadavg, tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const packageDir = process.env.KVOX_NPM || join(root, 'build/web/npm');
const kvoxPath = process.env.KVOX || join(root, 'build/native/host/kvox');
const runs = Number(process.env.RUNS || 7);
const vox = await import(pathToFileURL(join(packageDir, 'index.js')).href);
const { alaw, mulaw } = createRequire(join(root, 'bench/node/package.json'))('alawmulaw');
const peerVersion = createRequire(join(root, 'bench/node/package.json'))('alawmulaw/package.json').version;
await vox.init();

// An hour of the speech sample at 8000 Hz, as kvox decodes it, over and over.
const folder = mkdtempSync(join(tmpdir(), 'kvox-npm-bench-'));
execFileSync(kvoxPath, ['encode', join(root, 'examples/speech.wav'), join(folder, 'speech.vox'), '--format', 'ulaw']);
const speech = vox.readVox(readFileSync(join(folder, 'speech.vox'))).samples;
const hour = new Int16Array(3600 * 8000);
for (let at = 0; at < hour.length; at += speech.length) hour.set(speech.subarray(0, hour.length - at), at);
const Frame = 160;
const frames = [];
for (let at = 0; at < hour.length; at += Frame) frames.push(hour.subarray(at, at + Frame));

const ours = {
  alaw: { encode: (s) => vox.encode(s, 'alaw'), decode: (b) => vox.decode(b, 'alaw') },
  mulaw: { encode: (s) => vox.encode(s, 'ulaw'), decode: (b) => vox.decode(b, 'ulaw') },
};
const theirs = { alaw, mulaw };

// Garbage of the run before (hours of samples) is collected first, where the collector can (node
// --expose-gc, as make bench runs it), so that no run pays for freeing another's memory.
function time(job) {
  globalThis.gc?.();
  const started = process.hrtime.bigint();
  job();
  return Number(process.hrtime.bigint() - started) / 1e6;
}

const best = (values) => Math.min(...values);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// Ours and theirs in turn, after one warm-up run of each.
function race(oursJob, theirsJob) {
  const times = { ours: [], theirs: [] };
  oursJob();
  theirsJob?.();
  for (let run = 0; run < runs; ++run) {
    times.ours.push(time(oursJob));
    if (theirsJob) times.theirs.push(time(theirsJob));
  }
  return times;
}

const rows = [];
let sink = 0;  // keeps every result alive, so no job can be optimised away
for (const law of ['mulaw', 'alaw']) {
  const name = law === 'mulaw' ? 'mu-law' : 'A-law';
  const codes = ours[law].encode(hour);
  const frameCodes = frames.map((frame) => ours[law].encode(frame));
  rows.push([`${name} encode, one hour in one call`, race(() => { sink += ours[law].encode(hour)[7]; },
    () => { sink += theirs[law].encode(hour)[7]; }), 3]);
  rows.push([`${name} decode, one hour in one call`, race(() => { sink += ours[law].decode(codes)[7]; },
    () => { sink += theirs[law].decode(codes)[7]; }), 3]);
  rows.push([`${name} encode, 160-sample frames (an hour)`, race(
    () => { for (const frame of frames) sink += ours[law].encode(frame)[7]; },
    () => { for (const frame of frames) sink += theirs[law].encode(frame)[7]; }), 1]);
  rows.push([`${name} decode, 160-sample frames (an hour)`, race(
    () => { for (const frame of frameCodes) sink += ours[law].decode(frame)[7]; },
    () => { for (const frame of frameCodes) sink += theirs[law].decode(frame)[7]; }), 1]);
}
// What any decoder returning a new Int16Array of an hour pays before decoding anything: memory the system
// hands over page by page, filled once. On a virtual machine this is much of a one-hour decode.
rows.push(['(a new Int16Array of an hour, filled once)', race(() => {
  const fresh = new Int16Array(hour.length);
  fresh.set(hour);
  sink += fresh[7];
})]);
const adpcm = vox.encode(hour, 'adpcm');
rows.push(['ADPCM decode, one hour in one call', race(() => { sink += vox.decode(adpcm, 'adpcm')[7]; }), null, 100]);
rows.push(['ADPCM encode, one hour in one call', race(() => { sink += vox.encode(hour, 'adpcm')[7]; })]);
const decoder = new vox.Decoder('adpcm');
const adpcmFrames = [];
for (let at = 0; at < adpcm.length; at += Frame / 2) adpcmFrames.push(adpcm.subarray(at, at + Frame / 2));
rows.push(['ADPCM decode, 160-sample frames (a Decoder)', race(() => {
  decoder.reset();
  for (const frame of adpcmFrames) sink += decoder.decode(frame)[7];
})]);

const ms = (value) => (value === undefined ? '' : value.toFixed(1));
console.log(`kestrovan-vox ${vox.version()} against alawmulaw ${peerVersion}, Node.js ${process.versions.node}; ` +
  `${cpus().length} x ${cpus()[0].model}; load ${loadavg().map((l) => l.toFixed(2)).join(' ')}` +
  (process.env.GLIBC_TUNABLES ? `; GLIBC_TUNABLES=${process.env.GLIBC_TUNABLES}` : ''));
console.log(`ms per hour of 8 kHz speech, best (median) of ${runs} runs; x = alawmulaw's best over ours`);
console.log('| Job                                           |   Ours (ms)      | alawmulaw (ms)   |      x | Target           |');
console.log('|-----------------------------------------------|------------------|------------------|--------|------------------|');
for (const [job, times, floor, limit] of rows) {
  const ratio = times.theirs.length ? best(times.theirs) / best(times.ours) : undefined;
  const target = floor ? `${floor}x: ${ratio >= floor ? 'met' : 'missed'}`
    : limit ? `< ${limit} ms: ${best(times.ours) < limit ? 'met' : 'missed'}` : '';
  const cell = (values) => (values.length ? `${ms(best(values))} (${ms(median(values))})` : '');
  console.log(`| ${job.padEnd(45)} | ${cell(times.ours).padStart(16)} | ${cell(times.theirs).padStart(16)} | ` +
    `${(ratio === undefined ? '' : `${ratio.toFixed(2)}x`).padStart(6)} | ${target.padEnd(16)} |`);
}
const perFrame = rows.filter(([job]) => job.includes('frames')).map(([job, times]) =>
  `${job.split(',')[0]}: ${((best(times.ours) / frames.length) * 1e6).toFixed(0)} ns` +
  (times.theirs.length ? ` (alawmulaw ${((best(times.theirs) / frames.length) * 1e6).toFixed(0)} ns)` : ''));
console.log(`per 160-sample frame: ${perFrame.join('; ')}`);
if (sink === 0.5) console.log('');
