// Converts demos off the page's thread through the npm package's entry, which runs
// each call in an instance of the WebAssembly module that no other call is using,
// kept for the next while its memory is small: a demo that makes the module trap
// (memory exhausted) leaves nothing broken for the next one. A module worker, for
// the import.
//
// Each demo is converted and described as `tarnic --info` would describe it, in one
// pass: its verdict and its conversion's diagnostics are what the page judges the
// outcome by.
//
// A demo comes as a File, converted piece by piece as its stream delivers it, and its
// conversion goes back as a Blob of pieces taken straight from the module's memory;
// a member of a pack comes as an ArrayBuffer, and its conversion goes back as one,
// moved rather than copied.
import { convertAndDescribe } from './tarnic/index.js';

self.onmessage = async ({ data: { id, demo } }) => {
  let result;
  try {
    result = await convertAndDescribe(demo instanceof Blob ? demo : new Uint8Array(demo));
  } catch (error) {
    // A file that cannot be read is told apart: the page says it could not open it.
    const unreadable = error instanceof DOMException &&
      (error.name === 'NotReadableError' || error.name === 'NotFoundError');
    self.postMessage({ id, error: String(error), unreadable });
    return;
  }
  if (result.outcome === 'message-too-large') {
    self.postMessage({ id, console: result.console, tooLarge: true });
    return;
  }
  const { wellFormed, records, problem, diagnostics } = result.info;
  const output = result.demo instanceof Blob ? result.demo : result.demo.buffer;
  self.postMessage({ id, console: result.console, output, verdict: { wellFormed, records, problem, diagnostics } },
    output instanceof Blob ? [] : [output]);
};
