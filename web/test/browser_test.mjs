// Checks the built page in headless Chromium: demos go in through the file input,
// and each one's console text and downloaded file must equal what the native
// program prints (less its banner line, which the page does not show) and writes,
// and its outcome, verdict and diagnostics what `tarnic --verify` and `--info` say.
//   node browser_test.mjs <site folder> <native build folder> <work folder>
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { unzipSync, zipSync } from 'fflate';
import puppeteer from 'puppeteer-core';
import { serve } from '../serve.mjs';

const REPO = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const [site, nativeBuild, work] = process.argv.slice(2).map((arg) => path.resolve(arg));
const nativeProgram = path.join(nativeBuild, 'tarnic');
const SAMPLE = fs.readFileSync(path.join(REPO, 'examples/sample.dm3'));
const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const WAIT_MS = 120_000;

/// Where each record of a demo starts: [offset, payload length].
function recordsOf(demo) {
  const records = [];
  for (let at = 0; at + 8 <= demo.length && demo.readInt32LE(at) !== -1; at += 8 + demo.readInt32LE(at + 4)) {
    records.push([at, demo.readInt32LE(at + 4)]);
  }
  return records;
}

function record(sequence, payload) {
  const header = Buffer.alloc(8);
  header.writeInt32LE(sequence, 0);
  header.writeInt32LE(payload.length, 4);
  return Buffer.concat([header, Buffer.from(payload)]);
}

// Each demo, its outcome on the page, and a diagnostic the native program must print
// for it, so that every damaged case really is damaged. Names hold a space, as
// players' files do.
const [middle, middleLength] = recordsOf(SAMPLE)[150];
const second = recordsOf(SAMPLE)[1][0];
const withSecondRecord = (payload) =>
  Buffer.concat([SAMPLE.subarray(0, second), record(2, payload), SAMPLE.subarray(second)]);
// A demo of tens of MB, converted first so that the others wait behind it.
const BIG_DEMO_RECORDS = '150000';
const CASES = [
  { name: 'busy match.dm3', demo: null, state: 'converted', diagnostic: '' },
  { name: 'sample.dm3', demo: SAMPLE, state: 'converted', diagnostic: '' },
  { name: 'two notes.dm3', demo: withSecondRecord([1, 1]), state: 'diagnostics', diagnostic: 'NOP server command.' },
  { name: 'cut short.dm3', demo: SAMPLE.subarray(0, middle + 8 + (middleLength >> 1)), state: 'damaged',
    diagnostic: 'cut short' },
  { name: 'bad operation.dm3', demo: withSecondRecord([0xee]), state: 'diagnostics',
    diagnostic: 'Unknown server command.' },
  { name: 'not a demo.dm3', demo: Buffer.from('This is a text file, not a demo.\n'), state: 'not-a-demo',
    diagnostic: 'WARNING' },
];
const converts = (demoCase) => demoCase.state !== 'not-a-demo';
const caseNamed = (name) => CASES.find((demoCase) => demoCase.name === name);
// A folder to drop: each file's path in it, and the case it holds (none: not taken).
// The page takes every .dm3 at any depth, in any letter case, and lists them in path order.
const FOLDER = 'old matches';
const FOLDER_FILES = [
  ['2019/cut short.dm3', 'cut short.dm3'],
  ['2019/deeper/two notes.Dm3', 'two notes.dm3'],
  ['2019/not a demo.dm3', 'not a demo.dm3'],
  ['final.DM3', 'sample.dm3'],
  ['notes.txt', null],
];
const PHONE = { width: 390, height: 844 };

const results = [];
function check(name, ok, detail = '') {
  results.push(ok);
  console.log(`${ok ? 'PASS' : 'FAIL'} ${name}${ok || !detail ? '' : `: ${detail}`}`);
}

/// Runs the native program on a copy of each demo, as a user would, beside it: its
/// conversion, and its verdict and diagnostics.
function runNative(folder) {
  fs.mkdirSync(folder, { recursive: true });
  for (const demoCase of CASES) {
    fs.writeFileSync(path.join(folder, demoCase.name), demoCase.demo);
    const stdout = execFileSync(nativeProgram, [demoCase.name], { cwd: folder });
    demoCase.expectedConsole = stdout.toString('utf8').replace(/^[^\n]*\n/, '');
    // A file that is not a demo gets no output, nor the line saying it was written.
    if (!converts(demoCase)) demoCase.expectedConsole = demoCase.expectedConsole.replace(/\n[^\n]*\n$/, '');
    demoCase.expectedDemo = fs.readFileSync(path.join(folder, `${demoCase.name}.dm_48`));
    if (!demoCase.expectedConsole.includes(demoCase.diagnostic)) {
      throw new Error(`the native program printed no "${demoCase.diagnostic}" for ${demoCase.name}`);
    }
    const verify = spawnSync(nativeProgram, ['--verify', demoCase.name], { cwd: folder, encoding: 'utf8' });
    demoCase.expectedVerdict = verify.stdout.slice(`${demoCase.name}: `.length).trimEnd();
    const [described] = JSON.parse(execFileSync(nativeProgram, ['--info', '--json', demoCase.name], { cwd: folder }));
    demoCase.expectedDiagnostics = described.diagnostics.map(({ kind, count }) => `${count} \u00d7 ${kind}`);
  }
}

async function waitForCards(page, count) {
  const cardsNow = () => page.$$eval('.result', (cards) => cards.map((card) => ({
    name: card.querySelector('.name').textContent,
    state: card.dataset.state,
    console: card.querySelector('pre').textContent,
    verdict: card.querySelector('.verdict').checkVisibility() ? card.querySelector('.verdict code').textContent : null,
    diagnostics: [...card.querySelectorAll('.diagnostics li')].map((item) => item.textContent),
    downloadShown: card.querySelector('a').checkVisibility(),
  })));
  try {
    await page.waitForFunction((n) => {
      const cards = [...document.querySelectorAll('.result')];
      return cards.length === n && cards.every((card) => !['waiting', 'converting'].includes(card.dataset.state)) &&
        !document.getElementById('progress').checkVisibility();
    }, { timeout: WAIT_MS }, count);
  } catch (error) {
    // Where the page stopped, for the log: each card's name and state.
    const cards = await cardsNow().catch(() => []);
    throw new Error(`${error.message}; cards: ${cards.map(({ name, state }) => `${name} ${state}`).join(', ')}`);
  }
  return cardsNow();
}

/// Clicks each element and returns the files it saved, by suggested name.
async function downloadsOf(cdp, folder, elements) {
  const saved = new Map();
  const names = new Map();
  const named = (event) => names.set(event.guid, event.suggestedFilename);
  cdp.on('Browser.downloadWillBegin', named);
  for (const element of elements) {
    const finished = new Promise((resolve, reject) => {
      const listener = (event) => {
        if (event.state === 'inProgress') return;
        cdp.off('Browser.downloadProgress', listener);
        if (event.state === 'completed') resolve(event.guid);
        else reject(new Error(`download ${event.state}`));
      };
      cdp.on('Browser.downloadProgress', listener);
    });
    await element.click();
    const guid = await finished;
    saved.set(names.get(guid), fs.readFileSync(path.join(folder, guid)));
  }
  cdp.off('Browser.downloadWillBegin', named);
  return saved;
}

/// The zip of "Download all" must hold exactly the files the program writes, as it
/// writes them: `expected` maps each name in the zip to the program's output.
async function checkZip(page, cdp, folder, expected, what) {
  const zips = await downloadsOf(cdp, folder, [await page.$('#download-all')]);
  const zip = zips.get('converted demos.zip');
  const entries = zip ? unzipSync(zip) : {};
  const wrong = [...expected].filter(([name, bytes]) => !entries[name] || !bytes.equals(entries[name]))
    .map(([name]) => name);
  const extra = Object.keys(entries).filter((name) => !expected.has(name));
  check(`${what}: Download all gives one zip of every converted file as the program's`,
    zip !== undefined && wrong.length === 0 && extra.length === 0,
    zip ? `wrong or missing: ${wrong.join(', ')}; extra: ${extra.join(', ')}` : `no zip among ${[...zips.keys()]}`);
}

async function checkConversions(browser, cdp, downloads, url) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(String(error)));
  // The page works offline: everything it loads comes from the site served, and is there.
  const unmet = [];
  page.on('request', (request) => {
    if (!/^(blob|data):/.test(request.url()) && !request.url().startsWith(url)) unmet.push(request.url());
  });
  page.on('response', (response) => {
    if (response.status() >= 400) unmet.push(`${response.url()} (${response.status()})`);
  });
  // Whether the page ever showed its progress bar and a card converting, however briefly.
  await page.evaluateOnNewDocument(() => {
    window.seen = { progress: false, converting: false };
    new MutationObserver(() => {
      window.seen.progress ||= document.getElementById('progress')?.checkVisibility() === true;
      window.seen.converting ||=
        document.querySelector('.result[data-state="converting"] progress')?.checkVisibility() === true;
    }).observe(document, { subtree: true, childList: true, attributes: true });
  });
  await page.goto(url);
  const input = await page.$('#demo-files');
  await input.uploadFile(...CASES.map((demoCase) => path.join(work, 'inputs', demoCase.name)));
  const cards = await waitForCards(page, CASES.length);
  await page.screenshot({ path: path.join(work, 'page.png'), fullPage: true });
  await page.setViewport(PHONE);
  await page.screenshot({ path: path.join(work, 'page-phone.png'), fullPage: true });
  check('at phone width nothing is wider than the screen',
    await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
  const saved = await downloadsOf(cdp, downloads, await page.$$('.result a.download:not([hidden])'));
  for (const demoCase of CASES) {
    const card = cards.find((c) => c.name === demoCase.name);
    const outputName = `${demoCase.name}.dm_48`;
    check(`${demoCase.name}: ${demoCase.state}`, card?.state === demoCase.state, card?.state);
    check(`${demoCase.name}: verdict and diagnostics as the program's`, card?.verdict === demoCase.expectedVerdict &&
      JSON.stringify(card?.diagnostics) === JSON.stringify(demoCase.expectedDiagnostics), JSON.stringify(card));
    check(`${demoCase.name}: console text as the program's`, card?.console === demoCase.expectedConsole,
      JSON.stringify(card?.console));
    if (converts(demoCase)) {
      check(`${demoCase.name}: download ${outputName} as the program's output`,
        saved.get(outputName)?.equals(demoCase.expectedDemo) === true,
        saved.has(outputName) ? `${saved.get(outputName).length} bytes differ` : 'not downloaded');
    } else {
      check(`${demoCase.name}: nothing to download`, !card?.downloadShown && !saved.has(outputName));
    }
  }
  const converted = CASES.filter(converts).map((demoCase) => [`${demoCase.name}.dm_48`, demoCase.expectedDemo]);
  await checkZip(page, cdp, downloads, new Map(converted), 'files picked');
  const seen = await page.evaluate(() => window.seen);
  check('progress shown while converting', seen.progress && seen.converting, JSON.stringify(seen));
  check('no script errors on the page', errors.length === 0, errors.join('; '));
  check('everything loaded is in the site', unmet.length === 0, unmet.join(' '));
  await page.close();
}

/// The two ways to give the page a folder, as a person does.
const FOLDER_WAYS = {
  async dropped(page, folder) {
    const session = await page.createCDPSession();
    const zone = await (await page.$('#drop-zone')).boundingBox();
    const drag = { x: zone.x + zone.width / 2, y: zone.y + zone.height / 2,
      data: { items: [], files: [folder], dragOperationsMask: 1 } };
    for (const type of ['dragEnter', 'dragOver', 'drop']) await session.send('Input.dispatchDragEvent', { type, ...drag });
  },
  async chosen(page, folder) {
    await (await page.$('#demo-folder')).uploadFile(folder);
  },
};

/// A folder given to the page gives a card for each .dm3 in it, and "Download all" a
/// zip of their conversions under their paths in the folder.
async function checkFolders(browser, cdp, downloads, url) {
  for (const [file, name] of FOLDER_FILES) {
    const where = path.join(work, FOLDER, file);
    fs.mkdirSync(path.dirname(where), { recursive: true });
    fs.writeFileSync(where, name ? caseNamed(name).demo : 'A note.\n');
  }
  const taken = FOLDER_FILES.filter(([, name]) => name);
  const expected = taken.map(([file, name]) => `${FOLDER}/${file} ${caseNamed(name).state}`);
  const converted = taken.filter(([, name]) => converts(caseNamed(name)))
    .map(([file, name]) => [`${FOLDER}/${file}.dm_48`, caseNamed(name).expectedDemo]);
  for (const [way, give] of Object.entries(FOLDER_WAYS)) {
    const page = await browser.newPage();
    await page.goto(url);
    await give(page, path.join(work, FOLDER));
    const cards = await waitForCards(page, taken.length);
    check(`folder ${way}: a card for each .dm3 inside, in path order`, JSON.stringify(cards.map((card) =>
      `${card.name} ${card.state}`)) === JSON.stringify(expected), JSON.stringify(cards));
    await checkZip(page, cdp, downloads, new Map(converted), `folder ${way}`);
    await page.close();
  }
}

// A pack to choose: each member, what it holds, its card's outcome (none: no card) and
// what the converted pack holds for it: its conversion, itself, or nothing.
const PACK = 'match pack.zip';
const PACK_MEMBERS = [
  { name: 'readme.txt', bytes: () => Buffer.from('Read me.\n'), kept: 'copied' },
  { name: 'maps/', bytes: () => Buffer.alloc(0), kept: 'copied' },
  { name: 'maps/final.DM3', demo: 'sample.dm3', state: 'converted', kept: 'converted' },
  { name: 'maps/cut short.dm3', demo: 'cut short.dm3', state: 'damaged', kept: 'converted' },
  { name: 'two notes.Dm3', demo: 'two notes.dm3', state: 'diagnostics', kept: 'converted' },
  { name: 'not a demo.dm3', demo: 'not a demo.dm3', state: 'not-a-demo', reported: 'not a demo, left out' },
  // Stored, then one byte of it changed: its checksum no longer holds.
  { name: 'broken.dm3', demo: 'sample.dm3', stored: true, state: 'failed', reported: 'failed, left out',
    why: 'its checksum differs' },
  // Its size in the central directory made small: it must not be read past it.
  { name: 'lies.dm3', demo: 'sample.dm3', claims: 100, state: 'failed', reported: 'failed, left out',
    why: 'holds more than its stored size' },
  { name: '../escape.dm3', demo: 'sample.dm3', reported: 'unsafe name, left out' },
  { name: 'C:/escape.dm3', demo: 'sample.dm3', reported: 'unsafe name, left out' },
  { name: 'maps\\..\\..\\escape.dm3', demo: 'sample.dm3', reported: 'unsafe name, left out' },
  { name: 'inner.zip', bytes: () => Buffer.from(zipSync({ 'deep.dm3': SAMPLE })), kept: 'copied',
    reported: 'a pack inside the pack, not opened; copied as it is' },
  { name: 'f\u00fcr \u540d.dm3', demo: 'sample.dm3', state: 'converted', kept: 'converted' },
];

/// A zip pack chosen on the page gives a card for each .dm3 member, a card for the pack
/// reporting what it left out, and the pack again: each demo converted under the name
/// the program gives its output, as the program converts it, every other member as it
/// is, and neither the original demos nor those that failed.
async function checkPack(browser, cdp, downloads, url) {
  const contents = new Map(PACK_MEMBERS.map((member) =>
    [member, member.demo ? caseNamed(member.demo).demo : member.bytes()]));
  const bytesOf = (member) => contents.get(member);
  const zip = Buffer.from(zipSync(Object.fromEntries(PACK_MEMBERS.map((member) =>
    [member.name, [bytesOf(member), { level: member.stored ? 0 : 6 }]]))));
  const stored = zip.indexOf(SAMPLE.subarray(0, 256));
  zip[stored + 100] ^= 1;
  for (const member of PACK_MEMBERS.filter(({ claims }) => claims)) {
    // The name's last occurrence is in the central directory, 46 bytes into its entry.
    zip.writeUInt32LE(member.claims, zip.lastIndexOf(Buffer.from(member.name)) - 46 + 24);
  }
  fs.writeFileSync(path.join(work, 'inputs', PACK), zip);
  const page = await browser.newPage();
  await page.goto(url);
  await (await page.$('#demo-files')).uploadFile(path.join(work, 'inputs', PACK));
  const carded = PACK_MEMBERS.filter((member) => member.state);
  const cards = await waitForCards(page, 1 + carded.length);
  const expected = [`${PACK} pack`, ...carded.map((member) => `${PACK}:${member.name} ${member.state}`)];
  check('pack: a card for the pack, then one for each .dm3 member, in member order',
    JSON.stringify(cards.map((card) => `${card.name} ${card.state}`)) === JSON.stringify(expected), JSON.stringify(cards));
  const reported = PACK_MEMBERS.filter((member) => member.reported)
    .map((member) => `${PACK}:${member.name}: ${member.reported}`);
  check('pack: its card reports each member left out or not opened', cards[0]?.console === `${reported.join('\n')}\n`,
    JSON.stringify(cards[0]?.console));
  for (const { name, why } of PACK_MEMBERS.filter((member) => member.why)) {
    const card = cards.find((c) => c.name === `${PACK}:${name}`);
    check(`pack: ${name} cannot be read and fails, saying why`,
      card?.console === `ERROR: unable to open ${name}: ${why}\n`, JSON.stringify(card?.console));
  }
  const saved = await downloadsOf(cdp, downloads, [await page.$('.result a.download:not([hidden])')]);
  const converted = saved.get('match pack.dm_48.zip');
  const entries = converted ? unzipSync(converted) : {};
  const want = new Map(PACK_MEMBERS.filter((member) => member.kept).map((member) => member.kept === 'converted'
    ? [member.name + '.dm_48', caseNamed(member.demo).expectedDemo] : [member.name, bytesOf(member)]));
  const wrong = [...want].filter(([name, bytes]) => !entries[name] || !bytes.equals(entries[name])).map(([name]) => name);
  check('pack: the converted pack holds each demo as the program converts it and the other members as they are',
    converted !== undefined && wrong.length === 0 &&
      JSON.stringify(Object.keys(entries)) === JSON.stringify([...want.keys()]),
    converted ? `wrong or missing: ${wrong.join(', ')}; names ${JSON.stringify(Object.keys(entries))}` :
      `no converted pack among ${[...saved.keys()]}`);
  await page.close();

  // A file named as a pack that is not one fails visibly, and nothing is offered.
  const notPack = path.join(work, 'inputs', 'not a pack.zip');
  fs.writeFileSync(notPack, 'A note.\n');
  const second = await browser.newPage();
  await second.goto(url);
  await (await second.$('#demo-files')).uploadFile(notPack);
  const [card] = await waitForCards(second, 1);
  check('pack: a .zip that is not a zip fails and offers nothing', card.state === 'failed' && !card.downloadShown &&
    card.console.startsWith('ERROR: unable to open not a pack.zip ('), JSON.stringify(card));
  await second.close();
}

/// Every call on a file must settle, however many files a worker reads: the page's
/// worker converts one chosen file after another, each read as its stream delivers it.
async function checkManyCalls(browser, url) {
  const page = await browser.newPage();
  await page.goto(url);
  const input = await page.evaluateHandle(() => document.body.appendChild(
    Object.assign(document.createElement('input'), { type: 'file' })));
  await input.uploadFile(path.join(work, 'inputs', 'sample.dm3'));
  const calls = 100;
  const settled = await page.evaluate(async (input, calls) => {
    const code = `import { convertAndDescribe } from '${location.origin}/tarnic/index.js';
      onmessage = async ({ data: file }) => {
        for (let call = 0; call < ${calls}; call++) {
          const late = new Promise((resolve) => setTimeout(resolve, 10000, 'late'));
          if (await Promise.race([convertAndDescribe(file), late]) === 'late') return postMessage(call);
        }
        postMessage(${calls});
      };`;
    const worker = new Worker(URL.createObjectURL(new Blob([code], { type: 'text/javascript' })), { type: 'module' });
    const reply = new Promise((resolve) => {
      worker.onmessage = ({ data }) => resolve(data);
      worker.onerror = (event) => resolve(event.message);
    });
    worker.postMessage(input.files[0]);
    return reply;
  }, input, calls);
  check(`a worker converts one file ${calls} times, every call settling`, settled === calls, `call ${settled} never settled`);
  await page.close();
}

/// A module that will not load must fail each demo visibly, not leave it waiting.
async function checkBrokenModule(browser) {
  const brokenSite = path.join(work, 'broken site');
  fs.cpSync(site, brokenSite, { recursive: true });
  fs.writeFileSync(path.join(brokenSite, 'tarnic/tarnic.wasm'), 'not a module');
  const server = await serve(brokenSite);
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  const input = await page.$('#demo-files');
  await input.uploadFile(path.join(work, 'inputs', 'sample.dm3'));
  const [card] = await waitForCards(page, 1);
  check('broken module: the demo fails with an error and offers nothing', card.state === 'failed' && !card.downloadShown &&
    card.console.startsWith('Converting...\nERROR: ') && card.console.endsWith('ERROR: unable to write sample.dm3.dm_48\n'),
    JSON.stringify(card));
  await page.close();
  server.close();
}

fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(path.join(work, 'inputs'), { recursive: true });
execFileSync(path.join(nativeBuild, 'tools/tarnic_make_sample'),
  ['--records', BIG_DEMO_RECORDS, '11', path.join(work, 'inputs', CASES[0].name)]);
CASES[0].demo = fs.readFileSync(path.join(work, 'inputs', CASES[0].name));
for (const demoCase of CASES.slice(1)) fs.writeFileSync(path.join(work, 'inputs', demoCase.name), demoCase.demo);
runNative(path.join(work, 'native'));

const server = await serve(site);
const url = `http://127.0.0.1:${server.address().port}/`;
const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: [...CHROMIUM_ARGS, `--user-data-dir=${path.join(work, 'profile')}`],
});
try {
  const downloads = path.join(work, 'downloads');
  fs.mkdirSync(downloads, { recursive: true });
  const cdp = await browser.target().createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: downloads, eventsEnabled: true });
  await checkConversions(browser, cdp, downloads, url);
  await checkFolders(browser, cdp, downloads, url);
  await checkPack(browser, cdp, downloads, url);
  await checkManyCalls(browser, url);
  await checkBrokenModule(browser);
} finally {
  await browser.close();
  server.close();
}
const failed = results.filter((ok) => !ok).length;
console.log(`${results.length - failed} passed, ${failed} failed`);
process.exitCode = failed === 0 ? 0 : 1;
