// Drives the service's web page in headless Chromium: uploads a picture, moves a slider, downloads
// the picture, and saves a screenshot of the page.
// Usage: node scripts/browser-test.mjs BASE_URL SCREENSHOT DOWNLOAD_FOLDER   (NODE_PATH: playwright-core)
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';
import path from 'node:path';

const require = createRequire(path.join(process.env.NODE_PATH || '.', 'x.js'));
const { chromium } = require('playwright-core');
const [base, screenshot, downloads] = process.argv.slice(2);
const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');

let passed = 0, failed = 0;
function check(what, ok, detail = '') {
  if (ok) passed++;
  else failed++;
  console.log((ok ? 'ok     ' : 'FAILED ') + what + (detail ? ': ' + detail : ''));
}

const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
                                        args: ['--no-sandbox'] });
try {
  const page = await browser.newPage({ viewport: { width: 1280, height: 860 }, acceptDownloads: true });
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  let aborted = 0;
  page.on('requestfailed', (r) => { if (r.url().endsWith('/render')) aborted++; });
  await page.goto(base);
  const rendered = () => page.$eval('#preview', (img) => Number(img.dataset.rendered || 0));
  const renderedAfter = async (n) => {
    await page.waitForFunction((n) => Number(document.querySelector('#preview').dataset.rendered || 0) > n, n,
                               { timeout: 60000 });
    return rendered();
  };
  let shown = await renderedAfter(0);
  check('the first template renders on opening', shown > 0);
  check('the template list is filled', (await page.$$eval('#template option', (o) => o.length)) === 14);

  // Upload the front artwork into its slot.
  const cover = path.join(root, 'examples/box-front.jpg');
  await page.setInputFiles('input[data-slot=front]', cover);
  shown = await renderedAfter(shown);
  const withCover = await page.$eval('#preview', (img) => img.src);
  check('a picture dropped on the front slot shows in the slot', await page.$('.slot[data-slot=front] img') !== null);
  const side = path.join(root, 'examples/box-side.jpg'), top = path.join(root, 'examples/box-top.jpg');
  await page.setInputFiles('input[data-slot=side]', side);
  await page.setInputFiles('input[data-slot=top]', top);
  shown = await renderedAfter(shown);

  // Move a slider with the keyboard: many steps in a burst, the newest request wins.
  await page.focus('#shadow-blur');
  for (let i = 0; i < 12; i++) await page.keyboard.press('ArrowRight');
  shown = await renderedAfter(shown);
  await page.waitForFunction(() => document.querySelector('#status').textContent === '', null, { timeout: 60000 });
  console.log('       (' + aborted + ' older preview requests aborted so far)');
  const blur = await page.$eval('#shadow-blur', (e) => e.value);
  check('the slider moved', blur === '37', 'value ' + blur);
  check('the preview changed', (await page.$eval('#preview', (img) => img.src)) !== withCover);
  // What the page shows is the render of the final values, byte for byte: the newest request won.
  const shownBytes = Buffer.from(await page.evaluate(async () => {
    const bytes = new Uint8Array(await (await fetch(document.querySelector('#preview').src)).arrayBuffer());
    return Array.from(bytes);
  }));
  const form = new FormData();
  const values = { template: '1', width: '800', height: '600', 'png-effort': 'fast', format: 'png',
                   'reflection-opacity': '255', 'reflection-length': '50', 'reflection-blur': '15',
                   'shadow-density': '255', 'shadow-blur': '37', shading: '255', highlights: '255' };
  for (const [key, value] of Object.entries(values)) form.append(key, value);
  form.append('front', new Blob([readFileSync(cover)]), 'box-front.jpg');
  form.append('side', new Blob([readFileSync(side)]), 'box-side.jpg');
  form.append('top', new Blob([readFileSync(top)]), 'box-top.jpg');
  const direct = Buffer.from(await (await fetch(base + 'render', { method: 'POST', body: form })).arrayBuffer());
  check('the preview is the render of the newest values', direct.length > 0 && direct.equals(shownBytes),
        shownBytes.length + ' and ' + direct.length + ' bytes');

  // Download as JPEG at the full size.
  await page.selectOption('#format', 'jpeg');
  const [download] = await Promise.all([page.waitForEvent('download', { timeout: 120000 }), page.click('#download')]);
  const file = path.join(downloads, download.suggestedFilename());
  await download.saveAs(file);
  const bytes = readFileSync(file);
  check('the download is a JPEG named for it', download.suggestedFilename() === 'boxshot.jpg' &&
        bytes[0] === 0xFF && bytes[1] === 0xD8 && bytes[2] === 0xFF, download.suggestedFilename() + ', ' + bytes.length + ' bytes');
  // The JPEG's frame header says 800 x 600 (the page's default size).
  let at = 2, size = '';
  while (at + 9 < bytes.length) {
    const marker = bytes[at + 1], length = bytes.readUInt16BE(at + 2);
    if (marker >= 0xC0 && marker <= 0xC2) { size = bytes.readUInt16BE(at + 7) + ' x ' + bytes.readUInt16BE(at + 5); break; }
    at += 2 + length;
  }
  check('the download has the asked size', size === '800 x 600', size);

  check('no script errors', errors.length === 0, errors.join('; '));
  await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({ path: screenshot, fullPage: true });
} finally {
  await browser.close();
}
console.log(`browser test: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
