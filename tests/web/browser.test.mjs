// The whole road in a real browser: Debian's chromium (headless) opens the
// demo page from http://localhost, opens a virtual Q210, watches a signature
// drawn through vtinkpad's control interface appear on the live canvas (the
// pen stream), confirms and shows the result; the pad pulled out and plugged
// in again is opened anew.
// The page runs the web kit as npm installs it (packed and installed into a
// scratch project), not the source tree's copy.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';

import { spawnSync } from 'node:child_process';
import { createHash, generateKeyPairSync } from 'node:crypto';

import {
  SOURCE_DIR, WEB_DIR, installPackedKit, missingTools, recordsOf, sample, startStack, stopAll, waitFor,
} from './harness.mjs';

const CHROMIUM = '/usr/bin/chromium';
const kitDir = path.join(SOURCE_DIR, 'web/tests');
const missing = missingTools();
if (!existsSync(CHROMIUM)) missing.push(CHROMIUM);
if (spawnSync('sh', ['-c', 'command -v npm']).status !== 0) missing.push('npm');
if (!existsSync(path.join(kitDir, 'node_modules/playwright-core/package.json'))) {
  missing.push('playwright-core (npm ci --prefix web/tests)');
}
if (!existsSync(path.join(kitDir, 'node_modules/jose/package.json'))) missing.push('jose (npm ci --prefix web/tests)');
if (missing.length) {
  console.log(`skipped: missing ${missing.join(', ')}`);
  process.exit(77);
}
const { chromium } = createRequire(path.join(kitDir, 'package.json'))('playwright-core');

const artifacts = process.env.VT_ARTIFACT_DIR || path.join(SOURCE_DIR, 'build/artifacts');
let stack;
let context;
let profile;
let site; // served by vtinkpad: demo/ and the installed vtinkhost.js
let installedKit;

before(async () => {
  const kit = installPackedKit();
  installedKit = path.join(kit.dir, 'vtinkhost.js');
  site = path.join(kit.app, 'site');
  mkdirSync(site);
  symlinkSync(path.join(WEB_DIR, 'demo'), path.join(site, 'demo'));
  symlinkSync(installedKit, path.join(site, 'vtinkhost.js'));
  stack = await startStack({ serveDir: site });
  profile = mkdtempSync(path.join(tmpdir(), 'vtweb-chromium-'));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 1200, height: 1500 },
    acceptDownloads: true,
  });
});

after(async () => {
  await context?.close();
  await stack?.stop();
  if (profile) rmSync(profile, { recursive: true, force: true });
  stopAll();
});

// Dark pixels of a PNG, counted by the page itself (no image library here).
async function inkPixels(page, png) {
  return page.evaluate(async (b64) => {
    const img = new Image();
    img.src = `data:image/png;base64,${b64}`;
    await img.decode();
    const c = document.createElement('canvas');
    c.width = img.naturalWidth;
    c.height = img.naturalHeight;
    const g = c.getContext('2d');
    g.fillStyle = '#fff';
    g.fillRect(0, 0, c.width, c.height);
    g.drawImage(img, 0, 0);
    const { data } = g.getImageData(0, 0, c.width, c.height);
    let n = 0;
    for (let i = 0; i < data.length; i += 4) {
      if (data[i] + data[i + 1] + data[i + 2] < 3 * 160) n++;
    }
    return n;
  }, png.toString('base64'));
}

// Ink on the live canvas, read by the page: pixel count and bounding box.
async function canvasInk(page) {
  return page.evaluate(() => {
    const c = document.getElementById('preview');
    const { data } = c.getContext('2d').getImageData(0, 0, c.width, c.height);
    let n = 0; let left = c.width; let top = c.height; let right = -1; let bottom = -1;
    for (let i = 3; i < data.length; i += 4) {
      if (data[i] < 128) continue;
      const x = ((i - 3) / 4) % c.width; const y = Math.floor((i - 3) / 4 / c.width);
      n++;
      left = Math.min(left, x); right = Math.max(right, x); top = Math.min(top, y); bottom = Math.max(bottom, y);
    }
    return { n, left, top, right, bottom, width: c.width, height: c.height };
  });
}

test('sign in the demo page with the virtual pad', async () => {
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  const kitLoads = [];
  page.on('response', (r) => { if (new URL(r.url()).pathname === '/vtinkhost.js') kitLoads.push(r); });
  const url = `http://localhost:${stack.controlPort}/demo/?ws=${encodeURIComponent(stack.wsUrl)}`;
  await page.goto(url);
  const T = { timeout: 20000 };

  await page.getByTestId('connection').filter({ hasText: /^connected$/ }).waitFor(T);
  assert.equal(kitLoads.length, 1, 'the page loads the kit once');
  assert.equal(await kitLoads[0].text(), readFileSync(installedKit, 'utf8'), 'the page runs the installed kit');
  await page.getByTestId('virtual-signer').waitFor({ state: 'visible', ...T });
  await page.getByTestId('open').click();
  await page.getByTestId('status').filter({ hasText: 'Q210 open' }).waitFor(T);
  await page.getByTestId('device-info').filter({ hasText: 'Q210' }).waitFor(T);
  assert.equal(await page.getByTestId('preview').isHidden(), true);

  // drawn at the pace of a hand: the preview follows while it is drawn
  const sig = sample('anna-berg');
  const drawing = stack.pad('/replay', { name: 'anna-berg', speed: 1 });
  await page.waitForFunction(() => Number(document.getElementById('preview').dataset.version || 0) >= 1, null, T);
  const first = Number(await page.getByTestId('preview').getAttribute('data-version'));
  await page.waitForFunction((v) => Number(document.getElementById('preview').dataset.version) > v, first, T);
  const drawn = await drawing;
  assert.equal(drawn.records, recordsOf(sig));
  const versions = Number(await page.getByTestId('preview').getAttribute('data-version'));
  assert.ok(versions >= 2, `preview updated ${versions} times while signing`);
  // Before any confirm, the live canvas shows the signature where it was
  // drawn: its points (fractions of the writing area) on the canvas, within
  // the widest stroke's half width.
  await page.waitForFunction((n) => window.vtdemo.ink.pointCount >= n, drawn.records, T);
  const live = await canvasInk(page);
  const xs = sig.strokes.flat().map((p) => p[0] * live.width);
  const ys = sig.strokes.flat().map((p) => p[1] * live.height);
  const box = { left: Math.min(...xs), right: Math.max(...xs), top: Math.min(...ys), bottom: Math.max(...ys) };
  const slack = 8;
  assert.ok(live.n > 500, `the live canvas shows ${live.n} ink pixels`);
  assert.ok(live.left >= box.left - slack && live.right <= box.right + slack
    && live.top >= box.top - slack && live.bottom <= box.bottom + slack,
  `ink ${JSON.stringify(live)} inside the signature's box ${JSON.stringify(box)}`);
  assert.ok(live.right - live.left >= 0.9 * (box.right - box.left) && live.bottom - live.top >= 0.9 * (box.bottom - box.top),
    `ink ${JSON.stringify(live)} spans the signature's box ${JSON.stringify(box)}`);
  assert.equal(await page.getByTestId('result').isHidden(), true, 'not confirmed yet');

  // the confirm touch shows the final image and the points
  await stack.pad('/confirm', {});
  await page.getByTestId('result').waitFor({ state: 'visible', ...T });
  await page.getByTestId('point-count').filter({ hasText: String(drawn.records) }).waitFor(T);
  assert.equal(await page.locator('[data-testid=points] tbody tr').count(), drawn.records);
  await page.waitForFunction(() => document.getElementById('final').naturalWidth > 0, null, T);

  mkdirSync(artifacts, { recursive: true });
  const shot = path.join(artifacts, 'demo.png');
  await page.screenshot({ path: shot, fullPage: true });
  assert.ok(existsSync(shot));
  const finalPixels = await inkPixels(page, await page.getByTestId('final').screenshot());
  assert.ok(finalPixels > 500, `the final signature shows ${finalPixels} ink pixels`);
  const previewPixels = await inkPixels(page, await page.getByTestId('preview').screenshot());
  assert.ok(previewPixels > 500, `the preview shows ${previewPixels} ink pixels`);

  // a download of the ink as SVG, made in the page from the points
  const [download] = await Promise.all([page.waitForEvent('download', T), page.locator('[data-dl=svg]').click()]);
  const svgPath = path.join(artifacts, 'demo-signature.svg');
  await download.saveAs(svgPath);
  assert.equal(download.suggestedFilename(), 'signature.svg');

  // sealed evidence through the kit, opened here with jose
  {
    const jose = await import(createRequire(path.join(kitDir, 'package.json')).resolve('jose'));
    const pair = generateKeyPairSync('ec', { namedCurve: 'P-256' });
    const jwk = { ...pair.publicKey.export({ format: 'jwk' }), alg: 'ECDH-ES+A256KW', kid: 'browser-test' };
    const contract = Buffer.from('%PDF-1.4 the contract the page shows\n');
    await page.getByTestId('evidence').locator('summary').click();
    await page.getByTestId('evidence-key').fill(JSON.stringify(jwk));
    await page.getByTestId('evidence-nonce').fill('browser-nonce-1');
    await page.getByTestId('evidence-doc').setInputFiles({ name: 'contract.pdf', mimeType: 'application/pdf', buffer: contract });
    await page.getByTestId('evidence-seal').click();
    await page.getByTestId('evidence-jwe').waitFor({ state: 'visible', ...T });
    const jwe = await page.getByTestId('evidence-jwe').inputValue();
    assert.match(await page.getByTestId('evidence-size').textContent(), new RegExp(`^${jwe.length} characters$`));
    assert.match(await page.getByTestId('evidence-header').textContent(), /"kid": "browser-test"/);
    const { plaintext } = await jose.compactDecrypt(jwe, pair.privateKey);
    const record = JSON.parse(Buffer.from(plaintext).toString('utf8'));
    assert.equal(record.origin, `http://localhost:${stack.controlPort}`);
    assert.equal(record.doc, createHash('sha256').update(contract).digest('hex'));
    assert.equal(record.nonce, 'browser-nonce-1');
    assert.equal(record.strokes.flat().length, drawn.records);
  }

  // the virtual signer's buttons: cancel clears, a sample signs again
  await page.getByTestId('v-cancel').click();
  await page.getByTestId('result').waitFor({ state: 'hidden', ...T });
  await page.getByTestId('preview').waitFor({ state: 'hidden', ...T });
  await page.getByTestId('status').filter({ hasText: 'Cancelled' }).waitFor(T);
  await page.getByTestId('v-sign-ken-ito').click();
  await page.getByTestId('preview').waitFor({ state: 'visible', timeout: 30000 });
  await page.getByTestId('v-status').filter({ hasText: 'done' }).waitFor({ timeout: 30000 });

  // Pulled out and plugged in again: the page is told and opens the pad anew.
  await page.getByTestId('v-unplug').click();
  await page.getByTestId('status').filter({ hasText: 'unplugged' }).waitFor(T);
  await page.getByTestId('v-plug').click();
  await page.getByTestId('status').filter({ hasText: 'Q210 open again' }).waitFor(T);
  await page.getByTestId('preview').waitFor({ state: 'hidden', ...T });
  await page.getByTestId('v-scribble').click();
  await page.getByTestId('preview').waitFor({ state: 'visible', timeout: 30000 });

  await page.getByTestId('close').click();
  await page.getByTestId('status').filter({ hasText: 'Not open.' }).waitFor(T);
  assert.deepEqual(errors, []);
  writeFileSync(path.join(artifacts, 'demo-url.txt'), `${url}\n`);
});

test('the fingerprint pad: a finger on the reader shows in the page', async () => {
  const fp = await startStack({ models: ['q230f'], serveDir: site });
  const page = await context.newPage();
  try {
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    await page.goto(`http://localhost:${fp.controlPort}/demo/?ws=${encodeURIComponent(fp.wsUrl)}`);
    const T = { timeout: 20000 };
    await page.getByTestId('connection').filter({ hasText: /^connected$/ }).waitFor(T);
    await page.getByTestId('v-finger').waitFor({ state: 'visible', ...T });
    assert.equal(await page.getByTestId('model').inputValue(), 'Q230F', 'the page picks the plugged model');
    await page.getByTestId('open').click();
    await page.getByTestId('status').filter({ hasText: 'Q230F open' }).waitFor(T);
    await page.getByTestId('v-finger').click();
    // the reader's frame may show (empty) before the finger's image replaces it
    const pixels = await waitFor('the finger in the page', async () => {
      const img = page.getByTestId('fingerprint');
      if (await img.isHidden()) return 0;
      const n = await inkPixels(page, await img.screenshot());
      return n > 500 && n;
    }, 20000, 200);
    assert.ok(pixels > 500, `the fingerprint shows ${pixels} dark pixels`);
    await page.getByTestId('close').click();
    await page.getByTestId('status').filter({ hasText: 'Not open.' }).waitFor(T);
    assert.deepEqual(errors, []);
  } finally {
    await page.close();
    await fp.stop();
  }
});
