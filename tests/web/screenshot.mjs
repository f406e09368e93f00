// Draws docs/web.png: the page with a few files open (tagged, raw and read by content, raw and unsettled,
// not VOX), made with kvox from the speech sample. Usage: node tests/web/screenshot.mjs OUTPUT.png
import { mkdirSync } from 'node:fs';
import { chooseFiles, join, kvox, launch, noiseBytes, openPage, root, scratchFolder, settled, writeFileSync } from './browser.mjs';

const output = process.argv[2] || join(root, 'docs/web.png');
const folder = join(scratchFolder('kvox-web-shot-'), 'calls');
mkdirSync(folder);
const speech = join(root, 'examples/speech.wav');
kvox('encode', speech, join(folder, 'greeting.vox'), '--format', 'adpcm');
kvox('encode', speech, join(folder, '0412.vox'), '--format', 'ulaw', '--no-header');
writeFileSync(join(folder, '0414.vox'), noiseBytes(20000));
writeFileSync(join(folder, 'notes.txt'), 'Call list for Tuesday\n');
const names = ['greeting.vox', '0412.vox', '0414.vox', 'notes.txt'];

const browser = await launch(['--force-color-profile=srgb', '--hide-scrollbars']);
try {
  const page = await openPage(browser);
  await page.setViewport({ width: 900, height: 800 });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'light' }]);
  await chooseFiles(page, names.map((name) => join(folder, name)));
  await settled(page, names);
  // Stopped a third of the way in, so the play position shows.
  await page.$eval('li.file[data-name="greeting.vox"] .position', (slider) => {
    slider.value = (Number(slider.max) / 3).toFixed(1);
    slider.dispatchEvent(new Event('input'));
  });
  await page.screenshot({ path: output, fullPage: true });
} finally {
  await browser.close();
}
console.log(`wrote ${output}`);
