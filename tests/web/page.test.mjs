// The page in headless Chromium, opened from disk, files chosen through its picker; kvox is the reference
// for every fact shown and every byte saved. Run by `make test` (node --test).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync } from 'node:fs';
import { after, before, test } from 'node:test';
import {
  chooseFiles, downloaded, join, kvox, launch, noiseBytes, openPage, readFileSync, root, rowTexts, scratchFolder,
  settled, writeFileSync,
} from './browser.mjs';

const folder = scratchFolder('kvox-web-test-');
const downloads = join(folder, 'downloads');
const file = (name) => join(folder, name);
const names = ['tagged.vox', 'raw.vox', 'dial.vox', 'noise.vox', 'notes.txt', 'empty.vox', 'cut.vox', 'prompt.wav',
  'stereo.wav'];
const offsite = [];  // every request of the page or its worker for anything but the page, its blobs and data
let browser;
let page;

// kvox info's line for a file, as the page shows it: without the PCM byte count and the note.
function infoOf(name) {
  const [facts, detected] = kvox('info', file(name)).split('\n');
  return {
    facts: facts.slice(`${file(name)}: `.length).replace(/, \d+ bytes of 16-bit mono PCM/, '').replace(/ \(.*\)$/, ''),
    detected: detected ? `Detected: ${detected.replace(/^ *detected: /, '')}` : '',
  };
}

// A dialled number at 6000 Hz as 16-bit mono WAV: a DTMF pair for 120 ms, then 80 ms of silence, per digit.
function dialledWav() {
  const rate = 6000;
  const samples = [];
  for (const digit of '041255501987') {
    const [low, high] = [[697, 770, 852, 941][digit % 4], [1209, 1336, 1477][digit % 3]];
    for (let i = 0; i < rate * 0.12; ++i) {
      samples.push(Math.round(8000 * (Math.sin((2 * Math.PI * low * i) / rate) + Math.sin((2 * Math.PI * high * i) / rate))));
    }
    for (let i = 0; i < rate * 0.08; ++i) samples.push(0);
  }
  const wav = Buffer.alloc(44 + samples.length * 2);
  wav.write('RIFF', 0);
  wav.writeUInt32LE(wav.length - 8, 4);
  wav.write('WAVEfmt ', 8);
  [16, 0x10001, rate, rate * 2, 0x100002].forEach((value, i) => wav.writeUInt32LE(value, 16 + i * 4));
  wav.write('data', 36);
  wav.writeUInt32LE(samples.length * 2, 40);
  samples.forEach((value, i) => wav.writeInt16LE(value, 44 + i * 2));
  return wav;
}

// The stored entries of a zip, by name.
function unzip(bytes) {
  const entries = {};
  const end = bytes.length - 22;
  let at = bytes.readUInt32LE(end + 16);
  for (let n = bytes.readUInt16LE(end + 10); n > 0; --n) {
    const nameLength = bytes.readUInt16LE(at + 28);
    const size = bytes.readUInt32LE(at + 20);
    const local = bytes.readUInt32LE(at + 42);
    const data = local + 30 + bytes.readUInt16LE(local + 26) + bytes.readUInt16LE(local + 28);
    entries[bytes.toString('utf8', at + 46, at + 46 + nameLength)] = bytes.subarray(data, data + size);
    at += 46 + nameLength + bytes.readUInt16LE(at + 30) + bytes.readUInt16LE(at + 32);
  }
  return entries;
}

before(async () => {
  mkdirSync(downloads);
  const speech = join(root, 'examples/speech.wav');
  kvox('encode', speech, file('tagged.vox'), '--format', 'adpcm');
  kvox('encode', speech, file('raw.vox'), '--format', 'ulaw', '--no-header');
  writeFileSync(file('dial.wav'), dialledWav());
  kvox('encode', file('dial.wav'), file('dial.vox'), '--format', 'alaw48', '--no-header');
  writeFileSync(file('noise.vox'), noiseBytes(20000));
  writeFileSync(file('notes.txt'), 'Call list for Tuesday\n');
  writeFileSync(file('empty.vox'), '');
  writeFileSync(file('cut.vox'), '032');
  kvox('decode', file('tagged.vox'), file('prompt.wav'));  // 16-bit mono at 8000 Hz
  execFileSync('sox', [speech, '-r', '44100', '-c', '2', file('stereo.wav')]);
  browser = await launch();
  page = await openPage(browser, downloads, (opening) =>
    opening.on('request', (request) => /^(file|blob|data):/.test(request.url()) || offsite.push(request.url())));
  await chooseFiles(page, names.map(file));
  await settled(page, names);
});

after(async () => {
  await browser?.close();
});

test('shows what kvox info says of a tagged file, raw files read by content (coding, and rate from tones), and an unsettled one', async () => {
  for (const name of ['tagged.vox', 'raw.vox', 'dial.vox', 'noise.vox']) {
    const shown = await rowTexts(page, name);
    const expected = infoOf(name);
    assert.equal(shown.facts, expected.facts, name);
    assert.equal(shown.detected, expected.detected, name);
  }
  assert.equal((await rowTexts(page, 'tagged.vox')).state, 'ready');
  assert.match((await rowTexts(page, 'raw.vox')).note, /^\(coding from content, 8000 Hz assumed; Kestrovan 48KB U-Law reads it at 6000 Hz\)$/);
  const unsettled = await rowTexts(page, 'noise.vox');
  assert.equal(unsettled.state, 'unsettled');
  assert.match(unsettled.note, /coding not settled/);
});

test('says plainly why a file cannot be opened: not VOX, empty, cut short', async () => {
  for (const [name, reason] of [
    ['notes.txt', /^notes\.txt: not a VOX file: it has no coding tag and its name does not end in \.vox/],
    ['empty.vox', /^empty\.vox: is empty: it holds no audio$/],
    ['cut.vox', /^cut\.vox: cut short: it ends inside its four-byte coding tag/],
  ]) {
    const shown = await rowTexts(page, name);
    assert.equal(shown.kind, 'error', name);
    assert.match(shown.error, reason);
  }
});

test('Save as WAV writes the bytes of kvox decode', async () => {
  for (const name of ['tagged.vox', 'raw.vox']) {
    await page.click(`li.file[data-name="${name}"] .save-wav`);
    const wav = name.replace('.vox', '.wav');
    kvox('decode', file(name), file(`kvox-${wav}`));
    assert.deepEqual(await downloaded(downloads, wav), readFileSync(file(`kvox-${wav}`)), name);
  }
});

test('Save as VOX from 16-bit mono WAV at the coding\'s rate writes the bytes of kvox encode, tag or none', async () => {
  const row = 'li.file[data-name="prompt.wav"]';
  for (const [word, alias, tagged] of [['5', 'adpcm', true], ['3', 'ulaw', false]]) {
    await page.select(`${row} .vox-coding`, word);
    await page.$eval(`${row} .vox-tag`, (box, wanted) => { box.checked = wanted; }, tagged);
    await page.click(`${row} .save-vox`);
    const saved = await downloaded(downloads, 'prompt.vox');
    kvox('encode', file('prompt.wav'), file(`kvox-${alias}.vox`), '--format', alias, ...(tagged ? [] : ['--no-header']));
    assert.deepEqual(saved, readFileSync(file(`kvox-${alias}.vox`)), alias);
  }
});

test('Save as VOX mixes other audio to mono and resamples it to the coding\'s rate, as kvox encode does', async () => {
  const row = 'li.file[data-name="stereo.wav"]';
  await page.select(`${row} .vox-coding`, '6');
  await page.$eval(`${row} .vox-tag`, (box) => { box.checked = true; });
  await page.click(`${row} .save-vox`);
  writeFileSync(file('page-stereo.vox'), await downloaded(downloads, 'stereo.vox'));
  kvox('encode', file('stereo.wav'), file('kvox-stereo.vox'), '--format', 'adpcm24');
  const samples = (name) => {
    kvox('decode', file(name), file(`${name}.wav`));
    const wav = readFileSync(file(`${name}.wav`));
    return new Int16Array(wav.buffer, wav.byteOffset + 44, (wav.length - 44) / 2);
  };
  const [ours, theirs] = [samples('page-stereo.vox'), samples('kvox-stereo.vox')];
  assert.ok(Math.abs(ours.length - theirs.length) <= 16, `${ours.length} samples against kvox's ${theirs.length}`);
  let [product, oursSquared, theirsSquared] = [0, 0, 0];
  for (let i = 0; i < Math.min(ours.length, theirs.length); ++i) {
    product += ours[i] * theirs[i];
    oursSquared += ours[i] ** 2;
    theirsSquared += theirs[i] ** 2;
  }
  assert.ok(product / Math.sqrt(oursSquared * theirsSquared) > 0.9, 'the same sound as kvox makes of it');
});

test('every control has a label, and the keyboard alone plays and seeks', async () => {
  const unnamed = [];
  const walk = (node) => {
    if (['button', 'combobox', 'slider', 'checkbox'].includes(node.role) && !node.name) unnamed.push(node);
    (node.children || []).forEach(walk);
  };
  walk(await page.accessibility.snapshot());
  assert.deepEqual(unnamed, []);
  const row = 'li.file[data-name="tagged.vox"]';
  await page.focus(`${row} .play`);
  await page.keyboard.press('Space');
  await page.waitForSelector(`${row}[data-playing="yes"]`);
  await page.keyboard.press('Space');
  await page.focus(`${row} .position`);
  await page.keyboard.press('End');
  assert.equal(await page.$eval(`${row} .time`, (time) => time.textContent), '0:04.6 / 0:04.6');
});

test('an unsettled raw file asks for its coding before it plays, and plays once it has one', async () => {
  const row = 'li.file[data-name="noise.vox"]';
  await page.click(`${row} .play`);
  assert.match((await rowTexts(page, 'noise.vox')).message, /^Choose this file's coding first/);
  assert.equal(await page.$eval(`${row}`, (item) => item.dataset.playing || 'no'), 'no');
  await page.select(`${row} .coding-choice`, '1');
  await page.waitForSelector(`${row}[data-state="ready"]`);
  await page.click(`${row} .play`);
  await page.waitForFunction((selector) => {
    const item = document.querySelector(selector);
    return item.dataset.playing === 'yes' && Number(item.querySelector('.position').value) > 0;
  }, { timeout: 10000 }, row);
  await page.click(`${row} .play`);
});

// noise.vox has had its coding chosen by the test before.
test('Save all as WAV, with no folder picker, zips every VOX file as kvox decodes it and names those it skips', async () => {
  await page.evaluate(() => Object.defineProperty(window, 'showDirectoryPicker', { value: undefined }));
  await page.click('#save-all');
  const zip = unzip(await downloaded(downloads, 'kvox-wav.zip'));
  assert.deepEqual(Object.keys(zip).sort(), ['dial.wav', 'noise.wav', 'raw.wav', 'tagged.wav']);
  kvox('decode', file('tagged.vox'), file('zip-reference.wav'));
  assert.deepEqual(zip['tagged.wav'], readFileSync(file('zip-reference.wav')));
  const summary = await page.$eval('#save-all-summary', (element) => element.textContent);
  assert.match(summary, /^Saved 4 of 9 files as WAV into kvox-wav\.zip\. Skipped 5:/);
  assert.match(summary, /notes\.txt: not a VOX file/);
});

test('makes no network request', () => {
  assert.deepEqual(offsite, []);
});
