// Converts demos off the page's thread through the npm package's entry, which runs
// each demo in a fresh instance of the WebAssembly module: its memory is released
// with it, and a demo that makes the module trap (memory exhausted) leaves nothing
// broken for the next one. A module worker, for the import.
import { convert } from './tarnic/index.js';

self.onmessage = async ({ data: { id, demo } }) => {
  try {
    const result = await convert(new Uint8Array(demo));
    const output = result.demo.buffer;
    self.postMessage({ id, console: result.console, output, tooLarge: result.outcome === 'message-too-large' },
      [output]);
  } catch (error) {
    self.postMessage({ id, error: String(error) });
  }
};
