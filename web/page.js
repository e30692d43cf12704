// The converter page: takes the demos dropped or picked, converts them one at a time
// in a worker, and shows for each what the tarnic program prints and offers the file
// it would write.
'use strict';

const OUTPUT_SUFFIX = '.dm_48';

const dropZone = document.getElementById('drop-zone');
const picker = document.getElementById('demo-files');
const results = document.getElementById('results');
const progress = document.getElementById('progress');
const progressBar = document.getElementById('progress-bar');
const progressText = document.getElementById('progress-text');

const queue = [];
let busy = false;
let worker = null;
let nextRequest = 1;
// Counted since the queue last ran empty, for the overall progress bar.
let taken = 0;
let done = 0;

/// A result card for one demo, showing its state, console text and download.
function addCard(name) {
  const item = document.createElement('li');
  item.className = 'result';
  item.innerHTML = '<h2><span class="name"></span><span class="state"></span></h2>' +
    '<progress hidden></progress><pre class="console" hidden></pre><a class="download" hidden></a>';
  item.querySelector('.name').textContent = name;
  results.append(item);
  const card = {
    setState(state, label) {
      item.dataset.state = state;
      item.querySelector('.state').textContent = label;
      item.querySelector('progress').hidden = state !== 'converting';
    },
    finish(state, label, consoleText) {
      card.setState(state, label);
      const pre = item.querySelector('pre');
      pre.textContent = consoleText;
      pre.hidden = false;
    },
    offer(bytes, fileName) {
      const link = item.querySelector('a');
      link.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
      link.download = fileName;
      link.textContent = `Download ${fileName}`;
      link.hidden = false;
    },
  };
  card.setState('waiting', 'waiting');
  return card;
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
    current.postMessage({ id: request, demo }, [demo]);
  });
}

/// Converts one demo and fills its card with what the program would print.
async function convertDemo({ file, card }) {
  const outputName = file.name + OUTPUT_SUFFIX;
  let demo;
  try {
    demo = await file.arrayBuffer();
  } catch {
    card.finish('failed', 'failed', `ERROR: unable to open ${file.name}\n`);
    return;
  }
  const reply = await convertInWorker(demo);
  let text = 'Converting...\n';
  if (reply.error) {
    text += `ERROR: ${reply.error}\nERROR: unable to write ${outputName}\n`;
    card.finish('failed', 'failed', text);
  } else if (reply.tooLarge) {
    text += `${reply.console}ERROR: converted message too large\nERROR: unable to write ${outputName}\n`;
    card.finish('failed', 'failed', text);
  } else {
    text += `${reply.console}\n${outputName} created successfully!\n`;
    card.finish('done', 'converted', text);
    card.offer(reply.output, outputName);
  }
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
    showProgress(job.file.name);
    job.card.setState('converting', 'converting...');
    try {
      await convertDemo(job);
    } catch (error) {
      job.card.finish('failed', 'failed', `ERROR: ${error}\n`);
    }
    done++;
  }
  progress.hidden = true;
  taken = done = 0;
  busy = false;
}

function addFiles(files) {
  for (const file of files) {
    queue.push({ file, card: addCard(file.name) });
    taken++;
  }
  drainQueue();
}

picker.addEventListener('change', () => {
  addFiles(picker.files);
  picker.value = '';
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
  addFiles(event.dataTransfer.files);
});
// A demo dropped beside the zone must not make the browser leave the page to show it.
window.addEventListener('dragover', (event) => event.preventDefault());
window.addEventListener('drop', (event) => event.preventDefault());
