// Converts demos off the page's thread with the WebAssembly build of the library.
// Each demo gets a fresh instance: its memory is released with it, and a demo that
// makes the module trap (memory exhausted) leaves nothing broken for the next one.
'use strict';

const modulePromise = fetch('tarnic.wasm')
  .then((response) => {
    if (!response.ok) throw new Error(`tarnic.wasm: HTTP ${response.status}`);
    return response.arrayBuffer();
  })
  .then((bytes) => WebAssembly.compile(bytes));

const WASI_ERRNO_SPIPE = 70;

// The C library links these in for its standard streams; the library writes to
// none of them, except the C runtime's own message when it aborts.
function wasiImports(memory) {
  return {
    wasi_snapshot_preview1: {
      fd_write(fd, iovecs, count, writtenOut) {
        const view = new DataView(memory().buffer);
        let text = '';
        let written = 0;
        for (let i = 0; i < count; i++) {
          const pointer = view.getUint32(iovecs + 8 * i, true);
          const length = view.getUint32(iovecs + 8 * i + 4, true);
          text += new TextDecoder().decode(new Uint8Array(memory().buffer, pointer, length));
          written += length;
        }
        console.error(text);
        view.setUint32(writtenOut, written, true);
        return 0;
      },
      fd_close: () => 0,
      fd_seek: () => WASI_ERRNO_SPIPE,
    },
  };
}

async function convert(demo) {
  const module = await modulePromise;
  let instance = null;
  instance = await WebAssembly.instantiate(module, wasiImports(() => instance.exports.memory));
  const api = instance.exports;
  api._initialize();
  const input = api.tarnic_alloc(demo.length);
  if (input === 0) throw new Error('out of memory');
  new Uint8Array(api.memory.buffer, input, demo.length).set(demo);
  const tooLarge = api.tarnic_convert(input, demo.length) !== 0;
  api.tarnic_free(input);
  const consoleText = new TextDecoder().decode(
    new Uint8Array(api.memory.buffer, api.tarnic_console_data(), api.tarnic_console_size()));
  const start = api.tarnic_output_data();
  const output = api.memory.buffer.slice(start, start + api.tarnic_output_size());
  return { console: consoleText, output, tooLarge };
}

self.onmessage = async ({ data: { id, demo } }) => {
  try {
    const result = await convert(new Uint8Array(demo));
    self.postMessage({ id, ...result }, [result.output]);
  } catch (error) {
    self.postMessage({ id, error: String(error) });
  }
};
