// Converts demos off the page's thread through the npm package's entry, which runs
// each call in a fresh instance of the WebAssembly module: its memory is released
// with it, and a demo that makes the module trap (memory exhausted) leaves nothing
// broken for the next one. A module worker, for the import.
//
// Each demo is converted and described as `tarnic --info` would describe it, in one
// pass: its verdict and its conversion's diagnostics are what the page judges the
// outcome by.
import { convertAndDescribe } from './tarnic/index.js';

self.onmessage = async ({ data: { id, demo } }) => {
  try {
    const bytes = new Uint8Array(demo);
    const result = await convertAndDescribe(bytes);
    if (result.outcome === 'message-too-large') {
      self.postMessage({ id, console: result.console, tooLarge: true });
      return;
    }
    const { wellFormed, records, problem, diagnostics } = result.info;
    const output = result.demo.buffer;
    self.postMessage({ id, console: result.console, output, verdict: { wellFormed, records, problem, diagnostics } },
      [output]);
  } catch (error) {
    self.postMessage({ id, error: String(error) });
  }
};
