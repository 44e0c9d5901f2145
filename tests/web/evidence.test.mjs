// "GetEvidence": every sealed record is opened with the npm package jose
// (an implementation of its own) and checked against what the service
// hands out in the clear; tampered records and refused requests.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { createHash, generateKeyPairSync, randomBytes } from 'node:crypto';
import { readFileSync, readdirSync } from 'node:fs';
import { createRequire } from 'node:module';

import { MODELS } from '../../web/vtinkhost.js';
import { SOURCE_DIR, missingTools, recordsOf, sample, startStack, stopAll, waitFor } from './harness.mjs';
import { connectAs } from './wsorigin.mjs';

const missing = missingTools();
let jose;
try {
  const require = createRequire(`${SOURCE_DIR}/web/tests/package.json`);
  jose = await import(require.resolve('jose'));
} catch {
  missing.push('jose (npm ci in web/tests)');
}
if (missing.length) {
  console.log(`skipped: missing ${missing.join(', ')}`);
  process.exit(77);
}

const PAGE = 'http://notary.example';
const OTHER = 'http://other.example';
const SEALED = 'http://sealed.example'; // SealedRawInkOrigins
const SIGNATURE = 'anna-berg';

const sha256Hex = (data) => createHash('sha256').update(data).digest('hex');
const b64url = (b) => Buffer.from(b).toString('base64url');

function publicJwk(key, extra) {
  return { ...key.publicKey.export({ format: 'jwk' }), ...extra };
}

const KEYS = [
  { name: 'RSA-3072', alg: 'RSA-OAEP-256', pair: () => generateKeyPairSync('rsa', { modulusLength: 3072 }) },
  { name: 'RSA-2048 without kid', alg: 'RSA-OAEP-256', pair: () => generateKeyPairSync('rsa', { modulusLength: 2048 }), noKid: true },
  { name: 'P-256', alg: 'ECDH-ES+A256KW', pair: () => generateKeyPairSync('ec', { namedCurve: 'P-256' }) },
  { name: 'P-384', alg: 'ECDH-ES+A256KW', pair: () => generateKeyPairSync('ec', { namedCurve: 'P-384' }) },
];

describe('signature evidence', () => {
  let stack;
  let page;
  let native;
  let pointer;
  let png;
  let ids;
  const doc = sha256Hex('the contract, page 1 of 1');

  before(async () => {
    stack = await startStack({ access: { AllowedOrigins: `${PAGE}, ${OTHER}, ${SEALED}`, SealedRawInkOrigins: SEALED } });
    page = await connectAs(stack.wsUrl, PAGE);
    native = await connectAs(stack.wsUrl, '');
    assert.equal(await page.request('InitialDevice', { id: MODELS.Q210, width: 600, height: 300 }), '1');
    const r = await stack.pad('/replay', { name: SIGNATURE, speed: 0 });
    assert.equal(r.records, recordsOf(sample(SIGNATURE)));
    await waitFor('the ink stored', async () => Number(await page.request('GetSize')) === r.records);
    pointer = JSON.parse(await page.request('GetPointer'));
    png = Buffer.from(await page.request('Encode', { type: 3 }), 'base64');
    assert.ok(png.length > 0);
    ids = { padId: await page.request('PadID'), penId: await page.request('PenID'), firmware: await page.request('VersionID') };
    assert.ok(ids.padId.length > 0 && ids.firmware.length > 0);
  });

  after(async () => {
    page?.close();
    native?.close();
    await stack?.stop();
  });

  async function sealed(client, origin, k) {
    const pair = k.pair();
    const jwk = publicJwk(pair, { alg: k.alg, use: 'enc', ...(k.noKid ? {} : { kid: `integrator-${k.name}` }) });
    const nonce = `n-${randomBytes(12).toString('hex')}`;
    const jwe = await client.request('GetEvidence', { doc, nonce, key: JSON.stringify(jwk) });
    assert.match(jwe, /^[\w-]+\.[\w-]+\.[\w-]+\.[\w-]+\.[\w-]+$/, `${k.name}: ${jwe.slice(0, 40)}`);
    const { plaintext, protectedHeader } = await jose.compactDecrypt(jwe, pair.privateKey);
    return { jwe, pair, nonce, record: JSON.parse(Buffer.from(plaintext).toString('utf8')), header: protectedHeader };
  }

  for (const k of KEYS) {
    test(`${k.name}: the record opens with jose and holds what the service hands out`, async () => {
      const { record, header, nonce } = await sealed(page, PAGE, k);
      assert.equal(header.alg, k.alg);
      assert.equal(header.enc, 'A256GCM');
      assert.equal(header.cty, 'vnd.vtinkhost.evidence.v1+json');
      assert.equal(header.kid, k.noKid ? undefined : `integrator-${k.name}`);
      assert.equal(header.epk !== undefined, k.alg.startsWith('ECDH'));
      assert.equal(record.version, 1);
      assert.equal(record.origin, PAGE);
      assert.equal(record.doc, doc);
      assert.equal(record.nonce, nonce);
      // the points: GetPointer's, stroke by stroke, nothing lost or rounded
      const flat = record.strokes.flatMap((s, si) => s.map((p, i) => ({ p, end: i === s.length - 1 && si >= 0 })));
      assert.equal(flat.length, pointer.length);
      flat.forEach(({ p, end }, i) => {
        const q = pointer[i];
        assert.deepEqual(p.slice(0, 3), [Number(q.x), Number(q.y), Number(q.pressure)], `point ${i}`);
        assert.equal(end, q.bStrokeEnd === '1', `stroke end at ${i}`);
        assert.ok(Number.isInteger(p[3]) && p[3] >= 0, `t of point ${i}: ${p[3]}`);
        if (i) assert.ok(p[3] >= flat[i - 1].p[3], `t runs forward at ${i}`);
      });
      assert.equal(record.strokes.length, sample(SIGNATURE).strokes.length);
      // t counts from the opening: opened + t is the point's time
      const opened = Date.parse(record.opened);
      assert.equal(new Date(opened + flat[0].p[3]).toISOString(), record.firstPoint);
      assert.equal(new Date(opened + flat.at(-1).p[3]).toISOString(), record.lastPoint);
      assert.ok(Date.parse(record.requested) >= Date.parse(record.lastPoint));
      assert.equal(record.imageSha256, sha256Hex(png));
      assert.deepEqual(record.canvas, { width: 600, height: 300 });
      for (const f of ['model', 'vendor', 'padId', 'penId', 'firmware']) assert.equal(typeof record.device[f], 'string', f);
      for (const [f, v] of Object.entries(ids)) assert.equal(record.device[f], v, f); // as the pad answers them now
      assert.ok(record.device.model.length > 0);
      assert.equal(record.device.writingArea.x.length, 2);
      assert.equal(record.device.pressure.length, 2);
      assert.equal(record.versions.program.length > 0, true);
    });
  }

  test('a native client gets a record with an empty origin', async () => {
    const { record } = await sealed(native, '', KEYS[2]);
    assert.equal(record.origin, '');
  });

  test('a sealed origin gets no raw dynamics by any road; another origin does; images and evidence still work', async () => {
    const sealedPage = await connectAs(stack.wsUrl, SEALED);
    const other = await connectAs(stack.wsUrl, OTHER);
    try {
      for (const c of [sealedPage, other]) assert.equal(await c.request('SubscribePenData', { enable: 1 }), '1');
      assert.equal(await page.request('Clear'), '1');
      const r = await stack.pad('/replay', { name: 'anna-berg', speed: 0 });
      const streamed = (c) => c.pushes.filter((m) => m.Func === 'PenData' && m.Result !== 'clear')
        .flatMap((m) => JSON.parse(m.Result));
      await waitFor('both streams complete', () => streamed(sealedPage).length === r.records && streamed(other).length === r.records);
      assert.ok(streamed(sealedPage).every((p) => Object.keys(p).sort().join() === 'bStrokeEnd,cx,cy'));
      assert.deepEqual(streamed(sealedPage).map((p) => [p.cx, p.cy, p.bStrokeEnd]),
        streamed(other).map((p) => [p.cx, p.cy, p.bStrokeEnd]));
      assert.ok(streamed(other).every((p) => 'x' in p && 'pressure' in p && 't' in p));
      assert.equal(await sealedPage.request('GetPointer'), '[]');
      assert.equal(await sealedPage.request('Encode', { type: 6 }), '');
      assert.equal(JSON.parse(await other.request('GetPointer')).length, r.records);
      assert.ok((await other.request('Encode', { type: 6 })).length > 100);
      const png3 = await sealedPage.request('Encode', { type: 3 });
      assert.equal(png3, await other.request('Encode', { type: 3 }));
      assert.ok(png3.length > 100);
      const { record } = await sealed(sealedPage, SEALED, KEYS[2]);
      assert.equal(record.origin, SEALED);
      assert.equal(record.strokes.flat().length, r.records);
    } finally {
      sealedPage.close();
      other.close();
    }
  });

  test('one changed byte in any of the five parts: the record does not open', async () => {
    for (const k of [KEYS[0], KEYS[2]]) {
      const { jwe, pair } = await sealed(page, PAGE, k);
      const parts = jwe.split('.');
      for (let i = 0; i < 5; i++) {
        const bytes = Buffer.from(parts[i], 'base64url');
        bytes[bytes.length >> 1] ^= 0x01;
        const changed = parts.slice();
        changed[i] = b64url(bytes);
        await assert.rejects(jose.compactDecrypt(changed.join('.'), pair.privateKey), `${k.name}: part ${i}`);
      }
    }
  });

  test('ink added after a picture was handed out: the record hashes the new picture', async () => {
    const before = await page.request('Encode', { type: 3 });
    const size = Number(await page.request('GetSize'));
    const r = await stack.pad('/replay', { name: 'ken-ito', speed: 0 });
    await waitFor('the added ink stored', async () => Number(await page.request('GetSize')) === size + r.records);
    const after = await page.request('Encode', { type: 3 });
    assert.notEqual(after, before);
    const { record } = await sealed(page, PAGE, KEYS[2]);
    assert.equal(record.imageSha256, sha256Hex(Buffer.from(after, 'base64')));
    assert.equal(record.strokes.flat().length, size + r.records);
  });

  if (process.env.VT_LIBCRYPTO) {
    test(`the service seals with ${process.env.VT_LIBCRYPTO}`, () => {
      // vtinkhost runs under vtinkpad: the library is mapped in one of its descendants
      const children = (pid) => {
        try {
          return readdirSync(`/proc/${pid}/task`).flatMap((t) => readFileSync(`/proc/${pid}/task/${t}/children`, 'utf8')
            .split(' ').filter(Boolean).map(Number));
        } catch {
          return [];
        }
      };
      const all = [];
      for (let todo = [stack.proc.pid]; todo.length;) {
        const pid = todo.pop();
        all.push(pid);
        todo.push(...children(pid));
      }
      const mapping = all.filter((pid) => {
        try {
          return readFileSync(`/proc/${pid}/maps`, 'utf8').includes(process.env.VT_LIBCRYPTO);
        } catch {
          return false;
        }
      });
      assert.equal(mapping.length, 1, `processes ${all.join(', ')}`);
    });
  }

  test('refusals, each with its code', async () => {
    const rsa = generateKeyPairSync('rsa', { modulusLength: 2048 });
    const ec = generateKeyPairSync('ec', { namedCurve: 'P-256' });
    const rsaJwk = publicJwk(rsa, { alg: 'RSA-OAEP-256' });
    const ecJwk = publicJwk(ec, { alg: 'ECDH-ES+A256KW' });
    const offCurve = { ...ecJwk, y: b64url(Buffer.from(ecJwk.y, 'base64url').map((b, i) => (i === 31 ? b ^ 1 : b))) };
    const ok = { doc, nonce: 'n-1', key: JSON.stringify(ecJwk) };
    const key = (j) => ({ ...ok, key: typeof j === 'string' ? j : JSON.stringify(j) });
    const rows = [
      ['RSA-1024', key(publicJwk(generateKeyPairSync('rsa', { modulusLength: 1024 }), { alg: 'RSA-OAEP-256' })), '-2'],
      ['RSA of 8200 bits', key({ ...rsaJwk, n: b64url(Buffer.concat([Buffer.from([1]), randomBytes(1025)])) }), '-2'],
      ['P-192', key({ kty: 'EC', crv: 'P-192', x: b64url(randomBytes(24)), y: b64url(randomBytes(24)), alg: 'ECDH-ES+A256KW' }), '-2'],
      ['secp256k1', key(publicJwk(generateKeyPairSync('ec', { namedCurve: 'secp256k1' }), { alg: 'ECDH-ES+A256KW' })), '-2'],
      ['a point off the curve', key(offCurve), '-2'],
      ['EC JWK with d', key({ ...ec.privateKey.export({ format: 'jwk' }), alg: 'ECDH-ES+A256KW' }), '-2'],
      ['RSA JWK with d', key({ ...rsa.privateKey.export({ format: 'jwk' }), alg: 'RSA-OAEP-256' }), '-2'],
      ['malformed JSON', key('{"kty":"EC",'), '-2'],
      ['not an object', key('[1,2]'), '-2'],
      ['wrong alg for RSA', key({ ...rsaJwk, alg: 'RSA-OAEP' }), '-2'],
      ['wrong alg for EC', key({ ...ecJwk, alg: 'ECDH-ES' }), '-2'],
      ['no alg', key({ ...ecJwk, alg: undefined }), '-2'],
      ['a signing key', key({ ...ecJwk, use: 'sig' }), '-2'],
      ['a symmetric key', key({ kty: 'oct', k: b64url(randomBytes(32)), alg: 'A256KW' }), '-2'],
      ['hash of 63 hex digits', { ...ok, doc: doc.slice(1) }, '-2'],
      ['hash with a non-hex digit', { ...ok, doc: `g${doc.slice(1)}` }, '-2'],
      ['empty nonce', { ...ok, nonce: '' }, '-2'],
      ['nonce of 129 characters', { ...ok, nonce: 'n'.repeat(129) }, '-2'],
      ['nonce with a control character', { ...ok, nonce: 'a\nb' }, '-2'],
      ['nonce of 128 characters is fine', { ...ok, nonce: '~'.repeat(128) }, 'jwe'],
    ];
    for (const [what, members, want] of rows) {
      const got = await page.request('GetEvidence', members);
      if (want === 'jwe') assert.equal(got.split('.').length, 5, what);
      else assert.equal(got, want, what);
    }
    // no ink, then no pad
    assert.equal(await page.request('Clear'), '1');
    assert.equal(await page.request('GetEvidence', ok), '-8', 'no ink');
    assert.equal(await page.request('UnInitialDevice', { id: MODELS.Q210 }), '1');
    assert.equal(await page.request('GetEvidence', ok), '-1', 'no pad');
  });
});

after(() => stopAll());

describe('RawInk=sealed for every client', () => {
  test('pages and native programs get no raw dynamics; images and evidence still work', async () => {
    const stack = await startStack({ access: { AllowedOrigins: PAGE, RawInk: 'sealed' } });
    const page = await connectAs(stack.wsUrl, PAGE);
    const native = await connectAs(stack.wsUrl, '');
    try {
      assert.equal(await page.request('InitialDevice', { id: MODELS.Q210, width: 600, height: 300 }), '1');
      const r = await stack.pad('/replay', { name: SIGNATURE, speed: 0 });
      await waitFor('the ink stored', async () => Number(await page.request('GetSize')) === r.records);
      for (const c of [page, native]) {
        assert.equal(await c.request('GetPointer'), '[]');
        assert.equal(await c.request('Encode', { type: 6 }), '');
        assert.ok((await c.request('Encode', { type: 3 })).length > 100);
      }
      const pair = generateKeyPairSync('ec', { namedCurve: 'P-384' });
      const key = JSON.stringify({ ...pair.publicKey.export({ format: 'jwk' }), alg: 'ECDH-ES+A256KW' });
      const jwe = await page.request('GetEvidence', { doc: 'A'.repeat(64), nonce: 'n', key });
      const record = JSON.parse(Buffer.from((await jose.compactDecrypt(jwe, pair.privateKey)).plaintext).toString('utf8'));
      assert.equal(record.strokes.flat().length, r.records);
      assert.equal(record.doc, 'A'.repeat(64));
    } finally {
      page.close();
      native.close();
      await stack.stop();
    }
  });
});
