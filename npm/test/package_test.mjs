// Checks the installed package in Node against the native program: a conversion's
// bytes and messages, and verify and info objects against --verify --json and
// --info --json, on the sample, its conversion and the sample cut short.
//   node package_test.mjs <native program> <sample.dm3> <work folder>
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { convert, convertAndDescribe, info, verify } from 'tarnic';

const [program, samplePath, work] = process.argv.slice(2).map((arg) => path.resolve(arg));
const results = [];
async function check(name, test) {
  try {
    await test();
    results.push(true);
    console.log(`PASS ${name}`);
  } catch (error) {
    results.push(false);
    console.log(`FAIL ${name}: ${error.message}`);
  }
}

function native(...args) {
  return execFileSync(program, args, { cwd: work }).toString('utf8');
}

fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(work, { recursive: true });
const sample = fs.readFileSync(samplePath);
fs.writeFileSync(path.join(work, 'sample.dm3'), sample);
const printed = native('sample.dm3');
const converted = await convert(sample);

await check('convert: the bytes and messages of the native program', () => {
  assert.equal(converted.outcome, 'converted');
  assert.ok(Buffer.from(converted.demo).equals(fs.readFileSync(path.join(work, 'sample.dm3.dm_48'))),
    'the converted bytes differ');
  assert.ok(printed.endsWith(`Converting...\n${converted.console}\nsample.dm3.dm_48 created successfully!\n`),
    JSON.stringify(converted.console));
});

const cut = sample.subarray(0, sample.length >> 1);
fs.writeFileSync(path.join(work, 'cut.dm3'), cut);
const DEMOS = [
  { name: 'sample.dm3', bytes: sample, protocol: 'old' },
  { name: 'sample.dm3.dm_48', bytes: converted.demo, protocol: 'new' },
  { name: 'cut.dm3', bytes: cut, protocol: 'old' },
];
for (const [call, option] of [[verify, '--verify'], [info, '--info']]) {
  // The program exits with 1 for the cut demo; its JSON is what counts.
  let json;
  try {
    json = native(option, '--json', ...DEMOS.map((demo) => demo.name));
  } catch (error) {
    json = error.stdout.toString('utf8');
  }
  const expected = JSON.parse(json);
  for (const [index, demo] of DEMOS.entries()) {
    await check(`${call.name} ${demo.name}: the object of ${option} --json`, async () => {
      assert.deepEqual(await call(demo.bytes, demo.protocol, demo.name), expected[index]);
      assert.deepEqual(await call(demo.bytes, demo.protocol), { ...expected[index], file: null });
    });
  }
}
// One pass gives what convert and info give apart: on the sample, cut short, and a
// file that is not a demo.
for (const [name, bytes] of [['sample.dm3', sample], ['cut.dm3', cut], ['text.dm3', Buffer.from('Not a demo.\n')]]) {
  await check(`convertAndDescribe ${name}: convert's result with info's object`, async () => {
    const { info: described, ...conversion } = await convertAndDescribe(bytes, name);
    const alone = await convert(bytes);
    assert.deepEqual({ ...conversion, demo: Buffer.from(conversion.demo) }, { ...alone, demo: Buffer.from(alone.demo) });
    assert.deepEqual(described, await info(bytes, 'old', name));
  });
}
// A Blob (a File) goes straight into the module's memory, and its conversion comes back
// as a Blob; a file that changes while it is read is refused.
await check('a Blob: the same results, the conversion as a Blob', async () => {
  const { info: described, ...conversion } = await convertAndDescribe(new Blob([sample]), 'sample.dm3');
  assert.ok(conversion.demo instanceof Blob);
  assert.ok(Buffer.from(await conversion.demo.arrayBuffer()).equals(Buffer.from(converted.demo)));
  assert.equal(conversion.console, converted.console);
  assert.deepEqual(described, await info(sample, 'old', 'sample.dm3'));
  assert.deepEqual(await verify(new Blob([cut]), 'old'), await verify(cut, 'old'));
  class Growing extends Blob {
    stream() { return new Blob([sample, sample]).stream(); }
  }
  await assert.rejects(convert(new Growing([sample])), /changed while it was read/);
  await assert.rejects(convertAndDescribe(new Growing([sample])), /changed while it was read/);
});
// convertAndDescribe converts a Blob as its stream delivers it, taking the conversion
// out in pieces: on a demo of many read pieces and several output pieces (the
// sample's records 300 times over, some 20 MB), the results of its bytes whole.
await check('a large Blob converted as it is read: the results of its bytes whole', async () => {
  const endMarker = sample.subarray(sample.length - 8);
  const large = Buffer.concat([...Array(300).fill(sample.subarray(0, sample.length - 8)), endMarker]);
  const whole = await convertAndDescribe(large, 'large.dm3');
  const streamed = await convertAndDescribe(new Blob([large]), 'large.dm3');
  assert.ok(Buffer.from(await streamed.demo.arrayBuffer()).equals(Buffer.from(whole.demo)), 'the bytes differ');
  assert.deepEqual({ ...streamed, demo: null }, { ...whole, demo: null });
});
// An instance serves the next call once a call is done with it: calls one after
// another, at once, and after a call that failed part-way all give what the first did.
await check('calls in turn, at once and after a failure: the same results', async () => {
  const same = async (conversion) => {
    assert.ok(Buffer.from(conversion.demo).equals(Buffer.from(converted.demo)), 'the converted bytes differ');
    assert.equal(conversion.console, converted.console);
  };
  const cutReport = await verify(cut, 'old');
  for (let turn = 0; turn < 3; turn++) {
    await same(await convert(sample));
    assert.deepEqual(await verify(cut, 'old'), cutReport);
  }
  const [first, second, report] = await Promise.all([convert(sample), convert(new Blob([sample])), verify(cut, 'old')]);
  await same(first);
  assert.ok(Buffer.from(await second.demo.arrayBuffer()).equals(Buffer.from(converted.demo)));
  assert.deepEqual(report, cutReport);
  class Shrinking extends Blob {
    stream() { return new Blob([cut]).stream(); }
  }
  await assert.rejects(convert(new Shrinking([sample])), /changed while it was read/);
  await same(await convert(sample));
});
await check('a protocol other than "old" or "new" is refused', () =>
  assert.rejects(verify(sample, 'dm3'), TypeError));

const failed = results.filter((ok) => !ok).length;
console.log(`${results.length - failed} passed, ${failed} failed`);
process.exitCode = failed === 0 ? 0 : 1;
