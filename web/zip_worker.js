// Makes the zip of "Download all" off the page's thread: the converted demos go in
// one at a time, deflated, and the zip comes back as a Blob of its pieces, so that
// no single buffer need hold it whole. A module worker, for the import.
import { Zip, ZipDeflate } from './fflate/browser.js';

self.onmessage = async ({ data: { files } }) => {
  try {
    const pieces = [];
    let failure = null;
    const zip = new Zip((error, piece) => {
      if (error) failure ??= error;
      else pieces.push(piece);
    });
    for (const { name, blob } of files) {
      const entry = new ZipDeflate(name, { level: 6 });
      zip.add(entry);
      entry.push(new Uint8Array(await blob.arrayBuffer()), true);
      if (failure) throw failure;
    }
    zip.end();
    if (failure) throw failure;
    self.postMessage({ zip: new Blob(pieces, { type: 'application/zip' }) });
  } catch (error) {
    self.postMessage({ error: String(error) });
  }
};
