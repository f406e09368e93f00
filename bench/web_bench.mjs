// The page's speed in headless Chromium: how soon it is ready after it is opened, and how long a one-hour
// ADPCM file (14.4 MB) takes from being chosen to its waveform drawn, tagged and raw (the raw one is also
// examined for its coding). kvox decoding the same file natively, in the same run, is the yardstick.
// Run by `make bench` (or `make bench-web`); figures in bench/README.md.
import { execFileSync } from 'node:child_process';
import { statSync } from 'node:fs';
import {
  chooseFiles, join, kvox, kvoxPath, launch, openPage, pagePath, readFileSync, root, scratchFolder, settled,
  writeFileSync,
} from '../tests/web/browser.mjs';

const Runs = 5;
const HourBytes = 3600 * 8000 / 2;
const folder = scratchFolder('kvox-web-bench-');

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// An hour of 32 kbit/s ADPCM: the speech sample's codes over and over.
const sample = join(folder, 'speech.vox');
kvox('encode', join(root, 'examples/speech.wav'), sample, '--format', 'adpcm', '--no-header');
const codes = readFileSync(sample);
const hour = Buffer.alloc(HourBytes);
for (let at = 0; at < HourBytes; at += codes.length) codes.copy(hour, at, 0, Math.min(codes.length, HourBytes - at));
const files = {
  'hour-tagged.vox': Buffer.concat([Buffer.from('032D'), hour]),
  'hour-raw.vox': hour,
};
for (const [name, bytes] of Object.entries(files)) writeFileSync(join(folder, name), bytes);

const browser = await launch();
const readyTimes = [];
const drawTimes = Object.fromEntries(Object.keys(files).map((name) => [name, []]));
try {
  for (let run = 0; run < Runs; ++run) {
    const page = await openPage(browser);
    readyTimes.push(await page.evaluate(() => performance.getEntriesByName('kvox:ready')[0].startTime));
    for (const name of Object.keys(files)) {
      await chooseFiles(page, [join(folder, name)]);
      await settled(page, [name], 60000);
      drawTimes[name].push(await page.evaluate((drawn) => {
        const chosen = performance.getEntriesByName('kvox:chosen').at(-1).startTime;
        return performance.getEntriesByName(drawn)[0].startTime - chosen;
      }, `kvox:drawn:${name}`));
      await page.click('#remove-all');
    }
    await page.close();
  }
} finally {
  await browser.close();
}

// kvox decoding the tagged hour to a WAV file, natively.
const nativeTimes = [];
for (let run = 0; run < Runs; ++run) {
  const started = process.hrtime.bigint();
  execFileSync(kvoxPath, ['decode', join(folder, 'hour-tagged.vox'), join(folder, 'hour.wav')]);
  nativeTimes.push(Number(process.hrtime.bigint() - started) / 1e6);
}

const ms = (value) => `${value.toFixed(0)} ms`.padStart(9);
console.log(`kvox.html: ${(statSync(pagePath).size / 1024).toFixed(0)} KiB (at most 1024 KiB)`);
console.log(`median of ${Runs} runs in headless Chromium                          median      worst`);
console.log(`page ready after opening (target 300 ms)                         ${ms(median(readyTimes))}  ${ms(Math.max(...readyTimes))}`);
for (const [name, times] of Object.entries(drawTimes)) {
  console.log(`one hour of ADPCM, ${name.padEnd(15)} chosen to drawn (target 1 s)  ${ms(median(times))}  ${ms(Math.max(...times))}`);
}
const ratio = median(drawTimes['hour-tagged.vox']) / median(nativeTimes);
console.log(`kvox decode of the tagged hour to WAV, native                    ${ms(median(nativeTimes))}  ${ms(Math.max(...nativeTimes))}`);
console.log(`page (decode and draw) / native kvox (decode and write): ${ratio.toFixed(2)}`);
