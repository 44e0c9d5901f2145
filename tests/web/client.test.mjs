// The web client library against the real vtinkhost, SDK and driver, with a
// Q210 emulated by vtinkpad.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readFileSync, rmSync } from 'node:fs';
import { deflateSync, inflateSync } from 'node:zlib';

import {
  VtInkHost, IMAGE_TYPE, parseInkData, strokesOf, inkToSvg, imageMimeType,
} from '../../web/vtinkhost.js';
import {
  missingTools, nextEvent, recordsOf, sample, startStack, stopAll, waitFor,
} from './harness.mjs';

const missing = missingTools();
if (missing.length) {
  console.log(`skipped: missing ${missing.join(', ')}`);
  process.exit(77);
}

const PNG_MAGIC = [0x89, 0x50, 0x4e, 0x47];

// Opaque pixels of an 8-bit RGBA PNG (white is made transparent, so these are ink).
function opaquePixels(b64) {
  const png = Buffer.from(b64, 'base64');
  const width = png.readUInt32BE(16);
  const height = png.readUInt32BE(20);
  assert.equal(png[24], 8, 'bit depth');
  assert.equal(png[25], 6, 'colour type RGBA');
  const idat = [];
  for (let off = 8; off + 8 <= png.length;) {
    const len = png.readUInt32BE(off);
    if (png.toString('latin1', off + 4, off + 8) === 'IDAT') idat.push(png.subarray(off + 8, off + 8 + len));
    off += 12 + len;
  }
  const raw = inflateSync(Buffer.concat(idat));
  const stride = width * 4;
  let prev = Buffer.alloc(stride);
  let count = 0;
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const line = Buffer.from(raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1)));
    for (let i = 0; i < stride; i++) {
      const a = i >= 4 ? line[i - 4] : 0;
      const b = prev[i];
      const c = i >= 4 ? prev[i - 4] : 0;
      const pa = Math.abs(b - c); const pb = Math.abs(a - c); const pc = Math.abs(a + b - 2 * c);
      const pred = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : (pb <= pc ? b : c)][filter];
      line[i] = (line[i] + pred) & 0xff;
    }
    for (let i = 3; i < stride; i += 4) if (line[i] > 0) count++;
    prev = line;
  }
  return count;
}

// A 104 x 144 grey PNG with a black disc, written without an image library.
function fingerPng() {
  const w = 104; const h = 144;
  const raw = Buffer.alloc((w + 1) * h);
  for (let y = 0; y < h; y++) {
    for (let x = 0; x < w; x++) {
      raw[y * (w + 1) + 1 + x] = Math.hypot(x - w / 2, y - h / 2) < 48 ? 0 : 255;
    }
  }
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc = (buf) => {
    let c = 0xffffffff;
    for (const b of buf) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
  };
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    const out = Buffer.alloc(12 + data.length);
    out.writeUInt32BE(data.length, 0);
    body.copy(out, 4);
    out.writeUInt32BE(crc(body), 8 + data.length);
    return out;
  };
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(w, 0);
  ihdr.writeUInt32BE(h, 4);
  ihdr[8] = 8; // bit depth; colour type 0: grey
  return Buffer.concat([Buffer.from(PNG_MAGIC.concat([0x0d, 0x0a, 0x1a, 0x0a])), chunk('IHDR', ihdr),
    chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

let stack;
let host;
const SIG = sample('anna-berg');

async function signSample(h = host) {
  await h.clear();
  const r = await stack.pad('/replay', { name: 'anna-berg', speed: 0 });
  assert.equal(r.records, recordsOf(SIG));
  await waitFor('every ink point', async () => (await h.getSize()) === r.records);
  return r;
}

before(async () => {
  stack = await startStack();
  host = new VtInkHost(stack.wsUrl, { timeout: 5000, reconnectDelay: 100 });
  await host.connect(20000);
  assert.equal(await host.initialDevice('Q210', 600, 300), true);
});

after(async () => {
  host?.close();
  await stack?.stop();
  stopAll();
});

describe('requests and replies', () => {
  test('several requests in flight are each answered with their own reply', async () => {
    const { records } = await signSample();
    const padId = await host.padID();
    const calls = [
      host.getSize(), host.padID(), host.getPointer(), host.getDeviceInfo(2), host.versionID(),
      host.getDeviceInfo(6), host.encode(IMAGE_TYPE.PNG), host.getSize(), host.getDecodeFilePath(),
      host.getDeviceInfo(4), host.setPenWidth(4), host.getDeviceInfo(1),
    ];
    assert.ok(host.pendingCount >= 10, `expected the requests in flight, ${host.pendingCount} pending`);
    const [size, pid, points, xr, version, model, png, size2, , levels, setter, connected] = await Promise.all(calls);
    assert.equal(size, records);
    assert.equal(size2, records);
    assert.equal(pid, padId);
    assert.equal(points.length, records);
    assert.deepEqual(xr, { min: 0, max: 2360 });
    assert.match(version, /^VTQ210/);
    assert.equal(model, 'Q210');
    assert.equal(imageMimeType(png), 'image/png');
    assert.ok([1024, 2048].includes(levels), `pressure levels ${levels}`);
    assert.equal(setter, true);
    assert.equal(connected, true);
    assert.equal(host.pendingCount, 0);
  });

  test('a refused "InitialDevice" fails after the timeout with a clear error', async () => {
    const t0 = Date.now();
    await assert.rejects(host.initialDevice('Q210', 600, 300, { timeout: 800 }), (e) => {
      assert.equal(e.code, 'ETIMEDOUT');
      assert.equal(e.func, 'InitialDevice');
      assert.match(e.message, /no reply within 800 ms/);
      assert.match(e.message, /while a device is open/);
      return true;
    });
    assert.ok(Date.now() - t0 >= 790);
    assert.equal(host.pendingCount, 0);
  });

  test('an unknown function fails after the timeout naming it', async () => {
    await assert.rejects(host.request('clear', {}, { timeout: 500 }), (e) => {
      assert.equal(e.code, 'ETIMEDOUT');
      assert.match(e.message, /"clear" is not a function the service knows/);
      return true;
    });
  });

  test('a refused request fails as soon as a later one is answered', async () => {
    const refused = host.initialDevice('Q210', 600, 300, { timeout: 60000 });
    const size = host.getSize();
    const t0 = Date.now();
    await assert.rejects(refused, (e) => e.code === 'EREFUSED' && /while a device is open/.test(e.message));
    assert.ok(Date.now() - t0 < 30000);
    assert.equal(typeof await size, 'number');
  });
});

describe('key events', () => {
  test('confirm and cancel touches arrive once each, as events', async () => {
    const seen = [];
    const onKey = (e) => seen.push(e.detail.confirm ? 'confirm' : 'cancel');
    host.addEventListener('key', onKey);
    try {
      const confirmed = nextEvent(host, 'confirm');
      await stack.pad('/confirm', {});
      await confirmed;
      const cancelled = nextEvent(host, 'cancel');
      await stack.pad('/cancel', {});
      await cancelled;
      // a later round trip gives any duplicate time to show up
      await host.getSize();
      await host.getSize();
      assert.deepEqual(seen, ['confirm', 'cancel']);
    } finally {
      host.removeEventListener('key', onKey);
    }
  });
});

describe('payloads', () => {
  test('ink points: numbers, stroke ends and times', async () => {
    const { records, strokes } = await signSample();
    const points = await host.getPointer();
    assert.equal(points.length, records);
    assert.equal(points.filter((p) => p.strokeEnd).length, strokes);
    assert.equal(strokesOf(points).length, strokes);
    assert.ok(points[points.length - 1].strokeEnd);
    for (const p of points) {
      assert.ok(Number.isInteger(p.x) && p.x >= 160 && p.x < 160 + 2360, `x ${p.x}`);
      assert.ok(Number.isInteger(p.y) && p.y >= 220 && p.y < 220 + 1430, `y ${p.y}`);
      assert.ok(p.pressure >= 1 && p.pressure <= 1000, `pressure ${p.pressure}`);
      assert.ok(p.date instanceof Date && Math.abs(p.date - Date.now()) < 120000, `time ${p.time}`);
    }
    // the first point lies where the sample starts (fractions of the writing area)
    const [fx, fy] = SIG.strokes[0][0];
    assert.ok(Math.abs(points[0].x - (160 + fx * 2359)) <= 1);
    assert.ok(Math.abs(points[0].y - (220 + fy * 1429)) <= 1);
    const svg = inkToSvg(points);
    assert.equal((svg.match(/<polyline /g) || []).length, strokes);
  });

  test('image events: a PNG once per change, then null', async () => {
    await signSample();
    const ev = await host.getInks();
    assert.ok(ev, 'an image after signing');
    assert.equal(ev.eventType, 0);
    assert.equal(ev.kind, 'signature');
    assert.equal(ev.length, ev.image.length);
    assert.deepEqual([...Buffer.from(ev.image, 'base64').subarray(0, 4)], PNG_MAGIC);
    assert.ok(ev.dataUrl.startsWith('data:image/png;base64,iVBOR'));
    assert.ok(opaquePixels(ev.image) > 1000, 'the image shows the signature');
    assert.equal(await host.getInks(), null);
    await stack.pad('/stroke', { points: [[0.5, 0.5, 0.5], [0.6, 0.55, 0.5]] });
    await waitFor('the new stroke', async () => (await host.getInks()) !== null);
    assert.equal(await host.getFingerPrintImage(), null, 'a Q210 has no fingerprint image');
  });

  test('Base64 images and ink, and decoding them again', async () => {
    await signSample();
    const points = await host.getPointer();
    assert.equal(imageMimeType(await host.encode(IMAGE_TYPE.BMP)), 'image/bmp');
    assert.equal(imageMimeType(await host.encode(IMAGE_TYPE.JPEG)), 'image/jpeg');
    const png = await host.encode(IMAGE_TYPE.PNG);
    assert.equal(imageMimeType(png), 'image/png');

    const ink = await host.encode(IMAGE_TYPE.INK);
    const records = parseInkData(ink);
    assert.equal(records.length, points.length);
    records.forEach((r, i) => {
      const p = points[i];
      assert.deepEqual([r.x, r.y, r.pressure, r.strokeEnd], [p.x, p.y, p.pressure, p.strokeEnd], `record ${i}`);
    });

    const decoded = await host.decode(IMAGE_TYPE.INK, ink);
    assert.deepEqual(decoded, points.map((p) => ({ x: p.x, y: p.y, strokeEnd: p.strokeEnd })));

    const name = `vtweb-${process.pid}.png`;
    const file = await host.decode(IMAGE_TYPE.PNG, png, name);
    assert.equal(file, `/tmp/${name}`);
    assert.deepEqual([...readFileSync(file).subarray(0, 4)], PNG_MAGIC);
    rmSync(file);
  });

  test('device information, typed', async () => {
    const info = await host.getDeviceInformation();
    assert.equal(info.connected, true);
    assert.deepEqual(info.xRange, { min: 0, max: 2360 });
    assert.deepEqual(info.yRange, { min: 0, max: 1430 });
    assert.ok([1024, 2048].includes(info.pressureLevels));
    assert.equal(info.model, 'Q210');
    assert.ok(info.vendor.length > 0);
    assert.match(info.driverVersion.text, /^\d+\.\d+$/);
    assert.equal(await host.getDeviceInfo(0), null);
  });

  test('saving files: a path on success, the SDK code without ink', async () => {
    await signSample();
    const name = `vtweb-save-${process.pid}.png`;
    const saved = await host.saveDrawingImage(IMAGE_TYPE.PNG, 0, name);
    assert.deepEqual(saved, { ok: true, path: `/tmp/${name}`, code: 0 });
    assert.ok(existsSync(saved.path));
    rmSync(saved.path);
    await host.clear();
    assert.equal(await host.getSize(), 0);
    assert.deepEqual(await host.getPointer(), []);
    assert.equal(await host.encode(IMAGE_TYPE.PNG), '');
    const empty = await host.saveDrawingImage(IMAGE_TYPE.PNG, 0, name);
    assert.deepEqual(empty, { ok: false, path: null, code: -8 });
  });
});

describe('fingerprint pad', () => {
  test('a finger on the Q230F reader comes back as a fingerprint image event', async () => {
    const fp = await startStack({ models: ['q230f'] });
    const h = new VtInkHost(fp.wsUrl, { timeout: 5000 });
    try {
      await h.connect(20000);
      assert.equal(await h.initialDevice('Q230F', 600, 300), true);
      assert.equal(await h.setDisplayedFPImageAt(600, 300, 400, 50, 104, 144), true);
      const before = await h.getFingerPrintImage(); // the empty frame, if any
      // the finger as an image file: a black disc on white
      const res = await fetch(`${fp.padUrl}/pad/finger`, {
        method: 'POST', headers: { 'Content-Type': 'image/png' }, body: fingerPng(),
      });
      assert.equal(res.status, 200, JSON.stringify(await res.clone().json()));
      const ev = await waitFor('the fingerprint image', () => h.getFingerPrintImage(), 20000, 100);
      assert.notEqual(ev.image, before?.image);
      assert.equal(ev.eventType, 3);
      assert.equal(ev.kind, 'fingerprint');
      assert.equal(ev.length, ev.image.length);
      assert.deepEqual([...Buffer.from(ev.image, 'base64').subarray(0, 4)], PNG_MAGIC);
      assert.ok(opaquePixels(ev.image) > 1000, 'the image shows the finger');
      if (before) assert.equal(opaquePixels(before.image), 0, 'the empty frame is blank');
      assert.equal(await h.getFingerPrintImage(), null, 'reported once per change');
      const bad = await fetch(`${fp.padUrl}/pad/finger`, {
        method: 'POST', headers: { 'Content-Type': 'image/png' }, body: 'not an image',
      });
      assert.equal(bad.status, 400);
      assert.equal(await h.unInitialDevice(), true);
    } finally {
      h.close();
      await fp.stop();
    }
  });
});

describe('connection', () => {
  test('reconnects after the service restarts', async () => {
    const closed = nextEvent(host, 'close', 20000);
    const code = await stack.stop();
    assert.equal(code, 0, 'vtinkhost stops cleanly on SIGTERM, and vtinkpad passes its code on');
    await closed;
    await assert.rejects(host.getSize({ timeout: 300 }), (e) => ['ECONNECT', 'ETIMEDOUT'].includes(e.code));
    const reopened = nextEvent(host, 'open', 90000);
    stack = await startStack({ wsPort: stack.wsPort });
    const ev = await reopened;
    assert.equal(ev.detail.reconnect, true);
    assert.equal(await host.getSize(), 0, 'a new service holds no pad');
    assert.equal(await host.initialDevice('Q210', 600, 300), true);
    await signSample();
  });
});
