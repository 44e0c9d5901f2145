// vtinkpad: plugging, replaying, the control interface's answers, the
// program's life and the command line the single-instance check sees (under
// the program's real name: vtinkpad-name.test.mjs).
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';

import { VtInkHost } from '../../web/vtinkhost.js';
import {
  BIN_DIR, exitOf, missingTools, nextEvent, recordsOf, sample, startStack, stopAll, waitFor,
} from './harness.mjs';

const missing = missingTools();
if (missing.length) {
  console.log(`skipped: missing ${missing.join(', ')}`);
  process.exit(77);
}

function cmdline(pid) {
  return readFileSync(`/proc/${pid}/cmdline`, 'utf8').split('\0').filter(Boolean);
}

describe('with vtinkhost under vtinkpad', () => {
  let stack;
  let host;

  before(async () => {
    stack = await startStack();
    host = new VtInkHost(stack.wsUrl, { timeout: 5000 });
    await host.connect(20000);
  });

  after(async () => {
    host?.close();
    await stack?.stop();
  });

  test('the command line shows no trace of the program', () => {
    assert.deepEqual(cmdline(stack.proc.pid), ['vtinkpad']);
  });

  test('unplugged, the pad does not open; plugged in again, it does', async () => {
    const st = await stack.pad('');
    assert.equal(st.pads[0].plugged, true);
    assert.equal(st.program.running, true);
    assert.deepEqual(await stack.pad('/unplug', {}), { ok: true, plugged: false });
    assert.equal(await host.initialDevice('Q210', 400, 200), false);
    assert.deepEqual(await stack.pad('/plug', {}), { ok: true, plugged: true });
    assert.equal(await host.initialDevice('Q210', 400, 200), true);
    // strokes reach the reopened pad
    await stack.pad('/stroke', { points: [[0.2, 0.2, 0.4], [0.3, 0.3, 0.5]] });
    await waitFor('three records', async () => (await host.getSize()) === 3);
    assert.equal(await host.unInitialDevice(), true);
  });

  test('replaying each sample signature stores as many ink points as it holds', async () => {
    assert.equal(await host.initialDevice('Q210', 600, 300), true);
    try {
      const { signatures } = await stack.pad('');
      assert.ok(signatures.length >= 2, `samples: ${signatures}`);
      for (const name of signatures) {
        await host.clear();
        const r = await stack.pad('/replay', { name, speed: 0 });
        assert.equal(r.records, recordsOf(sample(name)), name);
        assert.equal(r.delivered, true);
        await waitFor(`${name}: ${r.records} ink points`, async () => (await host.getSize()) === r.records);
        const points = await host.getPointer();
        assert.equal(points.filter((p) => p.strokeEnd).length, sample(name).strokes.length);
      }
    } finally {
      await host.unInitialDevice();
    }
  });

  test('raw strokes arrive unchanged, and touches arrive as key events', async () => {
    assert.equal(await host.initialDevice('Q210', 600, 300), true);
    try {
      const pts = [[500, 600, 300], [520, 610, 310], [560, 640, 320]];
      const r = await stack.pad('/stroke', { units: 'raw', points: pts });
      assert.deepEqual([r.points, r.strokes, r.records], [3, 1, 4]);
      await waitFor('four records', async () => (await host.getSize()) === 4);
      const got = await host.getPointer();
      assert.deepEqual(got.map((p) => [p.x, p.y, p.pressure, p.strokeEnd]), [
        [500, 600, 300, false], [520, 610, 310, false], [560, 640, 320, false], [560, 640, 320, true]]);
      const confirm = nextEvent(host, 'confirm');
      await stack.pad('/confirm', {});
      await confirm;
    } finally {
      await host.unInitialDevice();
    }
  });

  test('the control interface refuses what it cannot do', async () => {
    const bad = await stack.pad('/stroke', '{"points": [[1, 2', { raw: true });
    assert.equal(bad.status, 400);
    assert.match(bad.json.error, /not JSON/);
    const badPoint = await stack.pad('/stroke', { points: [[0.1, 'x', 0.2]] }, { raw: true });
    assert.equal(badPoint.status, 400);
    const unknown = await stack.pad('/replay', { name: 'nobody' }, { raw: true });
    assert.equal(unknown.status, 404);
    const escape = await stack.pad('/replay', { name: '../../etc/passwd' }, { raw: true });
    assert.equal(escape.status, 404);
    // nobody has the pad open: strokes would pop up in a later session
    const closed = await stack.pad('/stroke', { points: [[0.1, 0.1, 0.1]] }, { raw: true });
    assert.equal(closed.status, 409);
    assert.match(closed.json.error, /open it first/);
    const noFinger = await stack.pad('/finger', {}, { raw: true });
    assert.equal(noFinger.status, 409);
    const action = await stack.pad('/jump', {}, { raw: true });
    assert.equal(action.status, 404);
    const foreign = await stack.pad('/confirm', {}, { raw: true, headers: { Origin: 'http://evil.example' } });
    assert.equal(foreign.status, 403);
    const local = await stack.pad('', undefined, { raw: true, headers: { Origin: 'http://localhost:8000' } });
    assert.equal(local.status, 200);
  });

  test('serves the web kit', async () => {
    const page = await fetch(`${stack.padUrl}/demo/`);
    assert.equal(page.status, 200);
    assert.match(page.headers.get('content-type'), /text\/html/);
    assert.match(await page.text(), /demo\.js/);
    const lib = await fetch(`${stack.padUrl}/vtinkhost.js`);
    assert.match(lib.headers.get('content-type'), /javascript/);
    assert.equal((await fetch(`${stack.padUrl}/demo/../../etc/passwd`)).status, 404);
  });
});

describe('stopping in the middle of a replay', () => {
  test('ends vtinkpad without waiting for the signature', async () => {
    const s = await startStack();
    const h = new VtInkHost(s.wsUrl, { timeout: 5000, reconnect: false });
    try {
      await h.connect(20000);
      assert.equal(await h.initialDevice('Q210', 600, 300), true);
      // a twentieth of the pace: over a minute for the whole signature
      const drawing = s.pad('/replay', { name: 'anna-berg', speed: 0.05 }, { raw: true }).catch((e) => e);
      await waitFor('the first points', async () => (await h.getSize()) > 0);
      s.proc.kill('SIGTERM');
      // vtinkhost stops cleanly on SIGTERM: vtinkpad passes its 0 on
      assert.equal(await exitOf(s.proc, 15000), 0, s.output());
      const r = await drawing;
      assert.ok(r instanceof Error || r.status === 503, `replay answered ${JSON.stringify(r.json)}`);
    } finally {
      h.close();
      await s.stop();
    }
  });
});

describe('the program\'s life', () => {
  test('the program\'s exit code is passed on', async () => {
    const s = await startStack({ program: ['sh', '-c', 'exit 7'], waitForService: false });
    assert.equal(await s.exited, 7);
  });

  test('a program that cannot start gives 127', async () => {
    const s = await startStack({ program: ['/nonexistent/program'], waitForService: false });
    assert.equal(await s.exited, 127);
  });

  test('stopping vtinkpad stops the program first', async () => {
    const s = await startStack({ program: ['sleep', '600'], waitForService: false });
    const { program } = await waitFor('the program', async () => {
      const st = await s.pad('');
      return st.program.running && st;
    });
    s.proc.kill('SIGTERM');
    assert.equal(await s.exited, 128 + 15);
    assert.throws(() => process.kill(program.pid, 0), /ESRCH/);
  });

  test('an unknown model is refused', async () => {
    const r = spawnSync(`${BIN_DIR}/vtinkpad`, ['--model', 'q999', '--', 'true'],
      { encoding: 'utf8', timeout: 20000 });
    assert.equal(r.status, 2);
    assert.match(r.stderr, /unknown model q999/);
  });
});

after(() => stopAll());
