// How the kit names a failed connection, and what it does next, in a page of
// a public site as the browsers present it: the permission's state before
// and after an attempt, how long the attempt was held, a secure page or not.
// The browser is stood in for (permissions, location, WebSocket); the cases
// in real browsers are web.sites and web.firefox.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { ADVICE, VtInkError, VtInkHost, failureCode } from '../../web/vtinkhost.js';

const URL_ = 'ws://127.0.0.1:6089';

// A page of https://shop.example whose loopback-network permission reads `state`.
function page({ state = 'prompt', secure = true } = {}) {
  const status = new EventTarget();
  status.state = state;
  const set = (name, value) => Object.defineProperty(globalThis, name, { value, configurable: true, writable: true });
  set('navigator', {
    permissions: {
      query: async ({ name }) => {
        if (name !== 'loopback-network') throw new TypeError(`unknown permission ${name}`);
        return status;
      },
    },
  });
  const proto = secure ? 'https:' : 'http:';
  set('location', { protocol: proto, hostname: 'shop.example', origin: `${proto}//shop.example` });
  set('isSecureContext', secure);
  return status;
}

// A WebSocket to a computer where the program runs (echoes the admission
// probe) or not (refused at once), or whose attempts the browser holds.
function socketClass(world) {
  return class FakeSocket {
    constructor(url) {
      this.url = url;
      this.readyState = 0;
      world.attempts++;
      if (world.held) return;
      setTimeout(() => {
        if (world.running) {
          this.readyState = 1;
          this.onopen?.();
        } else {
          this.readyState = 3;
          this.onerror?.({});
          this.onclose?.({ code: 1006 });
        }
      }, 2);
    }
    send(bytes) {
      const copy = new Uint8Array(bytes).buffer;
      setTimeout(() => this.onmessage?.({ data: copy }), 1);
    }
    close() { this.readyState = 3; }
  };
}

function until(target, name, ms, match = () => true) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no "${name}" within ${ms} ms`)), ms);
    const on = (ev) => {
      if (!match(ev)) return;
      clearTimeout(timer);
      target.removeEventListener(name, on);
      resolve(ev);
    };
    target.addEventListener(name, on);
  });
}

test('the code of a failed attempt, from what the page can see', () => {
  const rows = [
    // closeCode, before, after, heldMs, secure: code
    [4003, 'granted', 'granted', 5, true, 'EORIGIN'],
    [null, 'prompt', 'denied', 5, true, 'EPERMISSION'], // asked, and answered at once (headless Chromium)
    [null, 'prompt', 'prompt', 5000, true, 'EPERMISSION'], // held for the user's answer
    [null, 'prompt', 'prompt', 15, true, 'ENOTRUNNING'], // "prompt" the browser did not act on (Firefox)
    [null, 'denied', 'denied', 5, true, 'EBLOCKED'],
    [null, 'granted', 'denied', 5, true, 'EBLOCKED'],
    [null, 'granted', 'granted', 5, true, 'ENOTRUNNING'],
    [null, 'not-applicable', 'not-applicable', 5, true, 'ENOTRUNNING'],
    [null, 'prompt', 'prompt', 15, false, 'EINSECURE'], // blocked without asking, or nothing listens
    [null, 'not-applicable', 'not-applicable', 5, false, 'EINSECURE'],
    [null, 'denied', 'denied', 5, false, 'EINSECURE'], // an insecure page is never asked about
    [null, 'prompt', 'prompt', 5000, false, 'EPERMISSION'],
  ];
  for (const [closeCode, before, after, heldMs, secure, code] of rows) {
    assert.equal(failureCode({ closeCode, before, after, heldMs, secure }), code,
      JSON.stringify({ closeCode, before, after, heldMs, secure }));
  }
});

test('every text is a sentence: no "?." or "..", and a full stop at the end', async () => {
  const bad = /\?\.|\.\.(?!\.)|\s[.,:;?]|\s{2}|[.,;:]\S/;
  for (const [code, text] of Object.entries(ADVICE)) {
    assert.ok(/^[A-Z].*[.?]$/.test(text), `${code}: ${text}`);
    assert.ok(!bad.test(text.replace(/"[^"]*"|\([^)]*\)/g, 'X')), `${code}: ${text}`);
    assert.ok(!/\?\.|\.\./.test(text), `${code}: ${text}`);
  }
  // The connection errors as a page receives them.
  const world = { running: false, held: false, attempts: 0 };
  for (const [state, secure, code] of [['prompt', true, 'ENOTRUNNING'], ['denied', true, 'EBLOCKED'],
    ['prompt', false, 'EINSECURE']]) {
    page({ state, secure });
    const host = new VtInkHost(URL_, { WebSocket: socketClass(world), reconnectDelay: 50 });
    const failed = until(host, 'error', 5000);
    host.connect().catch(() => {});
    const { detail } = await failed;
    host.close();
    assert.equal(detail.code, code);
    assert.ok(!/\?\.|\.\.|\s\.|\.\S*\.$/.test(detail.message.replace(URL_, 'URL')), detail.message);
    assert.ok(detail.message.endsWith(ADVICE[code]), detail.message);
  }
});

test('a "prompt" the browser does not act on, nothing listening: ENOTRUNNING, then connected by itself', async () => {
  page({ state: 'prompt' });
  const world = { running: false, held: false, attempts: 0 };
  const host = new VtInkHost(URL_, { WebSocket: socketClass(world), reconnectDelay: 20, maxReconnectDelay: 80 });
  const codes = [];
  host.addEventListener('error', (ev) => codes.push(ev.detail.code));
  const connected = host.connect(400);
  await assert.rejects(connected, (e) => e instanceof VtInkError && e.code === 'ECONNECT'
    && e.cause && e.cause.code === 'ENOTRUNNING' && /reads "prompt"/.test(e.cause.message));
  assert.ok(codes.length >= 2 && codes.every((c) => c === 'ENOTRUNNING'), codes.join());
  // Still trying: the program starts, and the page connects without a click.
  await until(host, 'reconnect', 2000);
  world.running = true;
  await until(host, 'open', 2000);
  assert.equal(host.connected, true);
  host.close();
});

test('an attempt the browser holds for its user: EPERMISSION, and no new attempt until a grant', async () => {
  const status = page({ state: 'prompt' });
  const world = { running: true, held: true, attempts: 0 };
  const host = new VtInkHost(URL_, { WebSocket: socketClass(world), reconnectDelay: 20 });
  await assert.rejects(host.connect(1500), (e) => e.code === 'EPERMISSION');
  host.close();
  // A fast failure with the same "prompt" is not taken for a question.
  world.held = false;
  world.running = false;
  status.state = 'prompt';
  const other = new VtInkHost(URL_, { WebSocket: socketClass(world), reconnectDelay: 20 });
  const first = until(other, 'error', 2000);
  other.connect().catch(() => {});
  assert.equal((await first).detail.code, 'ENOTRUNNING');
  await until(other, 'reconnect', 2000);
  other.close();
});

test('an insecure page: EINSECURE, and reconnecting goes on', async () => {
  page({ state: 'prompt', secure: false });
  const world = { running: false, held: false, attempts: 0 };
  const host = new VtInkHost(URL_, { WebSocket: socketClass(world), reconnectDelay: 20, maxReconnectDelay: 80 });
  const first = until(host, 'error', 2000);
  host.connect().catch(() => {});
  assert.equal((await first).detail.code, 'EINSECURE');
  await until(host, 'reconnect', 2000);
  world.running = true;
  await until(host, 'open', 2000);
  host.close();
});
