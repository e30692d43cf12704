// Times the page in headless Chromium on one demo, from the moment the file is chosen
// (the file input's change event) to the moment its download is offered (the card's
// link shown), beside the native program converting the same demo on one thread
// (`--batch --jobs 1`, which converts each file on one thread), from the page cache.
// Prints the best of a few runs of each, in MB/s (10^6 bytes a second).
//   node page_bench.mjs <site folder> <native program> <demo> [runs]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { serve } from '../serve.mjs';

const [site, program, demo] = process.argv.slice(2, 5).map((arg) => path.resolve(arg));
const runs = Number(process.argv[5] ?? 3);
const size = fs.statSync(demo).size;
const rate = (seconds) => `${(size / seconds / 1e6).toFixed(1)} MB/s (${seconds.toFixed(3)} s)`;

function nativeSeconds() {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'tarnic-bench-'));
  try {
    let best = Infinity;
    for (let run = 0; run < runs; run++) {
      fs.rmSync(path.join(out, path.basename(demo) + '.dm_48'), { force: true });
      const start = process.hrtime.bigint();
      execFileSync(program, ['--batch', '--jobs', '1', '--output-dir', out, demo], { stdio: 'ignore' });
      best = Math.min(best, Number(process.hrtime.bigint() - start) / 1e9);
    }
    return best;
  } finally {
    fs.rmSync(out, { recursive: true, force: true });
  }
}

async function pageSeconds() {
  const server = await serve(site);
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
  });
  try {
    let best = Infinity;
    for (let run = 0; run < runs; run++) {
      const page = await browser.newPage();
      // Both moments are taken on the page's own clock: the change event in the capture
      // phase, before the page's handler runs, and the link as it is shown.
      await page.evaluateOnNewDocument(() => {
        window.bench = {};
        window.addEventListener('change', () => { window.bench.chosen = performance.now(); }, true);
        new MutationObserver(() => {
          if (window.bench.offered === undefined && document.querySelector('.result a.download:not([hidden])')) {
            window.bench.offered = performance.now();
          }
        }).observe(document, { subtree: true, childList: true, attributes: true });
      });
      await page.goto(`http://127.0.0.1:${server.address().port}/`);
      await (await page.$('#demo-files')).uploadFile(demo);
      await page.waitForFunction(() => window.bench.offered !== undefined ||
        document.querySelector('.result[data-state="failed"]'), { timeout: 600_000, polling: 50 });
      const { chosen, offered } = await page.evaluate(() => window.bench);
      if (offered === undefined) throw new Error('the page did not convert the demo');
      best = Math.min(best, (offered - chosen) / 1000);
      await page.close();
    }
    return best;
  } finally {
    await browser.close();
    server.close();
  }
}

const native = nativeSeconds();
const page = await pageSeconds();
console.log(`demo: ${path.basename(demo)}, ${(size / 2 ** 20).toFixed(1)} MiB; best of ${runs} runs each`);
console.log(`native, one thread: ${rate(native)}`);
console.log(`page in Chromium:   ${rate(page)}`);
console.log(`page / native: ${(page / native).toFixed(2)}x the time`);
