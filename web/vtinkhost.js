// vtinkhost.js: client for the vtinkhost signing service (plain WebSocket,
// JSON requests named by "Func", every member a string).
// Dependency-free ES module; works in browsers and in Node >= 20 with
// --experimental-websocket (or any WebSocket class passed in the options).

/** Pad models and the device-type id the service expects in "id". */
export const MODELS = Object.freeze({ Q210: 2, QT410: 3, M420: 4, Q220: 5, Q230F: 7 });

/** Image type ids of "Encode", "Decode" and "SaveDrawingImage". */
export const IMAGE_TYPE = Object.freeze({ BMP: 1, JPEG: 2, PNG: 3, INK: 6, PDF: 7, SVG: 8 });

/** Index of "GetDeviceInfo". */
export const DEVICE_INFO = Object.freeze({
  STATUS: 1, X_RANGE: 2, Y_RANGE: 3, PRESSURE_LEVELS: 4, VENDOR_NAME: 5, MODEL_NAME: 6, DRIVER_VERSION: 7,
});

export const KEY_EVENT_FUNC = 'GetDeviceConfirmOrCancelKeyStatus';
/** "Func" of the pen stream's pushes ("SubscribePenData"). */
export const PEN_EVENT_FUNC = 'PenData';
/** "Func" of the pad status pushes ("SubscribePenData"). */
export const DEVICE_EVENT_FUNC = 'DeviceStatus';
export const DEFAULT_URL = 'ws://localhost:6089';

/** Every function the service answers; anything else gets no reply. */
export const FUNCTIONS = Object.freeze([
  'InitialDevice', 'UnInitialDevice', 'GetAboutInfo', 'Clear', 'SetPenColor', 'SetPenWidth',
  'SetPenStyle', 'SaveDrawingImage', 'GetSize', 'GetPointer', 'SetClip', 'PadID', 'PenID',
  'VersionID', 'ShowDeviceInfoOnLCD', 'OpenLCD', 'CloseLCD', 'GetDeviceInfo', 'Encode', 'Decode',
  'GetDecodeFilePath', 'GetInks', 'SetDisplayedFPImageAt', 'GetFingerPrintImage', 'SubscribePenData',
]);

/** Base class of the errors a request can end with; `func` names the request. */
export class VtInkError extends Error {
  constructor(message, func, code) {
    super(message);
    this.name = 'VtInkError';
    this.func = func;
    this.code = code;
  }
}

function refusalHint(func) {
  if (func === 'InitialDevice') return 'the service refuses "InitialDevice" while a device is open (call unInitialDevice first)';
  if (!FUNCTIONS.includes(func)) return `"${func}" is not a function the service knows`;
  return 'the service did not answer';
}

function toText(value) {
  if (typeof value === 'boolean') return value ? '1' : '0';
  if (typeof value === 'number') {
    if (!Number.isFinite(value)) throw new TypeError(`not a finite number: ${value}`);
    return String(Math.trunc(value));
  }
  if (value === undefined || value === null) return '';
  return String(value);
}

function toInt(text, what) {
  if (!/^-?\d+$/.test(text)) throw new VtInkError(`${what}: expected a decimal number, got ${JSON.stringify(text)}`, what, 'EBADREPLY');
  return parseInt(text, 10);
}

function parseJsonArray(text, what) {
  let value;
  try {
    value = JSON.parse(text);
  } catch (e) {
    throw new VtInkError(`${what}: reply is not JSON (${e.message})`, what, 'EBADREPLY');
  }
  if (!Array.isArray(value)) throw new VtInkError(`${what}: reply is not a JSON array`, what, 'EBADREPLY');
  return value;
}

// ---------------------------------------------------------------------------
// Payload parsers (exported so that pages can parse stored replies too).

/**
 * Parses a point time "YYYY-MM-DD hh:mm:ss.mmm" (local time) into a Date;
 * null when the text has another form.
 */
export function parseInkTime(text) {
  const m = /^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3})$/.exec(text || '');
  if (!m) return null;
  const [y, mo, d, h, mi, s, ms] = m.slice(1).map(Number);
  return new Date(y, mo - 1, d, h, mi, s, ms);
}

/** "GetPointer" reply -> [{x, y, pressure, strokeEnd, time, date}] */
export function parseInkPoints(text) {
  return parseJsonArray(text, 'GetPointer').map((p) => ({
    x: toInt(p.x, 'GetPointer'),
    y: toInt(p.y, 'GetPointer'),
    pressure: toInt(p.pressure, 'GetPointer'),
    strokeEnd: p.bStrokeEnd === '1',
    time: p.Time,
    date: parseInkTime(p.Time),
  }));
}

/** "Decode" reply for ink (type 6) -> [{x, y, strokeEnd}] */
export function parseDecodedPoints(text) {
  if (text === '') return [];
  return parseJsonArray(text, 'Decode').map((p) => ({
    x: toInt(p.x, 'Decode'),
    y: toInt(p.y, 'Decode'),
    strokeEnd: p.bStrokeEnd === '1',
  }));
}

/**
 * "GetInks" / "GetFingerPrintImage" reply -> image event, or null when the
 * reply is empty (image unchanged since the last report, or no image).
 */
export function parseImageEvent(text, what = 'GetInks') {
  if (text === '') return null;
  const arr = parseJsonArray(text, what);
  if (arr.length !== 1 || typeof arr[0] !== 'object' || arr[0] === null) {
    throw new VtInkError(`${what}: expected one image event, got ${arr.length}`, what, 'EBADREPLY');
  }
  const ev = arr[0];
  const eventType = toInt(ev.EventType, what);
  const image = typeof ev.Image === 'string' ? ev.Image : '';
  const length = toInt(ev.ImageLength, what);
  if (length !== image.length) {
    throw new VtInkError(`${what}: "ImageLength" ${length} does not match the image's ${image.length} characters`, what, 'EBADREPLY');
  }
  const mime = imageMimeType(image) || 'image/png';
  return {
    eventType,
    kind: eventType === 3 ? 'fingerprint' : 'signature',
    image,
    length,
    mimeType: mime,
    dataUrl: toDataUrl(image, mime),
  };
}

/**
 * "Result" of a "PenData" push -> [{x, y, pressure, strokeEnd, cx, cy, t}]:
 * raw pad values as "GetPointer" gives them, the canvas pixel the SDK drew
 * at, ms since the pad was opened. "clear" gives null (the ink was cleared).
 */
export function parsePenData(text) {
  if (text === 'clear') return null;
  return parseJsonArray(text, 'PenData').map((p) => ({
    x: toInt(p.x, 'PenData'),
    y: toInt(p.y, 'PenData'),
    pressure: toInt(p.pressure, 'PenData'),
    strokeEnd: p.bStrokeEnd === '1',
    cx: toInt(p.cx, 'PenData'),
    cy: toInt(p.cy, 'PenData'),
    t: toInt(p.t, 'PenData'),
  }));
}

/** "GetDeviceInfo" reply for index `type` -> typed value (null when empty). */
export function parseDeviceInfo(type, text) {
  if (text === '') return null;
  const pair = () => {
    const m = /^(-?\d+),(-?\d+)$/.exec(text);
    if (!m) throw new VtInkError(`GetDeviceInfo(${type}): expected "min,max", got ${JSON.stringify(text)}`, 'GetDeviceInfo', 'EBADREPLY');
    return { min: Number(m[1]), max: Number(m[2]) };
  };
  switch (Number(type)) {
    case DEVICE_INFO.STATUS: return text === 'true';
    case DEVICE_INFO.X_RANGE:
    case DEVICE_INFO.Y_RANGE: return pair();
    case DEVICE_INFO.PRESSURE_LEVELS: return pair().max;
    case DEVICE_INFO.DRIVER_VERSION: {
      const m = /^(-?\d+)\.(-?\d+)$/.exec(text);
      if (!m) throw new VtInkError(`GetDeviceInfo(7): expected "major.minor", got ${JSON.stringify(text)}`, 'GetDeviceInfo', 'EBADREPLY');
      return { major: Number(m[1]), minor: Number(m[2]), text };
    }
    default: return text;
  }
}

/**
 * "SaveDrawingImage" reply -> {ok, path, code}: the path on success, the
 * SDK's negative code otherwise (code null when the service has no SDK).
 */
export function parseSaveResult(text) {
  if (text === '') return { ok: false, path: null, code: null };
  if (/^-\d+$/.test(text)) return { ok: false, path: null, code: Number(text) };
  return { ok: true, path: text, code: 0 };
}

// ---------------------------------------------------------------------------
// Image and ink helpers.

function base64ToBytes(b64) {
  if (typeof atob === 'function') {
    const bin = atob(b64);
    const out = new Uint8Array(bin.length);
    for (let i = 0; i < bin.length; i++) out[i] = bin.charCodeAt(i);
    return out;
  }
  return new Uint8Array(Buffer.from(b64, 'base64'));
}

/** Guesses the image type of a Base64 text from its first bytes. */
export function imageMimeType(b64) {
  if (!b64) return null;
  if (b64.startsWith('iVBORw0KGgo')) return 'image/png';
  if (b64.startsWith('/9j/')) return 'image/jpeg';
  if (b64.startsWith('Qk')) return 'image/bmp';
  if (b64.startsWith('PD94bWwg') || b64.startsWith('PHN2Zy')) return 'image/svg+xml';
  if (b64.startsWith('JVBERi0')) return 'application/pdf';
  return null;
}

/** data: URL of a Base64 image (type guessed unless given). */
export function toDataUrl(b64, mimeType) {
  return `data:${mimeType || imageMimeType(b64) || 'application/octet-stream'};base64,${b64}`;
}

/** Blob of a Base64 text (browsers), e.g. for download links. */
export function base64ToBlob(b64, mimeType) {
  return new Blob([base64ToBytes(b64)], { type: mimeType || imageMimeType(b64) || 'application/octet-stream' });
}

/**
 * Parses the Base64 ink text of "Encode" type 6: 24-byte little-endian
 * records followed by one zero byte.
 * -> [{x, y, pressure, strokeEnd, tick, time}] (tick: monotonic ms; time: Date)
 */
export function parseInkData(b64) {
  const bytes = base64ToBytes(b64);
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const points = [];
  for (let off = 0; off + 24 <= bytes.length; off += 24) {
    points.push({
      x: view.getInt16(off, true),
      y: view.getInt16(off + 2, true),
      pressure: view.getInt16(off + 4, true),
      strokeEnd: view.getUint8(off + 6) !== 0,
      tick: Number(view.getBigInt64(off + 8, true)),
      time: new Date(Number(view.getBigInt64(off + 16, true)) * 1000),
    });
  }
  return points;
}

/** Splits ink points into strokes (arrays of points without the stroke-end records). */
export function strokesOf(points) {
  const strokes = [];
  let cur = [];
  for (const p of points) {
    if (p.strokeEnd) {
      if (cur.length) strokes.push(cur);
      cur = [];
    } else {
      cur.push(p);
    }
  }
  if (cur.length) strokes.push(cur);
  return strokes;
}

/**
 * SVG text drawing ink points (raw pad coordinates) as polylines.
 * opts: {width, height (viewBox; default: bounding box), color, strokeWidth}
 */
export function inkToSvg(points, opts = {}) {
  const strokes = strokesOf(points);
  let minX = Infinity; let minY = Infinity; let maxX = -Infinity; let maxY = -Infinity;
  for (const s of strokes) {
    for (const p of s) {
      minX = Math.min(minX, p.x); maxX = Math.max(maxX, p.x);
      minY = Math.min(minY, p.y); maxY = Math.max(maxY, p.y);
    }
  }
  if (!Number.isFinite(minX)) { minX = minY = 0; maxX = maxY = 1; }
  const sw = opts.strokeWidth || Math.max(2, Math.round((maxX - minX + maxY - minY) / 300));
  const vb = opts.width && opts.height
    ? `0 0 ${opts.width} ${opts.height}`
    : `${minX - sw} ${minY - sw} ${maxX - minX + 2 * sw} ${maxY - minY + 2 * sw}`;
  const color = String(opts.color || '#000').replace(/[^#\w(),. ]/g, '');
  const lines = strokes.map((s) => {
    const pts = s.length === 1 ? [s[0], s[0]] : s;
    return `<polyline points="${pts.map((p) => `${p.x},${p.y}`).join(' ')}"/>`;
  });
  return `<?xml version="1.0" encoding="UTF-8"?>\n<svg xmlns="http://www.w3.org/2000/svg" viewBox="${vb}">`
    + `<g fill="none" stroke="${color}" stroke-width="${sw}" stroke-linecap="round" stroke-linejoin="round">`
    + `${lines.join('')}</g></svg>\n`;
}

// ---------------------------------------------------------------------------
// Connection.

/**
 * One connection to vtinkhost with automatic reconnect.
 *
 * Replies carry no request id: the service answers each connection's
 * requests in the order they were sent, and requests it refuses get no
 * reply at all. A reply is therefore matched to the oldest pending request
 * with the same "Func"; pending requests sent before that one were refused
 * and fail at once, and a refused request with nothing after it fails when
 * its timeout runs out.
 *
 * Events (EventTarget): "open", "close", "reconnect" (detail {attempt}),
 * "key" (detail {confirm}), "confirm", "cancel", "error"; after
 * subscribePenData(): "pen" (detail {points, clear}) and "device" (detail
 * {status: "unplugged" | "plugged"}).
 */
export class VtInkHost extends EventTarget {
  /**
   * @param {string} url ws:// address of the service
   * @param {object} options {timeout, reconnect, reconnectDelay, maxReconnectDelay, WebSocket}
   */
  constructor(url = DEFAULT_URL, options = {}) {
    super();
    this.url = url;
    this.timeout = options.timeout ?? 5000;
    this.reconnect = options.reconnect ?? true;
    this.reconnectDelay = options.reconnectDelay ?? 250;
    this.maxReconnectDelay = options.maxReconnectDelay ?? 4000;
    this._WebSocket = options.WebSocket || globalThis.WebSocket;
    if (!this._WebSocket) throw new Error('no WebSocket class: pass options.WebSocket (Node: run with --experimental-websocket)');
    this._ws = null;
    this._pending = []; // sent, awaiting reply, in send order
    this._waiting = new Set(); // requests waiting for a connection
    this._closedByUser = true;
    this._attempt = 0;
    this._timer = null;
    this._openWaiters = [];
    this._everOpened = false;
  }

  /** True while the socket is open. */
  get connected() {
    return !!this._ws && this._ws.readyState === 1;
  }

  /** Number of requests sent and not answered yet. */
  get pendingCount() {
    return this._pending.length;
  }

  /**
   * Connects (and keeps reconnecting until close()). Resolves once open;
   * rejects after `timeout` ms without a connection (reconnecting goes on).
   */
  connect(timeout = this.timeout) {
    this._closedByUser = false;
    if (!this._ws && !this._timer) this._open();
    return this._whenOpen(timeout);
  }

  /** Closes the connection for good; pending requests fail. */
  close() {
    this._closedByUser = true;
    clearTimeout(this._timer);
    this._timer = null;
    const ws = this._ws;
    this._ws = null;
    if (ws) {
      try { ws.close(); } catch { /* already closing */ }
    }
    this._failAll('connection closed by the page', 'ECLOSED');
    for (const w of this._openWaiters) w.reject(new VtInkError('connection closed by the page', null, 'ECLOSED'));
    this._openWaiters = [];
  }

  _whenOpen(timeout) {
    if (this.connected) return Promise.resolve();
    return new Promise((resolve, reject) => {
      const w = { resolve, reject };
      w.timer = setTimeout(() => {
        this._openWaiters = this._openWaiters.filter((x) => x !== w);
        reject(new VtInkError(`no connection to ${this.url} within ${timeout} ms (is vtinkhost running?)`, null, 'ECONNECT'));
      }, timeout);
      this._openWaiters.push(w);
    });
  }

  _open() {
    let ws;
    try {
      ws = new this._WebSocket(this.url);
    } catch (e) {
      this._scheduleReconnect();
      this.dispatchEvent(new CustomEvent('error', { detail: e }));
      return;
    }
    this._ws = ws;
    ws.onopen = () => {
      if (this._ws !== ws) return;
      opened = true;
      const wasReconnect = this._everOpened;
      this._everOpened = true;
      this._attempt = 0;
      for (const w of this._openWaiters) { clearTimeout(w.timer); w.resolve(); }
      this._openWaiters = [];
      this.dispatchEvent(new CustomEvent('open', { detail: { reconnect: wasReconnect } }));
    };
    ws.onmessage = (ev) => {
      if (this._ws !== ws) return;
      if (typeof ev.data === 'string') this._onText(ev.data);
    };
    let opened = false;
    const lost = () => {
      if (this._ws !== ws) return;
      this._ws = null;
      try { ws.close(); } catch { /* already closed */ }
      this._failAll('connection to the service lost before the reply', 'ECLOSED');
      if (opened) this.dispatchEvent(new CustomEvent('close'));
      this._scheduleReconnect();
    };
    // Some WebSocket implementations report a failed connect with an error
    // and no close event: treat both as the end of this socket.
    ws.onerror = () => { if (ws.readyState !== 1) lost(); };
    ws.onclose = lost;
  }

  _scheduleReconnect() {
    if (this._closedByUser || !this.reconnect || this._timer) return;
    const delay = Math.min(this.maxReconnectDelay, this.reconnectDelay * 2 ** Math.min(this._attempt, 8));
    this._attempt++;
    this._timer = setTimeout(() => {
      this._timer = null;
      if (this._closedByUser) return;
      this.dispatchEvent(new CustomEvent('reconnect', { detail: { attempt: this._attempt } }));
      this._open();
    }, delay);
  }

  _failAll(message, code) {
    const pending = this._pending;
    this._pending = [];
    for (const r of pending) r.fail(new VtInkError(`"${r.func}": ${message}`, r.func, code));
  }

  _onText(text) {
    let msg;
    try {
      msg = JSON.parse(text);
    } catch {
      return; // the service only sends JSON; ignore anything else
    }
    if (!msg || typeof msg !== 'object' || typeof msg.Func !== 'string') return;
    if (msg.Func === KEY_EVENT_FUNC) {
      const confirm = msg.Result === '1';
      this.dispatchEvent(new CustomEvent('key', { detail: { confirm } }));
      this.dispatchEvent(new CustomEvent(confirm ? 'confirm' : 'cancel'));
      return;
    }
    if (msg.Func === PEN_EVENT_FUNC && typeof msg.Result === 'string') {
      let points;
      try {
        points = parsePenData(msg.Result);
      } catch (e) {
        this.dispatchEvent(new CustomEvent('error', { detail: e }));
        return;
      }
      this.dispatchEvent(new CustomEvent('pen', { detail: { points: points || [], clear: points === null } }));
      return;
    }
    if (msg.Func === DEVICE_EVENT_FUNC) {
      if (msg.Result === 'unplugged' || msg.Result === 'plugged') {
        this.dispatchEvent(new CustomEvent('device', { detail: { status: msg.Result } }));
      }
      return;
    }
    const i = this._pending.findIndex((r) => r.func === msg.Func);
    if (i < 0) return; // reply to a request that already timed out
    const refused = this._pending.splice(0, i + 1);
    const answered = refused.pop();
    for (const r of refused) {
      r.fail(new VtInkError(`"${r.func}" got no reply: ${refusalHint(r.func)}`, r.func, 'EREFUSED'));
    }
    answered.done(typeof msg.Result === 'string' ? msg.Result : '');
  }

  /**
   * Sends one request and resolves with the reply's "Result" text.
   * Members are sent as strings (numbers in decimal, booleans as 1/0).
   * Rejects with a VtInkError: code "ETIMEDOUT" when no reply came within the
   * timeout (the service refuses some requests silently), "EREFUSED" when a
   * later request was answered first, "ECLOSED"/"ECONNECT" on connection loss.
   */
  async request(func, members = {}, { timeout = this.timeout } = {}) {
    if (typeof func !== 'string' || !func) throw new TypeError('func must be a non-empty string');
    const msg = { Func: func };
    for (const [k, v] of Object.entries(members)) {
      if (k !== 'Func') msg[k] = toText(v);
    }
    const deadline = Date.now() + timeout;
    if (!this.connected) {
      if (this._closedByUser) this.connect(timeout).catch(() => {});
      await this._whenOpen(timeout);
    }
    return new Promise((resolve, reject) => {
      const r = { func };
      const timer = setTimeout(() => {
        const i = this._pending.indexOf(r);
        if (i >= 0) this._pending.splice(i, 1);
        reject(new VtInkError(`"${func}" got no reply within ${timeout} ms: ${refusalHint(func)}`, func, 'ETIMEDOUT'));
      }, Math.max(0, deadline - Date.now()));
      r.done = (v) => { clearTimeout(timer); resolve(v); };
      r.fail = (e) => { clearTimeout(timer); reject(e); };
      this._pending.push(r);
      try {
        this._ws.send(JSON.stringify(msg));
      } catch (e) {
        this._pending.splice(this._pending.indexOf(r), 1);
        r.fail(new VtInkError(`"${func}": could not send (${e.message})`, func, 'ECLOSED'));
      }
    });
  }

  // ---- typed wrappers, one per function -----------------------------------

  /** Opens a pad: model name ("Q210"...) or device-type id. -> true when opened */
  async initialDevice(model = 'Q210', width = 400, height = 200, opts) {
    const id = typeof model === 'string' && model in MODELS ? MODELS[model] : model;
    return (await this.request('InitialDevice', { id, width, height }, opts)) === '1';
  }

  /** Closes the pad. -> true when an open device was closed */
  async unInitialDevice(opts) {
    return (await this.request('UnInitialDevice', {}, opts)) === '1';
  }

  getAboutInfo(opts) { return this.request('GetAboutInfo', {}, opts); }

  async clear(opts) { return (await this.request('Clear', {}, opts)) === '1'; }

  /** Pen colour as (r, g, b) or as one "#rrggbb" text. */
  async setPenColor(r, g, b, opts) {
    if (typeof r === 'string') {
      const m = /^#?([0-9a-f]{2})([0-9a-f]{2})([0-9a-f]{2})$/i.exec(r);
      if (!m) throw new TypeError(`not a colour: ${r}`);
      opts = g;
      [r, g, b] = m.slice(1).map((h) => parseInt(h, 16));
    }
    return (await this.request('SetPenColor', { r, g, b }, opts)) === '1';
  }

  async setPenWidth(width, opts) { return (await this.request('SetPenWidth', { width }, opts)) === '1'; }

  /** true: width follows pen pressure; false: constant width. */
  async setPenStyle(pressure, opts) {
    return (await this.request('SetPenStyle', { style: pressure ? 0 : 1 }, opts)) === '1';
  }

  /** Saves the signature as a file on the service's machine. -> {ok, path, code} */
  async saveDrawingImage(type, dpi, path, opts) {
    return parseSaveResult(await this.request('SaveDrawingImage', { type, dpi, path }, opts));
  }

  /** Number of stored ink records (stroke ends included). */
  async getSize(opts) {
    const n = toInt(await this.request('GetSize', {}, opts), 'GetSize');
    // older services answered an empty ink store with the SDK's code (-8)
    return n < 0 ? 0 : n;
  }

  async getPointer(opts) { return parseInkPoints(await this.request('GetPointer', {}, opts)); }

  async setClip(width, height, opts) { return (await this.request('SetClip', { width, height }, opts)) === '1'; }

  padID(opts) { return this.request('PadID', {}, opts); }

  penID(opts) { return this.request('PenID', {}, opts); }

  versionID(opts) { return this.request('VersionID', {}, opts); }

  async showDeviceInfoOnLCD(show, opts) {
    return (await this.request('ShowDeviceInfoOnLCD', { show: show ? 1 : 0 }, opts)) === '1';
  }

  async openLCD(opts) { return (await this.request('OpenLCD', {}, opts)) === '1'; }

  async closeLCD(opts) { return (await this.request('CloseLCD', {}, opts)) === '1'; }

  /** One device-info item, parsed (see parseDeviceInfo). */
  async getDeviceInfo(type, opts) {
    return parseDeviceInfo(type, await this.request('GetDeviceInfo', { type }, opts));
  }

  /** All seven device-info items at once. */
  async getDeviceInformation(opts) {
    const names = ['connected', 'xRange', 'yRange', 'pressureLevels', 'vendor', 'model', 'driverVersion'];
    const values = await Promise.all(names.map((_, i) => this.getDeviceInfo(i + 1, opts)));
    return Object.fromEntries(names.map((n, i) => [n, values[i]]));
  }

  /** Base64 of the signature as BMP (1), JPEG (2), PNG (3) or ink (6); '' when nothing is signed. */
  encode(type, opts) { return this.request('Encode', { type }, opts); }

  /**
   * Decodes a Base64 text on the service. Ink (6) -> decoded points; image
   * types -> the file path the service wrote (ask no further).
   */
  async decode(type, data, path = '', opts) {
    if (Number(type) === IMAGE_TYPE.INK) {
      return parseDecodedPoints(await this.request('Decode', { type, data }, opts));
    }
    await this.request('Decode', { type, data, path }, opts);
    return this.getDecodeFilePath(opts);
  }

  getDecodeFilePath(opts) { return this.request('GetDecodeFilePath', {}, opts); }

  /** The signature image (PNG) -> image event, or null when unchanged since the last call. */
  async getInks(opts) { return parseImageEvent(await this.request('GetInks', {}, opts), 'GetInks'); }

  async setDisplayedFPImageAt(canvaswidth, canvasheight, left, top, width, height, opts) {
    return (await this.request('SetDisplayedFPImageAt', {
      canvaswidth, canvasheight, left, top, width, height,
    }, opts)) === '1';
  }

  /**
   * Puts this connection on the open pad's stream (true) or takes it off:
   * "pen" events with the points as they are stored and on a clear, "device"
   * events when the pad is unplugged and plugged in again. Needs no open pad;
   * a reconnected page subscribes again.
   */
  async subscribePenData(enable = true, opts) {
    return (await this.request('SubscribePenData', { enable: enable ? 1 : 0 }, opts)) === '1';
  }

  /** Q230F fingerprint image -> image event (kind "fingerprint"), or null. */
  async getFingerPrintImage(fpImageOnly = false, opts) {
    return parseImageEvent(await this.request('GetFingerPrintImage', { fpimageonly: fpImageOnly ? 1 : 0 }, opts), 'GetFingerPrintImage');
  }
}

// ---------------------------------------------------------------------------
// Live drawing.

const TABLETS = new Set(['QT410', 'M420', MODELS.QT410, MODELS.M420]);

/**
 * Draws the pen stream on a <canvas> as the SDK draws it on its own: round
 * segments from point to point whose width follows pressure, at the pixels
 * the SDK used (cx, cy) scaled to the canvas' size. A "clear" clears it.
 *
 * options: {width, height: the pad's canvas size (InitialDevice; default the
 * canvas' own), model ("Q210" ... or its id: how pressure becomes width),
 * penWidth (1..10, default 3), pressure (default true), levels (the pad's
 * pressure levels, GetDeviceInfo 4; tablets 8192 by default), color}
 */
export class LiveInk {
  constructor(canvas, options = {}) {
    this.canvas = canvas;
    this.options = { penWidth: 3, pressure: true, color: '#000000', model: 'Q210', ...options };
    this.pointCount = 0;
    this._last = null;
    this._host = null;
    this._onPen = (ev) => this.draw(ev.detail);
  }

  /** Draws what host's "pen" events bring from now on (one host at a time). */
  attach(host) {
    this.detach();
    this._host = host;
    host.addEventListener('pen', this._onPen);
    return this;
  }

  detach() {
    if (this._host) this._host.removeEventListener('pen', this._onPen);
    this._host = null;
  }

  /** Empties the canvas; the next point starts a stroke. */
  clear() {
    const g = this.canvas.getContext('2d');
    g.clearRect(0, 0, this.canvas.width, this.canvas.height);
    this._last = null;
    this.pointCount = 0;
  }

  /** Stroke width, in the pad canvas' pixels, of a raw pressure. */
  strokeWidth(pressure) {
    const o = this.options;
    const tablet = TABLETS.has(o.model);
    if (!o.pressure) return tablet ? o.penWidth * 3 : o.penWidth;
    return tablet ? pressure * o.penWidth * 3 / (o.levels || 8192) : pressure * o.penWidth / 306;
  }

  /** One "pen" event's detail: {points, clear}. */
  draw({ points = [], clear = false } = {}) {
    if (clear) this.clear();
    const g = this.canvas.getContext('2d');
    const sx = this.canvas.width / (this.options.width || this.canvas.width);
    const sy = this.canvas.height / (this.options.height || this.canvas.height);
    g.lineCap = 'round';
    g.lineJoin = 'round';
    g.strokeStyle = this.options.color;
    for (const p of points) {
      this.pointCount++;
      if (p.strokeEnd) {
        this._last = null;
        continue;
      }
      if (this._last) {
        g.lineWidth = Math.max(0.5, this.strokeWidth(p.pressure)) * Math.min(sx, sy);
        g.beginPath();
        g.moveTo((this._last.cx + 0.5) * sx, (this._last.cy + 0.5) * sy);
        g.lineTo((p.cx + 0.5) * sx, (p.cy + 0.5) * sy);
        g.stroke();
      }
      this._last = p;
    }
  }
}

export default VtInkHost;
