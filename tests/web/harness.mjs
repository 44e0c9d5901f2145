// Starts the real stack for the web tests: an X display with a system tray
// (Xvfb + trayer), and vtinkhost under vtinkpad with emulated pads, on free
// ports. Everything waits for events with deadlines.
import { spawn, spawnSync } from 'node:child_process';
import {
  copyFileSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync,
} from 'node:fs';
import net from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { randomBytes } from 'node:crypto';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const SOURCE_DIR = process.env.VT_SOURCE_DIR || path.resolve(here, '../..');
export const BIN_DIR = process.env.VT_BIN_DIR || path.resolve(SOURCE_DIR, 'build/bin');
export const WEB_DIR = path.join(SOURCE_DIR, 'web');

const cleanups = [];

/** Ends everything the harness started (also run at exit). */
export function stopAll() {
  for (const fn of cleanups.splice(0).reverse()) {
    try { fn(); } catch { /* best effort */ }
  }
  display = null;
}
process.on('exit', stopAll);

/** Polls `probe` until it returns a truthy value; throws after `ms`. */
export async function waitFor(what, probe, ms = 20000, every = 50) {
  const deadline = Date.now() + ms;
  let last;
  for (;;) {
    try {
      const v = await probe();
      if (v) return v;
    } catch (e) {
      last = e;
    }
    if (Date.now() > deadline) throw new Error(`timed out after ${ms} ms waiting for ${what}${last ? ` (${last.message})` : ''}`);
    await new Promise((r) => { setTimeout(r, every); });
  }
}

/** Resolves with the first event `name` of `target` (EventTarget), or rejects after ms. */
export function nextEvent(target, name, ms = 10000) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => {
      target.removeEventListener(name, on);
      reject(new Error(`no "${name}" event within ${ms} ms`));
    }, ms);
    function on(ev) {
      clearTimeout(timer);
      target.removeEventListener(name, on);
      resolve(ev);
    }
    target.addEventListener(name, on);
  });
}

/** Exit code of a child process (128 + signal when killed); rejects after ms (0: never). */
export function exitOf(child, ms = 15000) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve(codeOf(child.exitCode, child.signalCode));
  return new Promise((resolve, reject) => {
    const timer = ms ? setTimeout(() => reject(new Error(`process ${child.pid} still running after ${ms} ms`)), ms) : null;
    child.once('exit', (code, signal) => {
      clearTimeout(timer);
      resolve(codeOf(code, signal));
    });
  });
}

function codeOf(code, signal) {
  if (code !== null) return code;
  const n = { SIGHUP: 1, SIGINT: 2, SIGKILL: 9, SIGTERM: 15 }[signal] || 0;
  return 128 + n;
}

export function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.once('error', reject);
    srv.listen(0, '127.0.0.1', () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

function canConnect(port) {
  return new Promise((resolve) => {
    const s = net.connect(port, '127.0.0.1');
    s.once('connect', () => { s.destroy(); resolve(true); });
    s.once('error', () => resolve(false));
  });
}

/** What the suite cannot run without; empty when everything is there. */
export function missingTools() {
  const missing = [];
  for (const tool of ['Xvfb', 'trayer']) {
    if (spawnSync('sh', ['-c', `command -v ${tool}`]).status !== 0) missing.push(tool);
  }
  for (const f of ['vtinkpad', 'vtinkhost', 'libvtinksdk.so', 'libvtinkdrv.so']) {
    if (!existsSync(path.join(BIN_DIR, f))) missing.push(path.join(BIN_DIR, f));
  }
  if (typeof WebSocket !== 'function') missing.push('WebSocket (run node with --experimental-websocket)');
  return missing;
}

let display = null;

/** One X display with a tray for this test process. */
export async function startDisplay() {
  if (display) return display;
  const dir = mkdtempSync(path.join(tmpdir(), 'vtweb-x-'));
  const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1024x768x24', '-nolisten', 'tcp'], {
    stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
  });
  let num = '';
  xvfb.stdio[3].on('data', (d) => { num += d.toString(); });
  cleanups.push(() => xvfb.kill('SIGKILL'));
  await waitFor('Xvfb to report its display', () => num.includes('\n'), 20000);
  const name = `:${num.trim()}`;
  const trayer = spawn('trayer', ['--expand', 'true', '--SetDockType', 'true'], {
    env: { ...process.env, DISPLAY: name }, stdio: 'ignore',
  });
  cleanups.push(() => trayer.kill('SIGKILL'));
  cleanups.push(() => rmSync(dir, { recursive: true, force: true }));
  display = { name, xvfb, trayer };
  return display;
}

/**
 * The program to run under vtinkpad. By default a copy of vtinkhost under a
 * name of its own, beside links to the libraries: the single-instance check
 * of vtinkhost counts every process whose command line holds its file name,
 * and a test must not depend on what else runs on the machine.
 */
function programPath(dir, realName) {
  if (realName) return path.join(BIN_DIR, 'vtinkhost');
  const run = path.join(dir, 'run');
  mkdirSync(run, { recursive: true });
  const name = `vtinkhost-w${randomBytes(4).toString('hex')}`;
  copyFileSync(path.join(BIN_DIR, 'vtinkhost'), path.join(run, name));
  spawnSync('chmod', ['+x', path.join(run, name)]);
  for (const f of ['libvtinksdk.so', 'libvtinkdrv.so', 'vtinkhost.ico']) {
    if (existsSync(path.join(BIN_DIR, f))) symlinkSync(path.join(BIN_DIR, f), path.join(run, f));
  }
  return path.join(run, name);
}

/**
 * Starts vtinkhost under vtinkpad.
 * opts: {models, wsPort, realName, program (argv instead of vtinkhost), waitForService,
 * wrap (command that runs vtinkpad, e.g. unshare), serveDir (served instead of web/),
 * controlPort (vtinkpad's, default a free one), access (keys of the settings' group Access),
 * env (more environment for vtinkpad and the program), padArgs (more vtinkpad options)}
 */
export async function startStack(opts = {}) {
  const models = opts.models || ['q210'];
  const dir = mkdtempSync(path.join(tmpdir(), 'vtweb-'));
  cleanups.push(() => rmSync(dir, { recursive: true, force: true }));
  const wsPort = opts.wsPort || await freePort();
  const home = path.join(dir, 'home');
  mkdirSync(path.join(home, '.config/vtinkhost'), { recursive: true });
  const access = Object.entries(opts.access || {}).map(([k, v]) => `${k}=${v}\n`).join('');
  writeFileSync(path.join(home, '.config/vtinkhost/vtinkhost.conf'),
    `[Settings]\nWebSocketPort=${wsPort}\nUILangID=3\n${access ? `[Access]\n${access}` : ''}`);
  const program = opts.program || [programPath(dir, opts.realName)];
  const disp = await startDisplay();
  const env = {
    ...process.env, HOME: home, XDG_CONFIG_HOME: path.join(home, '.config'), DISPLAY: disp.name, QT_QPA_PLATFORM: 'xcb',
    ...(opts.env || {}),
  };
  delete env.LD_PRELOAD;
  delete env.UMOCKDEV_DIR;
  const portFile = path.join(dir, 'control-port');
  const args = ['--port-file', portFile, '--serve', opts.serveDir || WEB_DIR, '--interval', '2',
    ...(opts.controlPort ? ['--control-port', String(opts.controlPort)] : []),
    ...(opts.padArgs || []), ...models.flatMap((m) => ['--model', m]), '--', ...program];
  const wrap = opts.wrap || [];
  const cmd = [...wrap, path.join(BIN_DIR, 'vtinkpad'), ...args];
  const proc = spawn(cmd[0], cmd.slice(1), { env, stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  proc.stdout.on('data', (d) => { output += d; });
  proc.stderr.on('data', (d) => { output += d; });
  const exited = exitOf(proc, 0);
  cleanups.push(() => { if (proc.exitCode === null) proc.kill('SIGKILL'); });

  const controlPort = await waitFor('vtinkpad control port', () => {
    if (existsSync(portFile)) return Number(readFileSync(portFile, 'utf8').trim());
    if (proc.exitCode !== null) throw new Error(`vtinkpad exited with ${proc.exitCode}: ${output}`);
    return 0;
  }, 20000);
  const padUrl = `http://127.0.0.1:${controlPort}`;

  async function pad(action, body, init = {}) {
    const res = await fetch(`${padUrl}/pad${action}`, {
      method: body === undefined ? 'GET' : 'POST',
      headers: { 'Content-Type': 'application/json', ...(init.headers || {}) },
      body: body === undefined ? undefined : (typeof body === 'string' ? body : JSON.stringify(body)),
    });
    const json = await res.json();
    return init.raw ? { status: res.status, json } : (() => {
      if (!res.ok) throw new Error(`${action}: HTTP ${res.status} ${json.error}`);
      return json;
    })();
  }

  const stack = {
    dir, wsPort, wsUrl: `ws://127.0.0.1:${wsPort}`, controlPort, padUrl, proc, exited, pad, display: disp,
    output: () => output,
    async stop() {
      if (proc.exitCode === null && proc.signalCode === null) proc.kill('SIGTERM');
      try {
        return await exitOf(proc, 15000);
      } catch {
        proc.kill('SIGKILL');
        return exitOf(proc, 5000);
      }
    },
  };
  if (opts.waitForService !== false) {
    // vtinkhost waits for the tray before it listens
    await waitFor(`vtinkhost listening on ${wsPort}`, async () => {
      if (proc.exitCode !== null) throw new Error(`vtinkpad exited with ${proc.exitCode}: ${output}`);
      return canConnect(wsPort);
    }, 60000, 100);
  }
  return stack;
}

/** Records that a stroke list gives in the ink store: its points plus one stroke end per stroke. */
export function recordsOf(signature) {
  return signature.strokes.reduce((n, s) => n + s.length + 1, 0);
}

export function sample(name) {
  return JSON.parse(readFileSync(path.join(BIN_DIR, 'signatures', `${name}.json`), 'utf8'));
}

/**
 * The web kit as integrators get it: `npm pack` of web/, installed from the
 * tarball into a new scratch project (offline: the package has no
 * dependencies). Returns {app (the project), dir (the installed package),
 * tarball, files (as npm packed them)}.
 */
export function installPackedKit() {
  const root = mkdtempSync(path.join(tmpdir(), 'vtweb-npm-'));
  cleanups.push(() => rmSync(root, { recursive: true, force: true }));
  const npm = (args, cwd) => {
    const r = spawnSync('npm', args, {
      cwd, encoding: 'utf8', env: { ...process.env, npm_config_update_notifier: 'false', npm_config_fund: 'false' },
    });
    if (r.status !== 0) throw new Error(`npm ${args.join(' ')}: code ${r.status}\n${r.stdout}${r.stderr}`);
    return r.stdout;
  };
  const [packed] = JSON.parse(npm(['pack', WEB_DIR, '--json', '--pack-destination', root], root));
  const tarball = path.join(root, packed.filename);
  const app = path.join(root, 'app');
  mkdirSync(app);
  writeFileSync(path.join(app, 'package.json'), `${JSON.stringify({ name: 'vtinkhost-scratch', private: true, type: 'module' })}\n`);
  npm(['install', '--offline', '--no-audit', '--ignore-scripts', tarball], app);
  return { app, dir: path.join(app, 'node_modules', 'vtinkhost'), tarball, files: packed.files.map((f) => f.path) };
}
