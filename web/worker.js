// The page's worker: the npm package (kvoxPackage, inlined before this script), one job at a time, so that
// long files never stall the page. Each job brings its file's bytes and takes nothing else with it.
//   in:  {job, kind: 'open', name, bytes, word}  facts, and for a settled VOX file its samples and peaks
//        {job, kind: 'encode', name, samples, word}  a VOX file's bytes
//   out: {kind: 'ready', codings} once, {kind: 'broken', error} if the module cannot start;
//        {job, kind: 'done', ...}, {job, kind: 'failed', error}
// `word` is the plug-in's options word: the coding's number (1..6, the order of codings()) and NoTagFlag.
'use strict';

const NoTagFlag = 0x10;
const PeakColumns = 2048;  // the waveform's detail: minimum and maximum of each of this many stretches
// The plug-in's display name for a raw file whose coding is not settled.
const UnknownDisplayName = 'Kestrovan Unknown Format';

const { init, readVox, writeVox, detect, codings: packageCodings, CodingNotSettledError } = kvoxPackage;
let codings = [];

class JobError extends Error {}

const codingOfWord = (word) => codings[(word & 0x0f) - 1];
const wordOf = (alias) => codings.findIndex((coding) => coding.alias === alias) + 1;

// The members of a detected coding at 8000 and 6000 Hz ("ulaw" or "ulaw48" give ulaw and ulaw48).
function family(alias) {
  const fast = codings.find((coding) => coding.rate_hz === 8000 && alias.startsWith(coding.alias));
  return [fast, codings[codings.indexOf(fast) + 1]];
}

// What kvox info says after the display name, for a raw file whose coding the content settled.
function choiceNote(detection) {
  if (detection.rate && detection.rateConfidence >= 0.9) return 'coding and rate from content';
  return `coding from content, 8000 Hz assumed; ${family(detection.coding)[1].display_name} reads it at 6000 Hz`;
}

// kvox's advice for an unsettled file, naming the page's choices (display names), the likeliest first.
function advice(detection) {
  if (!detection.coding) return 'if it is VOX audio all the same, choose its coding';
  const [fast, slow] = family(detection.coding);
  const slowFirst = (detection.rate || detection.rateHint || 8000) === 6000;
  return `try ${(slowFirst ? slow : fast).display_name} or ${(slowFirst ? fast : slow).display_name}`;
}

// The plug-in takes a file by its tag, or by a name that ends in .vox in any case.
function takenAsVox(name, bytes) {
  const head = String.fromCharCode(...bytes.subarray(0, 4));
  return codings.some((coding) => coding.tag === head) || /\.vox$/i.test(name);
}

// Minimum and maximum of each column's stretch of samples, for drawing the whole file.
function peaksOf(samples) {
  const count = samples.length;
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

// What kvox info learns of the file, and for a settled VOX file its samples (`chosen`: the coding the user
// picked for a raw file, or 0). Facts: "vox", "tagged", "tag", "word" (0 while a raw file's coding is not
// settled), "display_name", "rate_hz", and for a raw file "detected" and "note"; or "error".
function read(name, bytes, chosen) {
  if (bytes.length === 0) throw new JobError(`${name}: is empty: it holds no audio`);
  if (!takenAsVox(name, bytes)) {
    return { facts: { vox: false, error: `${name}: not a VOX file: it has no coding tag and its name does not end in .vox` } };
  }
  const facts = { vox: true };
  let audio;
  try {
    audio = readVox(bytes, chosen ? { coding: codingOfWord(chosen).alias } : {});
  } catch (failure) {
    if (failure instanceof CodingNotSettledError) {
      Object.assign(facts, { tagged: false, detected: failure.detection.summary, word: 0, display_name: UnknownDisplayName });
      facts.note = `coding not settled; ${advice(failure.detection)}`;
      return { facts };
    }
    if (failure instanceof RangeError) throw new JobError(`${name}: ${failure.message}`);
    throw failure;
  }
  const coding = codings[wordOf(audio.coding) - 1];
  Object.assign(facts, { tagged: audio.tagged, word: coding.word, display_name: coding.display_name, rate_hz: coding.rate_hz });
  if (audio.tagged) {
    facts.tag = coding.tag;
    if (audio.samples.length === 0) throw new JobError(`${name}: no audio: it holds only its four-byte coding tag`);
  } else if (chosen) {
    facts.detected = detect(bytes).summary;  // what the content says, beside the choice, as kvox info shows it
    facts.note = 'coding chosen on this page';
  } else {
    facts.detected = audio.detection.summary;
    facts.note = choiceNote(audio.detection);
  }
  return { facts, samples: audio.samples, rate: audio.sampleRate };
}

function openJob({ job, name, bytes: buffer, word }) {
  const { facts, samples, rate } = read(name, new Uint8Array(buffer), word & 0x0f);
  if (!samples) return [{ job, kind: 'done', facts }, []];
  const peaks = peaksOf(samples);
  return [{ job, kind: 'done', facts, rate, samples: samples.buffer, count: samples.length, peaks },
    [samples.buffer, peaks.buffer]];
}

function encodeJob({ job, name, samples, word }) {
  if (samples.length === 0) throw new JobError(`${name}: nothing to save: the audio holds no samples`);
  const bytes = writeVox(samples, codingOfWord(word).alias, { tag: !(word & NoTagFlag) });
  return [{ job, kind: 'done', bytes: bytes.buffer }, [bytes.buffer]];
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
      // The module itself stopped (a fault): this job fails and the page starts afresh.
      postMessage({ job: data.job, kind: 'failed', error: `${data.name}: the decoder stopped: ${failure.message || failure}` });
      postMessage({ kind: 'broken', error: String(failure.message || failure) });
    }
  }
};

init().then(
  () => {
    codings = packageCodings().map((coding, i) => ({
      word: i + 1, tag: coding.tag, alias: coding.alias, display_name: coding.displayName, rate_hz: coding.rate,
    }));
    postMessage({ kind: 'ready', codings });
  },
  (failure) => postMessage({ kind: 'broken', error: String(failure && failure.message || failure) }));
