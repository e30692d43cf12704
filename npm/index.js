// Tarnic in WebAssembly, for Node and browsers: converts old demos (.dm3) to new
// ones (.dm_48), and verifies and describes demos of either protocol.
//
// The module is compiled once. A call runs in an instance of it that no other call is
// using: the one the last call left, where its memory is small enough to keep, else a
// fresh one. Memory a fresh instance grows costs a page fault wherever first touched,
// about a fifth of a call's time on a demo of a few MiB; a kept instance has it
// already. An instance that trapped (memory exhausted) or failed part-way is never
// kept, so it leaves nothing broken for the next call.

const PROTOCOLS = { old: 0, new: 1 };
const WASI_ERRNO_SPIPE = 70;

/// The compiled module, once asked for; forgotten again if compiling failed.
let compiled = null;

/// The exports of the instance the last call left, while no call is using it.
let spare = null;
/// The most memory an instance may hold and be kept for the next call: one that grew
/// larger for a large demo is let go, its memory with it.
const KEPT_MEMORY_BYTES = 64 * 2 ** 20;

/// The module's bytes at `url`: read from the file system for a file: URL (Node), else fetched.
async function moduleBytes(url) {
  if (url.protocol === 'file:') {
    const { readFile } = await import('node:fs/promises');
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url}: HTTP ${response.status}`);
  return response.arrayBuffer();
}

async function compile(source) {
  if (source instanceof WebAssembly.Module) return source;
  if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) return WebAssembly.compile(source);
  return WebAssembly.compile(await moduleBytes(new URL(source ?? './tarnic.wasm', import.meta.url)));
}

function compiledModule(source) {
  if (source !== undefined || compiled === null) {
    const attempt = compile(source);
    compiled = attempt;
    attempt.catch(() => {
      if (compiled === attempt) compiled = null;
    });
  }
  return compiled;
}

/// Compiles the module now, from `source` when given (a URL, a string taken relative to
/// this file, the module's bytes or a compiled WebAssembly.Module), else from the
/// tarnic.wasm beside this file. Optional: every call loads the module when needed.
export async function load(source) {
  await compiledModule(source);
}

// The C library links these in for its standard streams; the library writes to none
// of them, except the C runtime's own message when it aborts.
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

const isBlob = (demo) => typeof Blob !== 'undefined' && demo instanceof Blob;

/// The demo as bytes, or the Blob (a File) it is given as.
function asBytes(bytes) {
  if (bytes instanceof Uint8Array || isBlob(bytes)) return bytes;
  if (bytes instanceof ArrayBuffer) return new Uint8Array(bytes);
  if (ArrayBuffer.isView(bytes)) return new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  throw new TypeError('tarnic: a demo is given as a Uint8Array, an ArrayBuffer, another view of bytes or a Blob');
}

/// Hands each piece of `blob` to `use(bytes)` as its stream delivers it, the next
/// piece asked for before `use` runs, so that the browser reads it meanwhile; `use`
/// must copy what it keeps.
///
/// The stream's own reader allocates each piece. A reader bringing its own buffers
/// would save a tenth of a second on 128 MiB, but in Chromium a worker's reads of a
/// file that way stop settling after a few dozen files, which left the page waiting
/// forever.
async function forEachPiece(blob, use) {
  const changed = new Error('tarnic: the file changed while it was read');
  const reader = blob.stream().getReader();
  let at = 0;
  let next = reader.read();
  for (let chunk = await next; !chunk.done; chunk = await next) {
    const bytes = chunk.value;
    if (bytes.length > blob.size - at) {
      await reader.cancel();
      throw changed;
    }
    next = reader.read();
    use(bytes, at);
    at += bytes.length;
  }
  if (at !== blob.size) throw changed;
}

/// Reads a Blob into the instance's memory at `start` as its stream delivers it, with
/// no buffer of the whole demo on the way.
function readInto(api, start, blob) {
  // The memory's buffer fetched anew for each piece: it is detached when the memory grows.
  return forEachPiece(blob, (bytes, at) => new Uint8Array(api.memory.buffer, start + at, bytes.length).set(bytes));
}

/// The exports of an instance of the module that no other call is using.
async function freeInstance() {
  if (spare !== null) {
    const api = spare;
    spare = null;
    return api;
  }
  const module = await compiledModule();
  let instance = null;
  instance = await WebAssembly.instantiate(module, wasiImports(() => instance.exports.memory));
  instance.exports._initialize();
  return instance.exports;
}

/// Runs `use(api, input, size)` in an instance of the module that holds a copy of
/// `demo` at `input`: a Blob's bytes go straight into the instance's memory. `use`
/// must copy out all it wants before it returns; the instance may then serve the next
/// call, unless anything failed.
async function withDemo(demo, use) {
  const api = await freeInstance();
  const size = isBlob(demo) ? demo.size : demo.length;
  const input = api.tarnic_alloc(size) >>> 0;
  if (input === 0) throw new Error('tarnic: out of memory');
  if (isBlob(demo)) {
    await readInto(api, input, demo);
  } else {
    new Uint8Array(api.memory.buffer, input, size).set(demo);
  }
  const result = use(api, input, size);
  api.tarnic_free(input);
  keepForNextCall(api);
  return result;
}

/// Keeps an instance whose call ended well for the next call, where its memory is small.
function keepForNextCall(api) {
  if (spare === null && api.memory.buffer.byteLength <= KEPT_MEMORY_BYTES) spare = api;
}

/// A copy of `size` bytes of the instance's memory at `start`, in a buffer of its own.
function copyOut(api, start, size) {
  return new Uint8Array(api.memory.buffer.slice(start >>> 0, (start >>> 0) + (size >>> 0)));
}

/// The same bytes as a Blob, made straight from the instance's memory.
function blobOut(api, start, size) {
  return new Blob([new Uint8Array(api.memory.buffer, start >>> 0, size >>> 0)]);
}

/// The conversion the instance holds, once `tarnic_convert` or `tarnic_convert_examine`
/// made it; its demo a Blob when `asBlob`.
function conversionOf(api, tooLarge, asBlob) {
  return {
    demo: (asBlob ? blobOut : copyOut)(api, api.tarnic_output_data(), api.tarnic_output_size()),
    console: new TextDecoder().decode(copyOut(api, api.tarnic_console_data(), api.tarnic_console_size())),
    outcome: tooLarge ? 'message-too-large' : 'converted',
  };
}

/// The examined demo's object the instance holds, its `file` being `name` or null.
function reportOf(api, name) {
  const report = JSON.parse(new TextDecoder().decode(copyOut(api, api.tarnic_json_data(), api.tarnic_json_size())));
  report.file = name ?? null;
  return report;
}

/// Converts an old demo: the new demo's bytes (a Blob when the old demo is one), the
/// messages the program prints for it and how the conversion ended.
export async function convert(bytes) {
  const demo = asBytes(bytes);
  return withDemo(demo, (api, input, size) => conversionOf(api, api.tarnic_convert(input, size) !== 0, isBlob(demo)));
}

/// Output the module may gather before a streamed conversion takes it out as a Blob:
/// much, since each Blob made costs more than its bytes, yet little beside the memory
/// an instance may keep.
const OUTPUT_PIECE_BYTES = 16 * 2 ** 20;

/// `convertAndDescribe` of a Blob, fed to the module piece by piece as its stream
/// delivers them: each piece converts while the browser reads the next, and the
/// conversion leaves the module's memory in Blobs as it grows, so that neither the
/// demo nor its conversion is ever whole in the module's memory.
async function convertAndDescribeStream(blob, name) {
  const api = await freeInstance();
  const pieces = [];
  const takeOutput = () => {
    const size = api.tarnic_output_size();
    if (size === 0) return;
    pieces.push(blobOut(api, api.tarnic_output_data(), size));
    api.tarnic_output_clear();
  };
  api.tarnic_feed_start();
  await forEachPiece(blob, (bytes) => {
    // The room first: making it may grow the memory, which detaches any buffer of it.
    const room = api.tarnic_feed_room(bytes.length) >>> 0;
    new Uint8Array(api.memory.buffer, room, bytes.length).set(bytes);
    api.tarnic_feed(bytes.length);
    if (api.tarnic_output_size() >= OUTPUT_PIECE_BYTES) takeOutput();
  });
  const tooLarge = api.tarnic_feed_finish(1) !== 0;
  takeOutput();
  const result = {
    demo: new Blob(pieces),
    console: new TextDecoder().decode(copyOut(api, api.tarnic_console_data(), api.tarnic_console_size())),
    outcome: tooLarge ? 'message-too-large' : 'converted',
    info: reportOf(api, name),
  };
  keepForNextCall(api);
  return result;
}

/// Converts an old demo and describes it, in one pass over it: what `convert(bytes)`
/// gives, with `info`, the object `info(bytes, 'old', name)` gives. About the cost of
/// `info` alone, where the two calls cost both. A Blob is converted as it is read.
export async function convertAndDescribe(bytes, name) {
  const demo = asBytes(bytes);
  if (isBlob(demo)) return convertAndDescribeStream(demo, name);
  return withDemo(demo, (api, input, size) => {
    const tooLarge = api.tarnic_convert_examine(input, size, 1) !== 0;
    return { ...conversionOf(api, tooLarge, isBlob(demo)), info: reportOf(api, name) };
  });
}

async function examine(bytes, protocol, name, withFacts) {
  if (!Object.hasOwn(PROTOCOLS, protocol)) throw new TypeError(`tarnic: the protocol is "old" or "new", not ${protocol}`);
  return withDemo(asBytes(bytes), (api, input, size) => {
    api.tarnic_examine(input, size, PROTOCOLS[protocol], withFacts ? 1 : 0);
    return reportOf(api, name);
  });
}

/// Verifies a demo: the object `tarnic --verify --json` gives for it, `file` being `name` or null.
export function verify(bytes, protocol, name) {
  return examine(bytes, protocol, name, false);
}

/// Describes a demo: the object `tarnic --info --json` gives for it, `file` being `name` or null.
export function info(bytes, protocol, name) {
  return examine(bytes, protocol, name, true);
}
