// The page's worker: runs the plug-in's module, one job at a time, so that long files never stall the page.
// Each job brings its file's bytes; they live in the in-memory file system only while the job runs.
//   in:  {job, kind: 'open', name, bytes, word}  facts, and for a settled VOX file its samples and peaks
//        {job, kind: 'encode', name, samples, word}  a VOX file's bytes
//   out: {kind: 'ready', codings} once, {kind: 'broken', error} if the module cannot start;
//        {job, kind: 'progress', fraction}, {job, kind: 'done', ...}, {job, kind: 'failed', error}
'use strict';

const ErrorBytes = 1024;
const ChunkSamples = 1 << 20;
const PeakColumns = 2048;  // the waveform's detail: minimum and maximum of each of this many stretches
const ProgressAfterMs = 150;

let kvox = null;
let errorBuffer = 0;
let chunk = 0;

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

class JobError extends Error {}

function lastError() {
  return kvox.UTF8ToString(errorBuffer);
}

// Runs `body` in a folder of its own holding the file `name`, so the plug-in sees the user's file name
// (and its extension) and every message starts with it.
function inFolder(job, name, bytes, body) {
  const folder = `/jobs/${job}`;
  kvox.FS.mkdir(folder);
  kvox.FS.chdir(folder);
  try {
    if (bytes) {
      const stream = kvox.FS.open(name, 'w');
      // The file system takes the bytes over instead of copying them.
      kvox.FS.write(stream, bytes, 0, bytes.length, 0, true);
      kvox.FS.close(stream);
    }
    return body();
  } finally {
    for (const entry of kvox.FS.readdir('.')) {
      if (entry !== '.' && entry !== '..') kvox.FS.unlink(entry);
    }
    kvox.FS.chdir('/');
    kvox.FS.rmdir(folder);
  }
}

function inspect(name, word) {
  return JSON.parse(kvox.ccall('kvw_inspect', 'string', ['string', 'number'], [name, word]));
}

function reportProgress(job, started, fraction) {
  if (performance.now() - started > ProgressAfterMs) postMessage({ job, kind: 'progress', fraction });
}

// Minimum and maximum of each column's stretch of samples, for drawing the whole file.
function peaksOf(samples, count) {
  const columns = Math.max(1, Math.min(PeakColumns, count));
  const peaks = new Int16Array(columns * 2);
  for (let column = 0; column < columns; ++column) {
    const start = Math.floor((column * count) / columns);
    const end = Math.max(start + 1, Math.floor(((column + 1) * count) / columns));
    let low = 32767;
    let high = -32768;
    for (let i = start; i < end && i < count; ++i) {
      const value = samples[i];
      if (value < low) low = value;
      if (value > high) high = value;
    }
    peaks[column * 2] = count > 0 ? low : 0;
    peaks[column * 2 + 1] = count > 0 ? high : 0;
  }
  return peaks;
}

// Every sample the plug-in delivers, read as kvox decode reads them: whole blocks until a short one.
function decode(job, name, word, fileBytes) {
  const reader = kvox.ccall('kvw_reader_open', 'number', ['string', 'number', 'number', 'number'],
    [name, word, errorBuffer, ErrorBytes]);
  if (!reader) throw new JobError(lastError());
  try {
    const rate = kvox._kvw_reader_rate(reader);
    let samples = new Int16Array(Math.max(0, Math.ceil(kvox._kvw_reader_expected_samples(reader, fileBytes))));
    let count = 0;
    const started = performance.now();
    for (;;) {
      const got = kvox._kvw_reader_read(reader, chunk, ChunkSamples, errorBuffer, ErrorBytes);
      if (got < 0) throw new JobError(lastError());
      if (got === 0) break;
      if (count + got > samples.length) {
        const larger = new Int16Array(Math.max(count + got, samples.length * 2));
        larger.set(samples.subarray(0, count));
        samples = larger;
      }
      samples.set(kvox.HEAP16.subarray(chunk >> 1, (chunk >> 1) + got), count);
      count += got;
      reportProgress(job, started, Math.min(1, count / Math.max(1, samples.length)));
    }
    return { rate, samples, count };
  } finally {
    kvox._kvw_reader_close(reader);
  }
}

function openJob({ job, name, bytes: buffer, word }) {
  const bytes = new Uint8Array(buffer);
  return inFolder(job, name, bytes, () => {
    const facts = inspect(name, word || 0);
    if (facts.error || !facts.vox || !facts.word) return [{ job, kind: 'done', facts }, []];
    const { rate, samples, count } = decode(job, name, facts.word, bytes.length);
    const peaks = peaksOf(samples, count);
    return [{ job, kind: 'done', facts, rate, samples: samples.buffer, count, peaks }, [samples.buffer, peaks.buffer]];
  });
}

function encodeJob({ job, name, samples, word }) {
  return inFolder(job, name, null, () => {
    const writer = kvox.ccall('kvw_writer_open', 'number', ['string', 'number', 'number', 'number'],
      [name, word, errorBuffer, ErrorBytes]);
    if (!writer) throw new JobError(lastError());
    const started = performance.now();
    for (let done = 0; done < samples.length; done += ChunkSamples) {
      const part = samples.subarray(done, done + ChunkSamples);
      kvox.HEAP16.set(part, chunk >> 1);
      if (kvox._kvw_writer_append(writer, chunk, part.length, errorBuffer, ErrorBytes) !== 0) {
        const reason = lastError();
        kvox._kvw_writer_finish(writer, errorBuffer, ErrorBytes);
        throw new JobError(reason);
      }
      reportProgress(job, started, (done + part.length) / samples.length);
    }
    if (kvox._kvw_writer_finish(writer, errorBuffer, ErrorBytes) !== 0) throw new JobError(lastError());
    const bytes = kvox.FS.readFile(name);
    return [{ job, kind: 'done', bytes: bytes.buffer }, [bytes.buffer]];
  });
}

const jobKinds = { open: openJob, encode: encodeJob };

self.onmessage = ({ data }) => {
  try {
    const [answer, transfer] = jobKinds[data.kind](data);
    postMessage(answer, transfer);
  } catch (failure) {
    if (failure instanceof JobError) {
      postMessage({ job: data.job, kind: 'failed', error: failure.message });
    } else if (failure instanceof RangeError) {
      postMessage({ job: data.job, kind: 'failed', error: `${data.name}: too large for this browser to hold in memory` });
    } else {
      // The module itself stopped (out of memory, or a fault): this job fails and the page starts afresh.
      postMessage({ job: data.job, kind: 'failed', error: `${data.name}: the decoder stopped: ${failure.message || failure}` });
      postMessage({ kind: 'broken', error: String(failure.message || failure) });
    }
  }
};

createKvoxModule({ wasmBinary: decodeBase64(KVOX_WASM_BASE64), print: () => {}, printErr: () => {} }).then(
  (module) => {
    kvox = module;
    errorBuffer = kvox._malloc(ErrorBytes);
    chunk = kvox._malloc(ChunkSamples * 2);
    kvox.FS.mkdir('/jobs');
    postMessage({ kind: 'ready', codings: JSON.parse(kvox.ccall('kvw_codings', 'string', [], [])) });
  },
  (failure) => postMessage({ kind: 'broken', error: String(failure && failure.message || failure) }));
