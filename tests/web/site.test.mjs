// Pages of public sites in Debian's chromium (headless) against the real
// vtinkhost under vtinkpad: the browser's local-network permission, the
// service's site policy with its tray question, and the policy files that
// vtinkhost-allow-site writes, each as the demo page and the kit report it.
//
// The pages are served on 127.0.0.1 under names of their own
// (--host-resolver-rules) and count as public for the browser
// (--ip-address-space-overrides), which then applies its Local Network
// Access rules to their WebSockets to 127.0.0.1.
//
// Run through run-in-scratch-etc.sh: in this process's mount namespace
// /etc/chromium and /etc/xdg are scratch folders, so the policy files
// written here never reach the real /etc.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';

import {
  BIN_DIR, SOURCE_DIR, WEB_DIR, freePort, missingTools, recordsOf, sample, startStack, stopAll, waitFor,
} from './harness.mjs';

const CHROMIUM = '/usr/bin/chromium';
const TOOL = path.join(BIN_DIR, 'vtinkhost-allow-site');
const SCRATCH = process.env.VT_SCRATCH_ROOT;
const kitDir = path.join(SOURCE_DIR, 'web/tests');
const missing = missingTools();
if (!existsSync(CHROMIUM)) missing.push(CHROMIUM);
if (!existsSync(TOOL)) missing.push(TOOL);
if (spawnSync('sh', ['-c', 'command -v xdotool']).status !== 0) missing.push('xdotool');
if (!existsSync(path.join(kitDir, 'node_modules/playwright-core/package.json'))) {
  missing.push('playwright-core (npm ci --prefix web/tests)');
}
if (!SCRATCH) missing.push('the scratch /etc of run-in-scratch-etc.sh');
if (missing.length) {
  console.log(`skipped: missing ${missing.join(', ')}`);
  process.exit(77);
}
const { chromium } = createRequire(path.join(kitDir, 'package.json'))('playwright-core');

const T = { timeout: 20000 };
const artifacts = process.env.VT_ARTIFACT_DIR || path.join(SOURCE_DIR, 'build/artifacts');
let site; // demo/, the kit and a page with an iframe
let server; // serves them, to any site name
let sitePort;
let stack; // vtinkhost asking about sites not yet allowed (the default policy)
let browser;
const profiles = [];

const url = (name, port) => `http://${name}.example:${port}`;

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };

// The site's files on 127.0.0.1, whatever name the page was asked for by.
function serve(dir) {
  const srv = http.createServer((req, res) => {
    const rel = decodeURIComponent(new URL(req.url, 'http://x').pathname).replace(/\/$/, '/index.html');
    const file = path.join(dir, path.normalize(rel));
    if (!file.startsWith(dir) || !existsSync(file)) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
    res.end(readFileSync(file));
  });
  return new Promise((resolve) => { srv.listen(0, '127.0.0.1', () => resolve(srv)); });
}

// Chromium with every *.example page on 127.0.0.1:port counting as a public site.
async function launch(port) {
  const profile = mkdtempSync(path.join(tmpdir(), 'vtweb-chromium-'));
  profiles.push(profile);
  const sites = ['shop', 'kit', 'frame', 'blocked', 'denied', 'policy'].map((n) => url(n, port));
  return chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--host-resolver-rules=MAP *.example 127.0.0.1',
      `--ip-address-space-overrides=127.0.0.1:${port}=public`,
      // plain http stands in for the sites' https
      `--unsafely-treat-insecure-origin-as-secure=${sites.join(',')}`],
    viewport: { width: 1200, height: 1500 },
  });
}

function demoUrl(origin, wsUrl) {
  return `${origin}/demo/?ws=${encodeURIComponent(wsUrl)}`;
}

async function openDemo(context, origin, wsUrl) {
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.errors = errors;
  await page.goto(demoUrl(origin, wsUrl));
  return page;
}

// What the demo tells its user: the error code shown and its advice.
async function problem(page, code, ms = 20000) {
  try {
    await page.getByTestId('connection-code').filter({ hasText: new RegExp(`^${code}$`) }).waitFor({ timeout: ms });
  } catch (e) {
    const shown = await page.getByTestId('connection-code').textContent();
    const log = await page.getByTestId('log').textContent();
    throw new Error(`the demo shows ${JSON.stringify(shown)}, not ${code} within ${ms} ms; its log: ${log}`);
  }
  await page.getByTestId('connection-help').waitFor({ state: 'visible', timeout: ms });
  mkdirSync(artifacts, { recursive: true });
  await page.getByTestId('connection-help').screenshot({ path: path.join(artifacts, `site-${code}.png`) });
  return { advice: await page.getByTestId('connection-advice').textContent(), permission: await page.getByTestId('permission').textContent() };
}

// The kit's own view from inside the page: a fresh client's connect() and diagnose().
function kitView(page, wsUrl, timeout = 4000) {
  return page.evaluate(async ([ws, ms]) => {
    const kit = await import('/vtinkhost.js');
    const h = new kit.VtInkHost(ws, { timeout: ms });
    const t0 = performance.now();
    let code = null;
    try {
      await h.connect();
    } catch (e) {
      code = e.cause && e.cause.code ? `${e.code}/${e.cause.code}` : e.code;
    }
    const connectMs = Math.round(performance.now() - t0);
    const d = await h.diagnose({ timeout: ms });
    h.close();
    return { code, ms: connectMs, diagnosis: d, advice: kit.ADVICE };
  }, [wsUrl, timeout]);
}

async function signInDemo(page, s) {
  await page.getByTestId('connection').filter({ hasText: /^connected$/ }).waitFor(T);
  await page.getByTestId('open').click();
  await page.getByTestId('status').filter({ hasText: 'Q210 open' }).waitFor(T);
  const drawn = await s.pad('/replay', { name: 'anna-berg', speed: 0 });
  assert.equal(drawn.records, recordsOf(sample('anna-berg')));
  await s.pad('/confirm', {});
  await page.getByTestId('point-count').filter({ hasText: String(drawn.records) }).waitFor(T);
  await page.getByTestId('close').click();
  await page.getByTestId('status').filter({ hasText: 'Not open.' }).waitFor(T);
}

// The tray's question about origin, from the program's test trace: {allow, block} as [x, y].
async function trayQuestion(s, origin) {
  const rx = new RegExp(`vt-test: site question: ${origin.replace(/[.*+?^${}()|[\]\\/]/g, '\\$&')} \\| (.*) \\| .+@(\\d+),(\\d+) \\| .+@(\\d+),(\\d+)`);
  const m = await waitFor(`the tray's question about ${origin}`, () => rx.exec(s.output()), 30000);
  return { text: m[1], allow: [m[2], m[3]], block: [m[4], m[5]] };
}

async function click(s, [x, y], answered) {
  await waitFor('the click on the tray question', () => {
    if (answered.test(s.output())) return true;
    spawnSync('xdotool', ['mousemove', x, y, 'click', '1'], { env: { ...process.env, DISPLAY: s.display.name } });
    return false;
  }, 30000, 500);
}

before(async () => {
  site = mkdtempSync(path.join(tmpdir(), 'vtweb-site-'));
  symlinkSync(path.join(WEB_DIR, 'demo'), path.join(site, 'demo'));
  symlinkSync(path.join(WEB_DIR, 'vtinkhost.js'), path.join(site, 'vtinkhost.js'));
  server = await serve(site);
  sitePort = server.address().port;
  const wsPort = await freePort();
  writeFileSync(path.join(site, 'blank.html'), '<!doctype html><title>blank</title>\n');
  writeFileSync(path.join(site, 'framed.html'), '<!doctype html><title>framed</title>'
    + `<iframe allow="loopback-network" width="1100" height="1300" src="${demoUrl(url('frame', sitePort), `ws://127.0.0.1:${wsPort}`)}"></iframe>\n`);
  stack = await startStack({
    wsPort,
    access: { AllowedOrigins: `${url('shop', sitePort)}, ${url('frame', sitePort)}` },
    env: { VTINKHOST_TEST_REPORT: '1' },
  });
  browser = await launch(sitePort);
});

after(async () => {
  await browser?.close();
  await stack?.stop();
  server?.close();
  for (const p of profiles) rmSync(p, { recursive: true, force: true });
  if (site) rmSync(site, { recursive: true, force: true });
  stopAll();
});

test('without the permission: EPERMISSION within 2 s, and the demo says what to do', async () => {
  // Headless chromium answers its own question at the first attempt, with
  // "denied": only a site's first attempt meets "prompt".
  const shop = url('shop', sitePort);
  const page = await openDemo(browser, shop, stack.wsUrl);
  const shown = await problem(page, 'EPERMISSION', 2000);
  assert.match(shown.advice, /browser asks whether this site may reach/);
  // Stopped, not a silent loop: nothing connects again by itself.
  assert.equal(await page.evaluate(() => window.vtdemo.host.lastError.code), 'EPERMISSION');
  assert.equal(await page.evaluate(() => window.vtdemo.host._timer), null);
  assert.deepEqual(page.errors, []);
  await page.close();

  const kitSite = url('kit', sitePort);
  const blank = await browser.newPage();
  await blank.goto(`${kitSite}/blank.html`);
  const kit = await kitView(blank, stack.wsUrl);
  assert.equal(kit.code, 'EPERMISSION');
  assert.ok(kit.ms < 2000, `EPERMISSION after ${kit.ms} ms`);
  console.log(`# EPERMISSION after ${kit.ms} ms`);
  assert.ok(['prompt', 'denied'].includes(kit.diagnosis.permission), `permission ${kit.diagnosis.permission}`);
  assert.deepEqual({ ...kit.diagnosis, permission: null }, {
    origin: kitSite, permission: null, permissionName: 'loopback-network', reachable: false, waiting: false,
    code: 'EPERMISSION', advice: kit.advice.EPERMISSION,
  });
  await blank.close();
});

test('the permission granted: the page signs, in a cross-origin iframe too', async () => {
  const shop = url('shop', sitePort);
  await browser.grantPermissions(['local-network-access'], { origin: shop });
  const page = await openDemo(browser, shop, stack.wsUrl);
  await signInDemo(page, stack);
  assert.match(await page.getByTestId('permission').textContent(), /^allowed \(loopback-network\)$/);
  const kit = await kitView(page, stack.wsUrl);
  assert.equal(kit.code, null);
  assert.equal(kit.diagnosis.reachable, true);
  assert.equal(kit.diagnosis.permission, 'granted');
  assert.deepEqual(page.errors, []);

  // The frame's site has no permission of its own: the top page's is delegated.
  const framed = await browser.newPage();
  await framed.goto(`${shop}/framed.html`);
  const frame = await waitFor('the framed demo', () => framed.frames().find((f) => f.url().includes('frame.example')));
  await frame.getByTestId('connection').filter({ hasText: /^connected$/ }).waitFor(T);
  assert.equal(await frame.evaluate(() => window.vtdemo.host.getSize()), 0);
  await framed.close();
  await page.close();
  assert.ok(!/site question/.test(stack.output()), 'asked about an allowed site');
});

test('the service refuses a site (the tray\'s Block): EORIGIN', async () => {
  const blocked = url('blocked', sitePort);
  await browser.grantPermissions(['local-network-access'], { origin: blocked });
  const page = await openDemo(browser, blocked, stack.wsUrl);
  const q = await trayQuestion(stack, blocked);
  assert.equal(q.text, `${blocked} wants to use your signature pad`);
  // While the user is asked, the page says so.
  const waiting = await problem(page, 'WAITING');
  assert.match(waiting.advice, /asks on this computer whether this site may use the pad/);
  assert.equal(await page.getByTestId('connection').textContent(), 'waiting for approval');
  await click(stack, q.block, new RegExp(`site answer: ${blocked.replace(/\./g, '\\.')} block remembered`));
  const shown = await problem(page, 'EORIGIN');
  assert.match(shown.advice, /service refused this site/);
  const kit = await kitView(page, stack.wsUrl);
  assert.equal(kit.code, 'EORIGIN');
  assert.equal(kit.diagnosis.code, 'EORIGIN');
  assert.equal(kit.diagnosis.permission, 'granted');
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('granted, and nothing listening: ENOTRUNNING, reconnects backing off', async () => {
  const shop = url('shop', sitePort);
  const dead = `ws://127.0.0.1:${await freePort()}`;
  const page = await openDemo(browser, shop, dead);
  const shown = await problem(page, 'ENOTRUNNING', 2000);
  assert.match(shown.advice, /not running on this computer/);
  // The demo logs each attempt; the waits double.
  await page.getByTestId('log').filter({ hasText: 'attempt 3, after 1000 ms: ENOTRUNNING' }).waitFor(T);
  const log = await page.getByTestId('log').textContent();
  assert.match(log, /attempt 1, after 250 ms: ENOTRUNNING/);
  assert.match(log, /attempt 2, after 500 ms: ENOTRUNNING/);
  const kit = await kitView(page, dead, 1000);
  assert.equal(kit.code, 'ECONNECT/ENOTRUNNING');
  assert.equal(kit.diagnosis.code, 'ENOTRUNNING');
  assert.equal(kit.diagnosis.reachable, false);
  await page.close();
});

// The Firefox table's cases in Chromium: the program stopped on a site that
// may reach it, then started; and a page that is not https.
test('the program stopped: ENOTRUNNING, then connected by itself within 15 s of its start', async () => {
  const shop = url('shop', sitePort);
  const port = await freePort();
  const page = await openDemo(browser, shop, `ws://127.0.0.1:${port}`);
  const shown = await problem(page, 'ENOTRUNNING', 5000);
  console.log(`# Chromium: program stopped | ENOTRUNNING (permission: ${shown.permission})`);
  const started = Date.now();
  const late = await startStack({ wsPort: port, access: { AllowedOrigins: shop } });
  try {
    await page.getByTestId('connection').filter({ hasText: /^connected$/ }).waitFor({ timeout: Math.max(1000, 15000 - (Date.now() - started)) });
    console.log(`# Chromium: program started | connected ${Date.now() - started} ms after the start`);
  } finally {
    await page.close();
    await late.stop();
  }
});

test('a page that is not https: EINSECURE, and it keeps trying', async () => {
  const plain = `http://plain.example:${sitePort}`;
  const page = await openDemo(browser, plain, stack.wsUrl);
  const shown = await problem(page, 'EINSECURE', 5000);
  assert.match(shown.advice, /https/);
  await page.getByTestId('log').filter({ hasText: /connecting again \(attempt 2/ }).waitFor(T);
  console.log(`# Chromium: http page | EINSECURE (permission: ${shown.permission})`);
  assert.deepEqual(page.errors, []);
  await page.close();
});

// Last on this browser: a denial set through the DevTools protocol also
// took the grants made through Playwright in this profile.
test('the permission denied: EBLOCKED', async () => {
  const denied = url('denied', sitePort);
  const page = await browser.newPage();
  const cdp = await browser.newCDPSession(page);
  await cdp.send('Browser.setPermission', { permission: { name: 'loopback-network' }, setting: 'denied', origin: denied });
  await page.goto(demoUrl(denied, stack.wsUrl));
  const shown = await problem(page, 'EBLOCKED', 2000);
  assert.match(shown.advice, /does not let this site reach/);
  assert.match(shown.permission, /^blocked \(loopback-network\)$/);
  const kit = await kitView(page, stack.wsUrl);
  assert.equal(kit.code, 'EBLOCKED');
  assert.equal(kit.diagnosis.permission, 'denied');
  await page.close();
});

test('vtinkhost-allow-site: the page signs without a grant and without a question', async () => {
  const origin = url('policy', sitePort);
  const run = spawnSync(TOOL, [origin, '--root', SCRATCH], { encoding: 'utf8' });
  assert.equal(run.status, 0, run.stderr);
  // In this namespace the scratch folders are the system's.
  const policy = JSON.parse(readFileSync('/etc/chromium/policies/managed/vtinkhost.json', 'utf8'));
  assert.deepEqual(policy, { LoopbackNetworkAllowedForUrls: [origin] });
  assert.match(readFileSync('/etc/xdg/vtinkhost/vtinkhost.conf', 'utf8'), new RegExp(`AllowedOrigins=${origin}`));
  const s = await startStack({ env: { VTINKHOST_TEST_REPORT: '1' } });
  const context = await launch(sitePort);
  try {
    const page = await openDemo(context, origin, s.wsUrl);
    await signInDemo(page, s);
    assert.match(await page.getByTestId('permission').textContent(), /^allowed/);
    assert.ok(!/site question/.test(s.output()), 'the service asked about a site the administrator allowed');
    assert.deepEqual(page.errors, []);
  } finally {
    await context.close();
    await s.stop();
    mkdirSync(path.join(SCRATCH, 'etc'), { recursive: true });
    spawnSync(TOOL, [origin, '--remove', '--root', SCRATCH]);
  }
});
