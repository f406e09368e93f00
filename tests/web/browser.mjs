// What the page's tests, screenshot and benchmark share: Debian's Chromium, headless, with a fresh profile
// and nothing that phones home; the page opened from disk; files fed through its picker; downloads kept.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

export const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
export const pagePath = process.env.KVOX_PAGE || join(root, 'build/web/kvox.html');
export const kvoxPath = process.env.KVOX || join(root, 'build/native/host/kvox');

export function kvox(...args) {
  return execFileSync(kvoxPath, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
}

export function scratchFolder(prefix) {
  return mkdtempSync(join(tmpdir(), prefix));
}

export async function launch(extraArgs = []) {
  const profile = scratchFolder('kvox-chromium-');
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required',
      '--disable-dev-shm-usage',
      `--user-data-dir=${profile}`, ...extraArgs,
    ],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

// Opens the page from disk; downloads land in `downloads`; `beforeLoad` may watch the page from its first
// request on. Resolves once the page says it is ready.
export async function openPage(browser, downloads, beforeLoad = () => {}) {
  const page = await browser.newPage();
  beforeLoad(page);
  if (downloads) {
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  }
  await page.goto(pathToFileURL(pagePath).href);
  await page.waitForSelector('body[data-ready="yes"]', { timeout: 20000 });
  return page;
}

// Hands files to the page through its file picker, as a person choosing them does.
export async function chooseFiles(page, paths) {
  const [chooser] = await Promise.all([page.waitForFileChooser(), page.click('#file-input')]);
  await chooser.accept(paths);
}

// Waits until every row for these file names has settled (read, failed, or waiting for its coding).
export async function settled(page, names, timeout = 30000) {
  await page.waitForFunction((wanted) => wanted.every((name) => {
    const row = document.querySelector(`li.file[data-name="${CSS.escape(name)}"]`);
    return row && row.dataset.state !== 'reading';
  }), { timeout }, names);
}

// The texts a person reads in a file's row.
export function rowTexts(page, name) {
  return page.$eval(`li.file[data-name="${name}"]`, (row) => {
    const text = (selector) => row.querySelector(selector).textContent;
    return {
      kind: row.dataset.kind, state: row.dataset.state, facts: text('.facts'), note: text('.note'),
      detected: text('.detected'), error: text('.error'), message: text('.message'),
    };
  });
}

// The bytes of a download once it is complete; the file is taken away, so a later one may have its name.
export async function downloaded(folder, name, timeout = 20000) {
  const path = join(folder, name);
  for (const started = Date.now(); Date.now() - started < timeout;) {
    if (existsSync(path) && !readdirSync(folder).some((file) => file.endsWith('.crdownload'))) {
      const bytes = readFileSync(path);
      rmSync(path);
      return bytes;
    }
    await new Promise((done) => setTimeout(done, 50));
  }
  throw new Error(`no download named ${name} in ${folder}: ${readdirSync(folder).join(', ')}`);
}

// Deterministic bytes without audio structure (xorshift), for a raw file no coding fits.
export function noiseBytes(count, seed = 12345) {
  const bytes = Buffer.alloc(count);
  let state = seed >>> 0;
  for (let i = 0; i < count; ++i) {
    state ^= state << 13;
    state >>>= 0;
    state ^= state >>> 17;
    state ^= state << 5;
    state >>>= 0;
    bytes[i] = state & 0xff;
  }
  return bytes;
}

export { writeFileSync, readFileSync, join };
