// The web kit's live events against the real vtinkhost under vtinkpad: the
// pen stream ("pen"), a clear, and the pad going and coming back ("device"),
// for a page that subscribed; another page hears none of it.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';

import { VtInkHost, parsePenData } from '../../web/vtinkhost.js';
import {
  missingTools, nextEvent, recordsOf, sample, startStack, stopAll, waitFor,
} from './harness.mjs';

const missing = missingTools();
if (missing.length) {
  console.log(`skipped: missing ${missing.join(', ')}`);
  process.exit(77);
}

let stack;
before(async () => { stack = await startStack(); });
after(async () => {
  await stack?.stop();
  stopAll();
});

test('a subscribed page gets the pen stream, clears and the pad status', async () => {
  const page = new VtInkHost(stack.wsUrl, { reconnect: false });
  const other = new VtInkHost(stack.wsUrl, { reconnect: false });
  await page.connect();
  await other.connect();
  const points = [];
  let clears = 0;
  const devices = [];
  page.addEventListener('pen', (ev) => {
    if (ev.detail.clear) clears++;
    points.push(...ev.detail.points);
  });
  page.addEventListener('device', (ev) => devices.push(ev.detail.status));
  const heard = [];
  for (const name of ['pen', 'device']) other.addEventListener(name, () => heard.push(name));

  assert.equal(await page.subscribePenData(), true); // no pad needed
  assert.equal(await page.initialDevice('Q210', 600, 300), true);
  const drawn = await stack.pad('/replay', { name: 'ken-ito', speed: 0 });
  assert.equal(drawn.records, recordsOf(sample('ken-ito')));
  await waitFor('every point streamed', () => points.length >= drawn.records);
  const stored = await page.getPointer();
  assert.equal(points.length, stored.length);
  points.forEach((p, i) => {
    const s = stored[i];
    assert.deepEqual([p.x, p.y, p.pressure, p.strokeEnd], [s.x, s.y, s.pressure, s.strokeEnd], `point ${i}`);
    assert.ok(p.cx >= 0 && p.cx < 600 && p.cy >= 0 && p.cy < 300, `point ${i} on the canvas`);
    assert.ok(i === 0 || p.t >= points[i - 1].t, `point ${i} in time`);
  });

  const cleared = nextEvent(page, 'pen');
  assert.equal(await other.clear(), true);
  assert.equal((await cleared).detail.clear, true);
  assert.equal(clears, 1);

  const gone = nextEvent(page, 'device', 20000);
  await stack.pad('/unplug', {});
  assert.equal((await gone).detail.status, 'unplugged');
  const back = nextEvent(page, 'device', 20000);
  await stack.pad('/plug', {});
  assert.equal((await back).detail.status, 'plugged');
  assert.deepEqual(devices, ['unplugged', 'plugged']);
  assert.equal(await page.unInitialDevice(), true);
  assert.equal(await page.initialDevice('Q210', 600, 300), true);

  // Off the stream: nothing more.
  assert.equal(await page.subscribePenData(false), true);
  const before = points.length;
  await stack.pad('/stroke', { points: [[0.2, 0.5, 0.5], [0.4, 0.5, 0.5]] });
  await waitFor('the stroke stored', async () => (await page.getSize()) === 3);
  assert.equal(await page.padID(), 'PAD0000210'); // a round trip after the stroke
  assert.equal(points.length, before);
  assert.deepEqual(heard, []);
  assert.equal(await page.unInitialDevice(), true);
  page.close();
  other.close();
});

test('the stream\'s text', () => {
  assert.equal(parsePenData('clear'), null);
  assert.deepEqual(parsePenData('[{"bStrokeEnd":"1","cx":"5","cy":"6","pressure":"300","t":"12","x":"-3","y":"45"}]'),
    [{ x: -3, y: 45, pressure: 300, strokeEnd: true, cx: 5, cy: 6, t: 12 }]);
  assert.throws(() => parsePenData('[{"x":"a"}]'), /PenData/);
});
