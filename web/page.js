// The converter page: takes the demos dropped or picked, files or every .dm3 in the
// folders and zip packs given, converts them one at a time in a worker, and shows for
// each what the tarnic program prints, the verdict `tarnic --verify` gives it, and the
// file the program would write; a pack is offered again converted, as one zip, and
// "Download all" zips every file written.
'use strict';

const OUTPUT_SUFFIX = '.dm_48';
// The files taken from a folder, in any letter case.
const DEMO_NAME = /\.dm3$/i;
const ZIP_NAME = 'converted demos.zip';
// A file picked or dropped under this name is a pack: its .dm3 members are converted.
const PACK_NAME = /\.zip$/i;
// The converted pack is named after the original, so that the two sort side by side.
const CONVERTED_PACK_SUFFIX = '.dm_48.zip';
// Members that are packs themselves: reported, never opened.
const INNER_PACK_NAME = /\.(zip|tar|tgz|tbz2?|txz|tzst|tar\.(gz|bz2|xz|zst)|7z|rar)$/i;
// Problems of an old demo that are damage to the file: an operation cut by the end of
// its message, and records cut, missing or misframed, or bytes after the end marker.
// The other problems are content the conversion keeps as it is, and prints about.
const DAMAGE = new Set(['field-past-end', 'string-past-end', 'record-cut-short', 'missing-end-marker',
  'bad-record-length', 'data-after-end']);
const OPERATION_NAMES = ['bad', 'nop', 'game state', 'configstring', 'baseline', 'server command', 'download',
  'snapshot'];

const dropZone = document.getElementById('drop-zone');
const picker = document.getElementById('demo-files');
const folderPicker = document.getElementById('demo-folder');
const notice = document.getElementById('notice');
const results = document.getElementById('results');
const progress = document.getElementById('progress');
const progressBar = document.getElementById('progress-bar');
const progressText = document.getElementById('progress-text');
const actions = document.getElementById('actions');
const downloadAllButton = document.getElementById('download-all');
const zipStatus = document.getElementById('zip-status');

const queue = [];
let busy = false;
let worker = null;
let nextRequest = 1;
// Counted since the queue last ran empty, for the overall progress bar.
let taken = 0;
let done = 0;
// Every demo converted so far, by the name it takes in the zip of "Download all".
const convertedFiles = new Map();

/// A result card for one demo: its state, the verdict and diagnostics, the console
/// text and the download.
function addCard(name) {
  const item = document.createElement('li');
  item.className = 'result';
  item.innerHTML = '<h2><span class="name"></span><span class="state"></span></h2><progress hidden></progress>' +
    '<p class="verdict" hidden>Verdict: <code></code></p><p class="note" hidden></p>' +
    '<div class="diagnostics" hidden>Diagnostics in conversion:<ul></ul></div>' +
    '<details hidden><summary>Messages</summary><pre class="console"></pre></details><a class="download" hidden></a>';
  item.querySelector('.name').textContent = name;
  results.append(item);
  const show = (selector, text) => {
    const element = item.querySelector(selector);
    (element.querySelector('code') ?? element).textContent = text;
    element.hidden = false;
  };
  const card = {
    label: () => item.querySelector('.state').textContent,
    setState(state, label) {
      item.dataset.state = state;
      item.querySelector('.state').textContent = label;
      item.querySelector('progress').hidden = state !== 'converting';
    },
    finish(state, label, consoleText) {
      card.setState(state, label);
      const details = item.querySelector('details');
      details.querySelector('pre').textContent = consoleText;
      // A pack's card lists only the members it reports, when there are any.
      details.open = state === 'failed' || state === 'pack';
      details.hidden = consoleText === '';
    },
    judged(verdict, note) {
      show('.verdict', verdictLine(verdict));
      if (note) show('.note', note);
      const list = item.querySelector('.diagnostics ul');
      for (const { kind, count } of verdict.diagnostics) {
        const entry = document.createElement('li');
        entry.textContent = `${count} \u00d7 ${kind}`;
        list.append(entry);
      }
      list.parentElement.hidden = verdict.diagnostics.length === 0;
    },
    /// The share of a pack's members done, on the card's own bar.
    advance(value, max) {
      const bar = item.querySelector('progress');
      bar.max = max;
      bar.value = value;
    },
    note(text) {
      show('.note', text);
    },
    offer(blob, fileName) {
      const link = item.querySelector('a');
      link.href = URL.createObjectURL(blob);
      link.download = fileName;
      link.textContent = `Download ${fileName}`;
      link.hidden = false;
    },
  };
  card.setState('waiting', 'waiting');
  return card;
}

function plural(count, noun) {
  return `${count} ${noun}${count === 1 ? '' : 's'}`;
}

function diagnosticCount(verdict) {
  return verdict.diagnostics.reduce((sum, { count }) => sum + count, 0);
}

/// The verdict as `tarnic --verify` words it, less the file name.
function verdictLine({ wellFormed, records, problem, diagnostics }) {
  if (wellFormed) {
    const count = diagnosticCount({ diagnostics });
    return `ok, ${plural(records, 'record')}${count > 0 ? `, ${plural(count, 'diagnostic')} in conversion` : ''}`;
  }
  let text = `record ${problem.record}`;
  if (problem.sequence !== null) text += ` (sequence ${problem.sequence})`;
  if (problem.operation !== null) {
    text += `, operation ${problem.operation} (code ${problem.code}, ${OPERATION_NAMES[problem.code] ?? 'unknown'})` +
      ` at bit ${problem.bit}`;
  }
  return `${text}: ${problem.text}`;
}

/// The outcome of a conversion, from the old demo's verdict: [state, label]. A file of
/// which the verifier read no record whole is not a demo; a damaged one has a problem
/// of a kind in DAMAGE; anything else with diagnostics, or with a problem, which comes
/// with a diagnostic, converted with diagnostics.
function outcomeOf(verdict) {
  if (!verdict.wellFormed && verdict.records === 0) return ['not-a-demo', 'not a demo'];
  if (verdict.problem && DAMAGE.has(verdict.problem.kind)) return ['damaged', 'damaged'];
  const count = diagnosticCount(verdict);
  if (count > 0) return ['diagnostics', `converted with ${plural(count, 'diagnostic')}`];
  if (verdict.problem) return ['diagnostics', 'converted, not well-formed'];
  return ['converted', 'converted'];
}

/// Sends one demo to the worker; a worker that fails is replaced and the failure
/// becomes this demo's reply, so the page never waits on a dead worker.
function convertInWorker(demo) {
  if (!worker) worker = new Worker('convert_worker.js', { type: 'module' });
  const current = worker;
  const request = nextRequest++;
  return new Promise((resolve) => {
    const reply = (data) => {
      current.onmessage = current.onerror = current.onmessageerror = null;
      resolve(data);
    };
    const fail = (message) => {
      current.terminate();
      if (worker === current) worker = null;
      reply({ error: message });
    };
    current.onmessage = ({ data }) => { if (data.id === request) reply(data); };
    current.onerror = (event) => {
      event.preventDefault();
      fail(event.message || 'the converter stopped');
    };
    current.onmessageerror = () => fail('the converter sent an unreadable reply');
    current.postMessage({ id: request, demo }, demo instanceof Blob ? [] : [demo]);
  });
}

/// Converts one demo and fills its card with what the program would print: the
/// converted demo, or null when nothing is written.
async function convertDemo({ name, read, card }) {
  const outputName = name + OUTPUT_SUFFIX;
  let demo;
  try {
    demo = await read();
  } catch (error) {
    // A member of a pack says why it could not be read.
    const reason = error instanceof PackError ? `: ${error.message}` : '';
    card.finish('failed', 'failed', `ERROR: unable to open ${name}${reason}\n`);
    return null;
  }
  const reply = await convertInWorker(demo);
  let text = 'Converting...\n';
  if (reply.unreadable) {
    card.finish('failed', 'failed', `ERROR: unable to open ${name}\n`);
  } else if (reply.error) {
    text += `ERROR: ${reply.error}\nERROR: unable to write ${outputName}\n`;
    card.finish('failed', 'failed', text);
  } else if (reply.tooLarge) {
    text += `${reply.console}ERROR: converted message too large\nERROR: unable to write ${outputName}\n`;
    card.finish('failed', 'failed', text);
  } else {
    const [state, label] = outcomeOf(reply.verdict);
    if (state === 'not-a-demo') {
      card.finish(state, label, text + reply.console);
      card.judged(reply.verdict, 'No record of it could be read whole: it is not a demo, and nothing is written.');
      return null;
    }
    card.finish(state, label, `${text}${reply.console}\n${outputName} created successfully!\n`);
    card.judged(reply.verdict, state === 'damaged' ? 'Damaged: converted as far as it could be read.' : '');
    const blob = new Blob([reply.output], { type: 'application/octet-stream' });
    card.offer(blob, outputName);
    return blob;
  }
  return null;
}

/// `path` with " (n)" before its extension: "a/b (2).dm3".
function numbered(path, n) {
  const dot = path.lastIndexOf('.');
  const at = dot > path.lastIndexOf('/') ? dot : path.length;
  return `${path.slice(0, at)} (${n})${path.slice(at)}`;
}

/// Keeps a converted demo for the zip, under its input's path and the output suffix;
/// a path met again (the same file taken twice) is numbered, so none is lost.
function keep(inputPath, blob) {
  let name = inputPath + OUTPUT_SUFFIX;
  for (let n = 2; convertedFiles.has(name); n++) name = numbered(inputPath, n) + OUTPUT_SUFFIX;
  convertedFiles.set(name, blob);
  if (!downloadAllButton.disabled) labelDownloadAll();
  actions.hidden = false;
}

function labelDownloadAll() {
  downloadAllButton.textContent = `Download all ${plural(convertedFiles.size, 'converted file')} as one zip`;
}

/// Zips the files in a worker of its own, ended once it replies.
function zipInWorker(files) {
  return new Promise((resolve) => {
    const zipper = new Worker('zip_worker.js', { type: 'module' });
    const reply = (data) => {
      zipper.terminate();
      resolve(data);
    };
    zipper.onmessage = ({ data }) => reply(data);
    zipper.onerror = (event) => {
      event.preventDefault();
      reply({ error: event.message || 'the zip could not be made' });
    };
    zipper.postMessage({ files });
  });
}

/// Offers `blob` as a download named `name`, as a click on a link would.
function save(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60_000);
}

async function downloadAll() {
  downloadAllButton.disabled = true;
  downloadAllButton.textContent = 'Making the zip...';
  zipStatus.textContent = '';
  try {
    const reply = await zipInWorker([...convertedFiles].map(([name, blob]) => ({ name, blob })));
    if (reply.error) throw new Error(reply.error);
    save(reply.zip, ZIP_NAME);
  } catch (error) {
    zipStatus.textContent = `The zip could not be made: ${error.message}`;
  } finally {
    downloadAllButton.disabled = false;
    labelDownloadAll();
  }
}

/// Why a member of a pack could not be read.
class PackError extends Error {}

/// A worker that reads one pack: `ask` sends it a request and gives its reply; a
/// worker that stops gives an error instead, never a wait without end.
function packReader() {
  const reader = new Worker('pack_worker.js', { type: 'module' });
  let broken = null;
  const ask = (message) => new Promise((resolve) => {
    if (broken) {
      resolve({ error: broken });
      return;
    }
    reader.onmessage = ({ data }) => resolve(data);
    reader.onerror = (event) => {
      event.preventDefault();
      broken = event.message || 'the pack reader stopped';
      resolve({ error: broken });
    };
    reader.postMessage(message);
  });
  return { ask, close: () => reader.terminate() };
}

/// Why a member of a pack is neither converted nor copied, or why it is copied
/// without being opened; null for a member taken as it is.
function memberTrouble(member) {
  const parts = member.name.split('/');
  if (member.name.includes('\\') || member.name.startsWith('/') || /^[A-Za-z]:/.test(member.name) ||
      parts.includes('..')) {
    return { leftOut: true, text: 'unsafe name, left out' };
  }
  if (member.link) return { leftOut: true, text: 'a link, left out' };
  if (member.encrypted && DEMO_NAME.test(member.name)) return null;
  if (member.encrypted) return { leftOut: true, text: 'encrypted, left out' };
  if (!member.folder && INNER_PACK_NAME.test(member.name)) {
    return { leftOut: false, text: 'a pack inside the pack, not opened; copied as it is' };
  }
  return null;
}

/// Converts every .dm3 member of a zip pack, each on a card of its own, and offers the
/// pack again with each demo converted in its place, every other member copied as it
/// is, and members that failed or are not demos left out.
async function convertPack({ path, read, card }) {
  const reader = packReader();
  try {
    let listing;
    try {
      listing = await reader.ask({ open: new Blob([await read()]) });
    } catch (error) {
      listing = { error: String(error.message ?? error) };
    }
    if (listing.error) {
      card.finish('failed', 'failed', `ERROR: unable to open ${path} (${listing.error})\n`);
      return;
    }
    // What the pack's card reports, by member: [member's place, line].
    const reports = [];
    const report = (index, text) => reports.push([index, `${path}:${listing.members[index].name}: ${text}`]);
    const demos = [];
    const entries = listing.members.map((member, index) => {
      const trouble = memberTrouble(member);
      if (trouble) report(index, trouble.text);
      if (trouble?.leftOut) return null;
      const entry = { member, index, bytes: null };
      if (!member.folder && DEMO_NAME.test(member.name)) {
        entry.demo = { name: member.name, path: `${path}/${member.name}`,
          card: addCard(`${path}:${member.name}`), read: () => memberBytes(reader, index) };
        demos.push(entry);
      }
      return entry;
    }).filter(Boolean);
    taken += demos.length;
    for (const [count, entry] of demos.entries()) {
      card.advance(count, demos.length);
      card.setState('converting', `converting ${count + 1} of ${demos.length}`);
      showProgress(`${path}:${entry.member.name}`);
      entry.demo.card.setState('converting', 'converting...');
      try {
        entry.bytes = await convertDemo(entry.demo);
      } catch (error) {
        entry.demo.card.finish('failed', 'failed', `ERROR: ${error}\n`);
      }
      if (entry.bytes) keep(entry.demo.path, entry.bytes);
      else report(entry.index, `${entry.demo.card.label()}, left out`);
      done++;
    }
    const converted = demos.filter((entry) => entry.bytes).length;
    if (demos.length === 0) {
      card.finish('failed', 'no .dm3 demo inside', '');
      return;
    }
    card.setState('converting', 'making the converted pack...');
    // Each demo under the name the single-file form gives its output, the other members
    // as they are; the original demos stay in the original pack only.
    const files = [];
    for (const entry of entries) {
      if (entry.demo) {
        if (entry.bytes) files.push({ name: entry.demo.name + OUTPUT_SUFFIX, blob: entry.bytes });
        continue;
      }
      let blob = new Blob([]);
      if (!entry.member.folder) {
        try {
          blob = new Blob([await memberBytes(reader, entry.index)]);
        } catch (error) {
          report(entry.index, `${error.message}, left out`);
          continue;
        }
      }
      files.push({ name: entry.member.name, blob });
    }
    const lines = reports.sort(([a], [b]) => a - b).map(([, line]) => line);
    const zipped = await zipInWorker(files);
    const copied = files.length - converted;
    const summary = `${plural(converted, 'demo')} converted, ${plural(copied, 'other member')} copied as ` +
      `${copied === 1 ? 'it is' : 'they are'}, ${lines.length} reported.`;
    if (zipped.error) {
      card.finish('failed', 'failed', [...lines, `ERROR: unable to write the converted pack: ${zipped.error}`].join('\n'));
      return;
    }
    card.finish('pack', 'pack converted', lines.join('\n') + (lines.length ? '\n' : ''));
    card.note(summary);
    card.offer(zipped.zip, path.replace(PACK_NAME, '') + CONVERTED_PACK_SUFFIX);
  } finally {
    reader.close();
  }
}

/// The bytes of member `index` of the pack `reader` holds, or a PackError.
async function memberBytes(reader, index) {
  const reply = await reader.ask({ member: index });
  if (reply.error) throw new PackError(reply.error);
  return reply.bytes;
}

function showProgress(name) {
  progress.hidden = false;
  progressBar.max = taken;
  progressBar.value = done;
  progressText.textContent = `Converting ${done + 1} of ${taken}: ${name}`;
}

async function drainQueue() {
  if (busy) return;
  busy = true;
  while (queue.length > 0) {
    const job = queue.shift();
    if (job.pack) {
      job.card.setState('converting', 'reading...');
      try {
        await convertPack(job);
      } catch (error) {
        job.card.finish('failed', 'failed', `ERROR: ${error}\n`);
      }
      continue;
    }
    showProgress(job.path);
    job.card.setState('converting', 'converting...');
    try {
      const blob = await convertDemo(job);
      if (blob) keep(job.path, blob);
    } catch (error) {
      job.card.finish('failed', 'failed', `ERROR: ${error}\n`);
    }
    done++;
  }
  progress.hidden = true;
  taken = done = 0;
  busy = false;
}

/// A demo to convert: its name, its path from the folder given (its name in the zip
/// of "Download all" and on its card), and how to read it. A file named as a zip is a
/// pack of demos.
function job(name, path, read) {
  return { name, path, read, pack: PACK_NAME.test(name) };
}

// A file goes to its worker as it is, a handle: the converter reads it piece by piece,
// converting each as the next is read, with no copy of the whole file on the way.
const fileJob = (file, path = file.name) => job(file.name, path, async () => file);
/// A file-system API call that takes a success and an error callback, as a promise.
const promised = (call) => new Promise((resolve, reject) => call(resolve, reject));
const entryJob = (entry, path) =>
  job(entry.name, path, () => promised((ok, fail) => entry.file(ok, fail)));
const byPath = (a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0);

function addJobs(jobs) {
  for (const demo of jobs) {
    queue.push({ ...demo, card: addCard(demo.path) });
    // A pack counts its demos once it has been read.
    if (!demo.pack) taken++;
  }
  drainQueue();
}

function tell(text) {
  notice.textContent = text;
  notice.hidden = !text;
}

/// The jobs of every .dm3 file under a folder entry (dropped), at any depth, in path order.
async function demosUnder(folder) {
  const found = [];
  const walk = async (directory) => {
    const reader = directory.createReader();
    // Entries come a batch at a time; an empty batch ends them.
    for (let batch; (batch = await promised((ok, fail) => reader.readEntries(ok, fail))).length > 0;) {
      for (const entry of batch) {
        if (entry.isDirectory) {
          await walk(entry);
        } else if (entry.isFile && DEMO_NAME.test(entry.name)) {
          found.push(entryJob(entry, entry.fullPath.replace(/^\//, '')));
        }
      }
    }
  };
  await walk(folder);
  return found.sort(byPath);
}

/// Takes what was dropped, in its order: a file as it is, whatever its name, and a
/// folder for the .dm3 files in it. A folder that cannot be read says so.
async function addDropped(entries) {
  const jobs = [];
  const unread = [];
  for (const entry of entries) {
    if (entry.isFile) {
      jobs.push(entryJob(entry, entry.name));
      continue;
    }
    try {
      const demos = await demosUnder(entry);
      if (demos.length === 0) unread.push(`No .dm3 demo in the folder ${entry.name}.`);
      jobs.push(...demos);
    } catch (error) {
      unread.push(`The folder ${entry.name} could not be read: ${error.message ?? error}.`);
    }
  }
  tell(unread.join(' '));
  addJobs(jobs);
}

downloadAllButton.addEventListener('click', downloadAll);
picker.addEventListener('change', () => {
  tell('');
  addJobs([...picker.files].map((file) => fileJob(file)));
  picker.value = '';
});
folderPicker.addEventListener('change', () => {
  const jobs = [...folderPicker.files].filter((file) => DEMO_NAME.test(file.name))
    .map((file) => fileJob(file, file.webkitRelativePath || file.name)).sort(byPath);
  tell(jobs.length === 0 ? 'No .dm3 demo in the folder chosen.' : '');
  addJobs(jobs);
  folderPicker.value = '';
});
for (const type of ['dragenter', 'dragover']) {
  dropZone.addEventListener(type, (event) => {
    event.preventDefault();
    dropZone.classList.add('dragging');
  });
}
dropZone.addEventListener('dragleave', () => dropZone.classList.remove('dragging'));
dropZone.addEventListener('drop', (event) => {
  event.preventDefault();
  dropZone.classList.remove('dragging');
  // Entries must be taken while the event lasts; a browser that gives none gets the files.
  const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry?.() ?? null);
  if (entries.length > 0 && !entries.includes(null)) {
    addDropped(entries);
  } else {
    tell('');
    addJobs([...event.dataTransfer.files].map((file) => fileJob(file)));
  }
});
// A demo dropped beside the zone must not make the browser leave the page to show it.
window.addEventListener('dragover', (event) => event.preventDefault());
window.addEventListener('drop', (event) => event.preventDefault());
