// Reads a zip pack off the page's thread, one member at a time: the page first asks
// for the list of members, in stored order, then for each member's bytes as it needs
// them, so that no more than the pack and one member are held here at once. A module
// worker, for the import.
//
// The list comes from the pack's central directory. A member's bytes are inflated
// into room for the size the directory states, never more, and checked against its
// CRC: a member whose stored size or checksum lies, an encrypted member or one of an
// unknown method fails alone, and the others are still read.
import { Inflate } from './fflate/browser.js';

const END_OF_DIRECTORY = 0x06054b50;
const ZIP64_LOCATOR = 0x07064b50;
const ZIP64_END = 0x06064b50;
const DIRECTORY_ENTRY = 0x02014b50;
const LOCAL_HEADER = 0x04034b50;
const ZIP64_EXTRA = 0x0001;
const FLAG_ENCRYPTED = 0x0001;
const FLAG_UTF8 = 0x0800;
const STORED = 0;
const DEFLATED = 8;
const UNIX = 3;
const S_IFMT = 0xf000;
const S_IFLNK = 0xa000;
const S_IFDIR = 0x4000;
// More than any demo the page can convert: a member claiming more is refused, not
// given room it may never fill.
const MOST_BYTES = 1 << 30;
const INFLATE_STEP = 1 << 16;

let pack = null;
let members = [];

class PackError extends Error {}

const CRC_TABLE = (() => {
  const table = new Int32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c;
  }
  return table;
})();

function crc32(bytes) {
  let crc = -1;
  for (let i = 0; i < bytes.length; i++) crc = CRC_TABLE[(crc ^ bytes[i]) & 0xff] ^ (crc >>> 8);
  return (crc ^ -1) >>> 0;
}

/// The members of the zip in `bytes`, as its central directory lists them.
function directoryOf(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const u16 = (at) => view.getUint16(at, true);
  const u32 = (at) => view.getUint32(at, true);
  const u64 = (at) => u32(at) + u32(at + 4) * 2 ** 32;
  const inside = (at, length) => at >= 0 && at + length <= bytes.length;
  let end = bytes.length - 22;
  // The end record sits in the last 64 KiB and 22 bytes, after the pack's comment.
  while (end >= 0 && u32(end) !== END_OF_DIRECTORY) {
    if (bytes.length - end > 65557) end = -1;
    else end--;
  }
  if (end < 0) throw new PackError('not a zip pack (no central directory)');
  let count = u16(end + 10);
  let at = u32(end + 16);
  if (inside(end - 20, 20) && u32(end - 20) === ZIP64_LOCATOR) {
    const zip64End = u64(end - 12);
    if (!inside(zip64End, 56) || u32(zip64End) !== ZIP64_END) throw new PackError('damaged pack');
    count = u64(zip64End + 32);
    at = u64(zip64End + 48);
  }
  const list = [];
  for (let i = 0; i < count; i++) {
    if (!inside(at, 46) || u32(at) !== DIRECTORY_ENTRY) throw new PackError('damaged pack (central directory)');
    const flags = u16(at + 8);
    const nameLength = u16(at + 28);
    const extraLength = u16(at + 30);
    const commentLength = u16(at + 32);
    if (!inside(at + 46, nameLength + extraLength + commentLength)) throw new PackError('damaged pack');
    const rawName = bytes.subarray(at + 46, at + 46 + nameLength);
    // Without the UTF-8 flag a name is in the old DOS code page; its ASCII reads the same.
    const name = new TextDecoder(flags & FLAG_UTF8 ? 'utf-8' : 'latin1').decode(rawName);
    let compressedSize = u32(at + 20);
    let size = u32(at + 24);
    let offset = u32(at + 42);
    // Sizes and offsets too large for 32 bits are in the zip64 extra field, in this order.
    for (let extra = at + 46 + nameLength; extra + 4 <= at + 46 + nameLength + extraLength;) {
      const id = u16(extra);
      const length = u16(extra + 2);
      if (id === ZIP64_EXTRA) {
        let field = extra + 4;
        if (size === 0xffffffff) size = u64(field), field += 8;
        if (compressedSize === 0xffffffff) compressedSize = u64(field), field += 8;
        if (offset === 0xffffffff) offset = u64(field);
      }
      extra += 4 + length;
    }
    const system = u16(at + 4) >> 8;
    const mode = system === UNIX ? u32(at + 38) >>> 16 : 0;
    list.push({
      name,
      method: u16(at + 10),
      encrypted: (flags & FLAG_ENCRYPTED) !== 0,
      crc: u32(at + 16),
      compressedSize,
      size,
      offset,
      link: (mode & S_IFMT) === S_IFLNK,
      folder: (mode & S_IFMT) === S_IFDIR || name.endsWith('/'),
    });
    at += 46 + nameLength + extraLength + commentLength;
  }
  return list;
}

/// The bytes of one member, or a PackError saying why it cannot be read.
function bytesOf(member) {
  if (member.encrypted) throw new PackError('encrypted');
  if (member.method !== STORED && member.method !== DEFLATED) throw new PackError(`compression method ${member.method} unknown`);
  if (member.size > MOST_BYTES) throw new PackError(`claims ${member.size} bytes, more than the page converts`);
  const view = new DataView(pack.buffer, pack.byteOffset, pack.byteLength);
  const header = member.offset;
  if (header + 30 > pack.length || view.getUint32(header, true) !== LOCAL_HEADER) throw new PackError('damaged pack (member header)');
  const start = header + 30 + view.getUint16(header + 26, true) + view.getUint16(header + 28, true);
  if (start + member.compressedSize > pack.length) throw new PackError('cut short');
  const stored = pack.subarray(start, start + member.compressedSize);
  let bytes;
  if (member.method === STORED) {
    if (member.compressedSize !== member.size) throw new PackError('its stored size lies');
    bytes = stored.slice();
  } else {
    bytes = new Uint8Array(member.size);
    let filled = 0;
    let ended = false;
    const inflater = new Inflate((chunk, final) => {
      if (filled + chunk.length > bytes.length) throw new PackError('holds more than its stored size');
      bytes.set(chunk, filled);
      filled += chunk.length;
      ended ||= final;
    });
    try {
      for (let at = 0; at < stored.length; at += INFLATE_STEP) {
        inflater.push(stored.subarray(at, at + INFLATE_STEP), at + INFLATE_STEP >= stored.length);
      }
      if (stored.length === 0) inflater.push(stored, true);
    } catch (error) {
      throw error instanceof PackError ? error : new PackError(`damaged: ${error.message}`);
    }
    if (!ended || filled !== bytes.length) throw new PackError('holds less than its stored size');
  }
  if (crc32(bytes) !== member.crc) throw new PackError('its checksum differs');
  return bytes;
}

self.onmessage = async ({ data }) => {
  try {
    if (data.open) {
      pack = new Uint8Array(await data.open.arrayBuffer());
      members = directoryOf(pack);
      self.postMessage({ members: members.map(({ name, size, encrypted, link, folder }) =>
        ({ name, size, encrypted, link, folder })) });
    } else {
      const bytes = bytesOf(members[data.member]);
      self.postMessage({ bytes: bytes.buffer }, [bytes.buffer]);
    }
  } catch (error) {
    self.postMessage({ error: error instanceof PackError ? error.message : String(error) });
  }
};
