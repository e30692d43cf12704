// Types of the tarnic package. Every call is asynchronous: the WebAssembly module is
// compiled on first use, and each call runs in a fresh instance of it.

/** A demo's bytes, or a Blob (a File) holding them, which is read straight into the module's memory
 * (by `convertAndDescribe` a piece at a time, each converted as it arrives). */
export type DemoBytes = Uint8Array | ArrayBuffer | ArrayBufferView | Blob;

/** The old protocol (`.dm3`) or the new one (`.dm_48`). */
export type Protocol = 'old' | 'new';

/**
 * Compiles the module now, from `source` when given: a URL, a string taken relative to
 * this package's entry, the module's bytes or a compiled module. By default the
 * `tarnic.wasm` beside the entry, read from the file system in Node and fetched in
 * browsers. Optional: every call loads the module when needed.
 */
export function load(source?: URL | string | ArrayBuffer | ArrayBufferView | WebAssembly.Module): Promise<void>;

export interface Conversion<Demo extends Uint8Array | Blob = Uint8Array> {
  /**
   * The new demo's bytes, as a Blob when the old demo was given as one. After
   * `message-too-large`, the records before that message only; the program writes no
   * file then.
   */
  demo: Demo;
  /**
   * The messages `tarnic FILE` prints between `Converting...` and its last line, each
   * ending in a line break; bytes of the demo that are not UTF-8 show as U+FFFD.
   */
  console: string;
  /** `message-too-large`: a converted message outgrew what a record can frame. */
  outcome: 'converted' | 'message-too-large';
}

/** Converts an old demo (`.dm3`) to the new protocol. */
export function convert(bytes: Blob): Promise<Conversion<Blob>>;
export function convert(bytes: DemoBytes): Promise<Conversion>;

/** A conversion and the description of the old demo it came from. */
export interface ConversionAndDescription<Demo extends Uint8Array | Blob = Uint8Array> extends Conversion<Demo> {
  /** What `info(bytes, 'old', name)` gives for the same bytes. */
  info: Description;
}

/**
 * Converts an old demo and describes it in one pass over it: what `convert` and
 * `info(bytes, 'old', name)` give, at about the cost of `info` alone.
 */
export function convertAndDescribe(bytes: Blob, name?: string): Promise<ConversionAndDescription<Blob>>;
export function convertAndDescribe(bytes: DemoBytes, name?: string): Promise<ConversionAndDescription>;

export type ProblemKind =
  | 'illegal-operation'
  | 'unknown-operation'
  | 'unknown-entry'
  | 'field-past-end'
  | 'string-past-end'
  | 'string-too-long'
  | 'bits-left-over'
  | 'record-cut-short'
  | 'missing-end-marker'
  | 'bad-record-length'
  | 'data-after-end'
  | 'message-too-large'
  | 'read-failed';

/** The first problem found in a demo. Records and operations count from 0. */
export interface Problem {
  kind: ProblemKind;
  text: string;
  record: number;
  /** Null where no sequence number was read. */
  sequence: number | null;
  /** These three are null outside a payload. */
  operation: number | null;
  code: number | null;
  /** The offset inside the record's payload where the faulty element begins. */
  bit: number | null;
}

/**
 * What `tarnic --verify --json` gives for one file. From this package `protocol` is
 * the one given, `error` is null and `records` a number: the bytes are always read whole.
 */
export interface Verification {
  /** The name passed to `verify` or `info`, else null. */
  file: string | null;
  protocol: Protocol | null;
  error: string | null;
  wellFormed: boolean;
  records: number | null;
  problem: Problem | null;
}

export interface Range {
  lowest: number;
  highest: number;
}

/** Operations counted by kind; codes 8 to 255 together as `unknown`. */
export interface Operations {
  bad: number;
  nop: number;
  gameState: number;
  configString: number;
  baseline: number;
  serverCommand: number;
  download: number;
  snapshot: number;
  unknown: number;
}

/** One configuration string of the first game state that is an info string. */
export interface InfoTable {
  index: number;
  values: Record<string, string>;
}

/** What `tarnic --info --json` gives for one file. */
export interface Description extends Verification {
  size: number;
  sequences: Range | null;
  operations: Operations;
  snapshotRecords: number;
  messageHeads: Range | null;
  mostEntities: number;
  infoStrings: InfoTable[];
  players: InfoTable[];
  /** The diagnostics an old demo's conversion would print, by kind; empty for a new demo. */
  diagnostics: { kind: string; count: number }[];
}

/** Verifies a demo of `protocol`; `name` becomes the result's `file`. */
export function verify(bytes: DemoBytes, protocol: Protocol, name?: string): Promise<Verification>;

/** Verifies and describes a demo of `protocol`; `name` becomes the result's `file`. */
export function info(bytes: DemoBytes, protocol: Protocol, name?: string): Promise<Description>;
