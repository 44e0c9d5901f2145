// The demo page in Debian's firefox-esr (headless, WebDriver BiDi through
// puppeteer-core) against the real vtinkhost under vtinkpad: from this
// computer, and as a public https site under the browser's Local Network
// Access rules, each case as the page reports it. Prints the table of cases.
//
// The site is served on 127.0.0.1 over https with a certificate made here;
// its name is mapped with network.dns.localDomains and its address counts as
// public through network.lna.address_space.public.override.
//
// Run through run-in-etc-overlay.sh: /etc is an overlay in this process's
// mount namespace, so the policy file written to /etc/firefox/policies/
// never reaches the real /etc.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import https from 'node:https';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';

import { SOURCE_DIR, WEB_DIR, freePort, missingTools, recordsOf, sample, startStack, stopAll } from './harness.mjs';

const FIREFOX = '/usr/bin/firefox-esr';
const POLICY_DIR = '/etc/firefox/policies';
const kitDir = path.join(SOURCE_DIR, 'web/tests');
const missing = missingTools();
if (!existsSync(FIREFOX)) missing.push(FIREFOX);
if (spawnSync('sh', ['-c', 'command -v openssl']).status !== 0) missing.push('openssl');
if (!existsSync(path.join(kitDir, 'node_modules/puppeteer-core/package.json'))) {
  missing.push('puppeteer-core (npm ci --prefix web/tests)');
}
if (!process.env.VT_SCRATCH_ROOT) missing.push('the /etc overlay of run-in-etc-overlay.sh');
if (missing.length) {
  console.log(`skipped: missing ${missing.join(', ')}`);
  process.exit(77);
}
const puppeteer = createRequire(path.join(kitDir, 'package.json'))('puppeteer-core');

const T = 20000;
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
const table = [];
const browsers = [];
let dir;
let secure; // https server of the site
let plain; // http server of the same files
let stack;
let wsPort;

function files(req, res) {
  const rel = decodeURIComponent(new URL(req.url, 'http://x').pathname).replace(/\/$/, '/index.html');
  const file = path.join(WEB_DIR, path.normalize(rel));
  if (!file.startsWith(WEB_DIR) || !existsSync(file)) {
    res.writeHead(404).end();
    return;
  }
  res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
  res.end(readFileSync(file));
}

const listen = (srv) => new Promise((resolve) => { srv.listen(0, '127.0.0.1', () => resolve(srv.address().port)); });
const httpsOrigin = (name) => `https://${name}.example:${secure.address().port}`;
const httpOrigin = (name) => `http://${name}.example:${plain.address().port}`;

// Firefox with every *.example site on 127.0.0.1 counting as public.
async function launch(prefs = {}) {
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: FIREFOX,
    headless: true,
    acceptInsecureCerts: true,
    extraPrefsFirefox: {
      'network.dns.localDomains': ['shop', 'denied', 'granted', 'policy', 'stopped', 'plain'].map((n) => `${n}.example`).join(','),
      'network.lna.address_space.public.override': `127.0.0.1:${secure.address().port},127.0.0.1:${plain.address().port}`,
      ...prefs,
    },
  });
  browsers.push(browser);
  return browser;
}

const LNA_WEBSOCKETS = { 'network.lna.websocket.enabled': true };

async function openDemo(browser, origin) {
  const page = await browser.newPage();
  page.errors = [];
  // Firefox reports each refused WebSocket as an error of the page: that one is expected.
  page.on('pageerror', (e) => { if (!/can.t establish a connection to the server at ws:/.test(e.message)) page.errors.push(e.message); });
  await page.goto(`${origin}/demo/?ws=${encodeURIComponent(`ws://127.0.0.1:${wsPort}`)}`);
  return page;
}

const text = (page, id) => page.$eval(`[data-testid="${id}"]`, (e) => e.textContent);

// The code the demo shows, once it shows `code`.
async function shows(page, code, ms = T) {
  try {
    await page.waitForFunction((c) => document.querySelector('[data-testid="connection-code"]').textContent === c
      && !document.querySelector('[data-testid="connection-help"]').hidden, { timeout: ms }, code);
  } catch {
    throw new Error(`the demo shows ${JSON.stringify(await text(page, 'connection-code'))}, not ${code} within ${ms} ms; `
      + `its log: ${await text(page, 'log')}`);
  }
  return { advice: await text(page, 'connection-advice'), permission: await text(page, 'permission') };
}

async function connected(page, ms = T) {
  await page.waitForFunction(() => document.querySelector('[data-testid="connection"]').textContent === 'connected',
    { timeout: ms });
}

function row(kase, shown) {
  table.push({ case: kase, page: shown });
}

before(async () => {
  dir = mkdtempSync(path.join(tmpdir(), 'vtweb-firefox-'));
  const made = spawnSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2',
    '-keyout', path.join(dir, 'key.pem'), '-out', path.join(dir, 'cert.pem'), '-subj', '/CN=shop.example',
    '-addext', 'subjectAltName=DNS:*.example']);
  assert.equal(made.status, 0, String(made.stderr));
  secure = https.createServer({ key: readFileSync(path.join(dir, 'key.pem')), cert: readFileSync(path.join(dir, 'cert.pem')) }, files);
  plain = http.createServer(files);
  await listen(secure);
  await listen(plain);
  wsPort = await freePort();
  const sites = ['shop', 'denied', 'granted', 'policy', 'stopped'].map(httpsOrigin).concat(httpOrigin('plain'));
  stack = await startStack({ wsPort, access: { AllowedOrigins: sites.join(', ') } });
});

after(async () => {
  for (const b of browsers) await b.close().catch(() => {});
  await stack?.stop();
  secure?.close();
  plain?.close();
  if (dir) rmSync(dir, { recursive: true, force: true });
  rmSync(POLICY_DIR, { recursive: true, force: true });
  stopAll();
  console.log('# Firefox: case | what the page showed');
  for (const r of table) console.log(`# ${r.case} | ${r.page}`);
});

test('the demo from this computer: connect, open, sign, confirm, the final image', async () => {
  const browser = await launch();
  console.log(`# ${await browser.version()}`);
  const page = await openDemo(browser, `http://localhost:${stack.controlPort}`);
  await connected(page);
  await page.click('[data-testid="open"]');
  await page.waitForFunction(() => document.querySelector('[data-testid="status"]').textContent.includes('Q210 open'), { timeout: T });
  const drawn = await stack.pad('/replay', { name: 'ken-ito', speed: 0 });
  assert.equal(drawn.records, recordsOf(sample('ken-ito')));
  await stack.pad('/confirm', {});
  await page.waitForFunction((n) => document.querySelector('[data-testid="point-count"]').textContent === String(n),
    { timeout: T }, drawn.records);
  await page.waitForFunction(() => {
    const img = document.querySelector('[data-testid="final"]');
    return img.complete && img.naturalWidth > 0;
  }, { timeout: T });
  assert.deepEqual(page.errors, []);
  row('demo from localhost', `connected, ${drawn.records} points, final image`);
});

test('a public https site, the browser checking WebSockets: the permission decides', async () => {
  const browser = await launch(LNA_WEBSOCKETS);
  const context = browser.defaultBrowserContext();
  await context.setPermission(httpsOrigin('denied'), { permission: { name: 'loopback-network' }, state: 'denied' });
  await context.setPermission(httpsOrigin('granted'), { permission: { name: 'loopback-network' }, state: 'granted' });

  const asked = await openDemo(browser, httpsOrigin('shop'));
  const a = await shows(asked, 'EPERMISSION');
  assert.match(a.advice, /browser asks whether this site may reach/);
  assert.equal(await asked.evaluate(() => window.vtdemo.host._timer), null, 'stopped while the browser asks');
  row('public https, no grant', `EPERMISSION (permission: ${a.permission})`);

  const denied = await openDemo(browser, httpsOrigin('denied'));
  const d = await shows(denied, 'EBLOCKED');
  row('public https, loopback-network denied', `EBLOCKED (permission: ${d.permission})`);

  const granted = await openDemo(browser, httpsOrigin('granted'));
  await connected(granted);
  row('public https, loopback-network granted', `connected (permission: ${await text(granted, 'permission')})`);
  for (const p of [asked, denied, granted]) assert.deepEqual(p.errors, []);
});

test('the administrator\'s policy file lets one site through, another still waits', async () => {
  mkdirSync(POLICY_DIR, { recursive: true });
  writeFileSync(path.join(POLICY_DIR, 'policies.json'),
    JSON.stringify({ policies: { LocalNetworkAccess: { SkipDomains: ['policy.example'] } } }));
  const browser = await launch(LNA_WEBSOCKETS);
  const page = await openDemo(browser, httpsOrigin('policy'));
  await connected(page);
  const other = await openDemo(browser, httpsOrigin('shop'));
  await shows(other, 'EPERMISSION');
  row(`public https, ${POLICY_DIR}/policies.json SkipDomains`, 'connected (another site: EPERMISSION)');
});

test('default settings, the program stopped: ENOTRUNNING, then connected by itself once it starts', async () => {
  await stack.stop();
  const browser = await launch();
  const page = await openDemo(browser, httpsOrigin('stopped'));
  const s = await shows(page, 'ENOTRUNNING');
  assert.match(s.advice, /not running/);
  assert.equal(await page.evaluate(() => window.vtdemo.host.lastError.code), 'ENOTRUNNING');
  const sites = ['shop', 'denied', 'granted', 'policy', 'stopped'].map(httpsOrigin).concat(httpOrigin('plain'));
  const started = Date.now();
  stack = await startStack({ wsPort, access: { AllowedOrigins: sites.join(', ') } });
  await connected(page, Math.max(1000, 15000 - (Date.now() - started)));
  const ms = Date.now() - started;
  assert.ok(ms <= 15000, `connected ${ms} ms after the start`);
  row('public https, default settings, program stopped', `ENOTRUNNING (permission: ${s.permission}); connected ${ms} ms after the start`);
});

test('an http page where the browser blocks insecure pages: EINSECURE, and it keeps trying', async () => {
  const browser = await launch({ ...LNA_WEBSOCKETS, 'network.lna.block_insecure_contexts': true });
  const page = await openDemo(browser, httpOrigin('plain'));
  const s = await shows(page, 'EINSECURE');
  assert.match(s.advice, /https/);
  await page.waitForFunction(() => /connecting again \(attempt 2/.test(document.querySelector('[data-testid="log"]').textContent),
    { timeout: T });
  row('public http, block_insecure_contexts=true', `EINSECURE (permission: ${s.permission}), reconnecting`);
});
