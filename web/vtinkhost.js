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
  'GetEvidence',
]);

// What a refused "GetEvidence" answers.
const EVIDENCE_REFUSALS = Object.freeze({
  '-1': 'no pad is open (or the service cannot encrypt)',
  '-2': 'a bad document hash, nonce or key',
  '-8': 'no ink to seal',
});

/** SHA-256 of a document (ArrayBuffer, typed array or Blob) as 64 hex digits, by WebCrypto. */
export async function documentHash(document) {
  let bytes = document;
  if (typeof Blob !== 'undefined' && document instanceof Blob) bytes = await document.arrayBuffer();
  if (!(bytes instanceof ArrayBuffer) && !ArrayBuffer.isView(bytes)) {
    throw new TypeError('document must be an ArrayBuffer, a typed array or a Blob');
  }
  const digest = new Uint8Array(await globalThis.crypto.subtle.digest('SHA-256', bytes));
  return Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join('');
}

/**
 * Base class of the errors a request or a connection can end with; `func`
 * names the request (null for the connection), `code` says what went wrong
 * (ADVICE explains each), `cause` is the error behind an ECONNECT.
 */
export class VtInkError extends Error {
  constructor(message, func, code, cause) {
    super(message, cause === undefined ? undefined : { cause });
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
// Reaching the service: the browser's permission, the service's site policy.

/** Close code of a connection the service refused for the page's site. */
export const ORIGIN_CLOSE_CODE = 4003;

/**
 * Names of the browser permission a page needs to reach the service on this
 * computer, newest first (Chromium: "loopback-network" since 145; before it
 * "local-network-access"). For a service on another computer of the local
 * network: "local-network", then "local-network-access".
 */
export const PERMISSION_NAMES = Object.freeze({
  loopback: Object.freeze(['loopback-network', 'local-network-access']),
  local: Object.freeze(['local-network', 'local-network-access']),
});

/** What a page can tell its user for each error code, in plain words. */
export const ADVICE = Object.freeze({
  OK: 'Connected to the signature pad service.',
  WAITING: 'The signature pad service asks on this computer whether this site may use the pad: answer its question '
    + '(a window of the vtinkhost tray icon).',
  EPERMISSION: 'The browser asks whether this site may reach the signature pad service on this computer. Allow it '
    + 'when the browser asks, or under "Local network access" in this site\'s settings (the icon left of the '
    + 'address), then connect again.',
  EBLOCKED: 'The browser does not let this site reach the signature pad service on this computer. Allow "Local '
    + 'network access" in this site\'s settings (the icon left of the address), or ask your administrator to allow '
    + 'the site (vtinkhost-allow-site), then connect again.',
  EORIGIN: 'The signature pad service refused this site. Remove it from the blocked sites under "Allowed sites…" in '
    + 'the vtinkhost tray menu, or ask your administrator to allow it (vtinkhost-allow-site), then connect again.',
  EINSECURE: 'The browser does not let this page reach the signature pad service on this computer, and it does '
    + 'not ask on a page that is not https. Open the site over https, or ask your administrator to allow the site '
    + '(vtinkhost-allow-site). The page keeps trying, in case vtinkhost is simply not running.',
  ENOTRUNNING: 'The signature pad service (vtinkhost) is not running on this computer. Start it from the '
    + 'applications menu, or log in again if it starts at login. The page connects by itself once it runs.',
  ECONNECT: 'No connection to the signature pad service yet. Is vtinkhost running?',
  ECLOSED: 'The connection to the signature pad service was lost; it is being connected again.',
  ETIMEDOUT: 'The signature pad service did not answer in time.',
  EREFUSED: 'The signature pad service refused the request.',
  EBADREPLY: 'The signature pad service answered something unexpected.',
});

// Codes after which connecting again by itself would not help: the user or
// the administrator has to act first.
const STOPPING_CODES = new Set(['EPERMISSION', 'EBLOCKED', 'EORIGIN']);

// A refused connection to this computer fails within milliseconds; one the
// browser holds for its user's answer takes longer than this.
const HELD_MS = 1000;

/**
 * Why an attempt failed, from what the page can see: the service's close
 * code, the permission before and after the attempt, how long the browser
 * held the attempt, and whether the page is a secure context. "prompt" alone
 * proves nothing: Firefox reads it on every page of another computer, also
 * where it checks nothing. It counts only when the browser acted on it (the
 * state changed during the attempt) or held the attempt.
 */
export function failureCode({ closeCode = null, before = 'not-applicable', after = before, heldMs = 0, secure = true }) {
  if (closeCode === ORIGIN_CLOSE_CODE) return 'EORIGIN';
  if (before === 'prompt' && after === 'prompt' && heldMs >= HELD_MS) return 'EPERMISSION';
  // An insecure page is blocked without a question (whatever the state
  // reads), or nothing listens: not to be told apart from here, so
  // reconnecting goes on.
  if (!secure) return 'EINSECURE';
  if (before === 'prompt' && after === 'denied') return 'EPERMISSION'; // asked, and answered (headless: at once)
  if (before === 'denied' || after === 'denied') return 'EBLOCKED';
  return 'ENOTRUNNING';
}

// False on a page of another computer that is not a secure context.
function pageIsSecure() {
  const loc = globalThis.location;
  if (!loc || !/^https?:$/.test(loc.protocol) || isLoopbackHost(loc.hostname)) return true;
  return globalThis.isSecureContext !== false;
}

function isLoopbackHost(host) {
  const h = String(host || '').replace(/^\[|\]$/g, '').toLowerCase();
  return h === 'localhost' || h.endsWith('.localhost') || h === '::1' || /^127\.\d+\.\d+\.\d+$/.test(h);
}

async function permissionStatus(url) {
  const nav = globalThis.navigator;
  const loc = globalThis.location;
  let target;
  try {
    target = new URL(url).hostname;
  } catch {
    return null;
  }
  // Not a web page, or a page this computer serves itself: it asks nobody.
  if (!nav || !nav.permissions || typeof nav.permissions.query !== 'function' || !loc
    || !/^https?:$/.test(loc.protocol) || isLoopbackHost(loc.hostname)) return null;
  for (const name of isLoopbackHost(target) ? PERMISSION_NAMES.loopback : PERMISSION_NAMES.local) {
    try {
      return { name, status: await nav.permissions.query({ name }) };
    } catch {
      // a name this browser does not know
    }
  }
  return null;
}

/**
 * The browser's permission for this page to reach the service at `url`:
 * {name, state} with state "granted", "prompt" (the browser asks the user),
 * "denied", or "not-applicable" (no such permission in this browser, a page
 * served by this computer itself, or no browser at all; name null).
 */
export async function queryPermission(url = DEFAULT_URL) {
  const p = await permissionStatus(url);
  return p ? { name: p.name, state: p.status.state } : { name: null, state: 'not-applicable' };
}

function randomProbe() {
  const bytes = new Uint8Array(24);
  const prefix = 'vtinkhost-admission:';
  for (let i = 0; i < bytes.length; i++) bytes[i] = i < prefix.length ? prefix.charCodeAt(i) : Math.floor(Math.random() * 256);
  return bytes;
}

function sameBytes(data, bytes) {
  if (!(data instanceof ArrayBuffer) || data.byteLength !== bytes.length) return false;
  const got = new Uint8Array(data);
  return got.every((b, i) => b === bytes[i]);
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
 * A connection counts as open once the service lets the page's site in: it
 * echoes a binary frame only then (the service may first ask its user, see
 * the "waiting" event). A failed connection is told apart by the browser's
 * permission and the service's close code (see ADVICE); reconnects back off
 * up to maxReconnectDelay and stop where only the user can help (EPERMISSION,
 * EBLOCKED, EORIGIN) until connect() is called again or the permission is
 * granted.
 *
 * Events (EventTarget): "open" (detail {reconnect}), "close", "reconnect"
 * (detail {attempt, delay, code}), "waiting" (the service asks its user),
 * "key" (detail {confirm}), "confirm", "cancel", "error" (detail: the
 * VtInkError of a failed connection); after subscribePenData(): "pen"
 * (detail {points, clear}) and "device" (detail {status: "unplugged" |
 * "plugged"}).
 */
export class VtInkHost extends EventTarget {
  /**
   * @param {string} url ws:// address of the service
   * @param {object} options {timeout, reconnect, reconnectDelay, maxReconnectDelay, admissionTimeout, WebSocket}
   */
  constructor(url = DEFAULT_URL, options = {}) {
    super();
    this.url = url;
    this.timeout = options.timeout ?? 5000;
    this.reconnect = options.reconnect ?? true;
    this.reconnectDelay = options.reconnectDelay ?? 250;
    this.maxReconnectDelay = options.maxReconnectDelay ?? 4000;
    // The service's user answers within a minute, or the site is refused.
    this.admissionTimeout = options.admissionTimeout ?? 70000;
    this._WebSocket = options.WebSocket || globalThis.WebSocket;
    if (!this._WebSocket) throw new Error('no WebSocket class: pass options.WebSocket (Node: run with --experimental-websocket)');
    this._ws = null;
    this._heldSince = 0;
    this._admitted = false; // the service answers this connection
    this._admissionEnds = 0; // while a connection waits for the service's user
    this._pending = []; // sent, awaiting reply, in send order
    this._closedByUser = true;
    this._stopped = false; // reconnects stopped by an error only the user can mend
    this._attempt = 0;
    this._timer = null;
    this._openWaiters = [];
    this._everOpened = false;
    this._opening = false; // reading the permission before an attempt
    this._permissionWatch = null;
    /** The last failed connection's VtInkError, null while connected. */
    this.lastError = null;
  }

  /** True while the service answers this connection. */
  get connected() {
    return !!this._ws && this._ws.readyState === 1 && this._admitted;
  }

  /** True while the service asks its user whether this page's site may use it. */
  get waiting() {
    return !!this._ws && this._ws.readyState === 1 && !this._admitted;
  }

  /** Number of requests sent and not answered yet. */
  get pendingCount() {
    return this._pending.length;
  }

  /**
   * Connects (and keeps reconnecting until close()). Resolves once open;
   * rejects at once with EPERMISSION, EBLOCKED or EORIGIN, and with
   * ECONNECT after `timeout` ms without a connection (its `cause` says why,
   * e.g. ENOTRUNNING; reconnecting goes on). While the service asks its
   * user, it waits for the answer. Call it from a click to let the browser
   * ask for its permission.
   */
  connect(timeout = this.timeout) {
    this._closedByUser = false;
    this._stopped = false;
    if (!this._ws && !this._timer && !this._opening) this._open();
    return this._whenOpen(timeout);
  }

  /** Closes the connection for good; pending requests fail. */
  close() {
    this._closedByUser = true;
    clearTimeout(this._timer);
    this._timer = null;
    this._unwatchPermission();
    const ws = this._ws;
    this._ws = null;
    this._heldSince = 0;
    this._admitted = false;
    if (ws) {
      try { ws.close(); } catch { /* already closing */ }
    }
    this._failAll('connection closed by the page', 'ECLOSED');
    this._rejectWaiters(new VtInkError('connection closed by the page', null, 'ECLOSED'));
  }

  /**
   * What stands between this page and the service: {origin (this page's),
   * permission (as queryPermission's state), permissionName, reachable (the
   * service answered), waiting (its user is being asked), code (why not,
   * or null), advice (plain words for the user)}. Connects when not
   * connected, unless the last attempt ended in an error only the user can
   * mend (then connect() again, from a click).
   */
  async diagnose({ timeout = this.timeout } = {}) {
    let error = null;
    if (!this.connected && !this.waiting && this._stopped && this.lastError) {
      error = this.lastError; // only the user can mend it: no new attempt until connect()
    } else if (!this.connected && !this.waiting) {
      try {
        await this.connect(timeout);
      } catch (e) {
        error = e instanceof VtInkError && e.cause instanceof VtInkError ? e.cause : e;
      }
    }
    const permission = await queryPermission(this.url);
    const loc = globalThis.location;
    const waiting = this.waiting;
    const reachable = this.connected || waiting;
    let code = null;
    if (!reachable) code = error instanceof VtInkError ? error.code : (this.lastError ? this.lastError.code : 'ECONNECT');
    return {
      origin: loc && loc.origin && loc.origin !== 'null' ? loc.origin : null,
      permission: permission.state,
      permissionName: permission.name,
      reachable,
      waiting,
      code,
      advice: ADVICE[code || (waiting ? 'WAITING' : 'OK')],
    };
  }

  _whenOpen(timeout) {
    if (this.connected) return Promise.resolve();
    if (this._stopped && this.lastError && !this._ws) return Promise.reject(this.lastError);
    return new Promise((resolve, reject) => {
      const w = { resolve, reject };
      const expire = async () => {
        // The service's user is being asked: that ends with an answer or a refusal.
        if (this.waiting && Date.now() < this._admissionEnds) {
          w.timer = setTimeout(expire, Math.max(10, this._admissionEnds - Date.now()));
          return;
        }
        this._openWaiters = this._openWaiters.filter((x) => x !== w);
        if (this.connected) { resolve(); return; }
        // A browser that shows its question keeps the socket waiting.
        const permission = await queryPermission(this.url);
        if (permission.state === 'prompt' && this._heldSince && Date.now() - this._heldSince >= HELD_MS) {
          reject(this._error('EPERMISSION'));
          return;
        }
        const why = this.lastError;
        reject(new VtInkError(`no connection to ${this.url} within ${timeout} ms (${why ? why.message : 'is vtinkhost running?'})`,
          null, 'ECONNECT', why || undefined));
      };
      w.timer = setTimeout(expire, timeout);
      this._openWaiters.push(w);
    });
  }

  _rejectWaiters(error) {
    const waiters = this._openWaiters;
    this._openWaiters = [];
    for (const w of waiters) { clearTimeout(w.timer); w.reject(error); }
  }

  _error(code, note = '') {
    const what = {
      EPERMISSION: 'the browser asks the user whether this site may reach the service',
      EBLOCKED: 'the browser does not let this site reach the service',
      EINSECURE: 'the browser blocks this page, which is not https, or nothing listens there',
      EORIGIN: 'the service refused this site',
      ENOTRUNNING: 'nothing listens there',
    }[code];
    return new VtInkError(`connection to ${this.url}: ${what}${note}. ${ADVICE[code]}`, null, code);
  }

  async _open() {
    if (this._opening) return;
    // Read before the attempt: a browser that asks may answer by itself
    // (a headless one denies at once), and "prompt" is then gone.
    this._opening = true;
    let before;
    try {
      before = await queryPermission(this.url);
    } finally {
      this._opening = false;
    }
    if (this._closedByUser || this._ws || this._timer) return;
    let ws;
    try {
      ws = new this._WebSocket(this.url);
    } catch (e) {
      this._attemptFailed(null, before.state);
      return;
    }
    ws.binaryType = 'arraybuffer';
    this._ws = ws;
    const startedAt = Date.now();
    this._heldSince = startedAt;
    this._admitted = false;
    const probe = randomProbe();
    let opened = false;
    let ended = false;
    let waitingTimer = null;
    ws.onopen = () => {
      if (this._ws !== ws) return;
      opened = true;
      this._heldSince = 0;
      this._admissionEnds = Date.now() + this.admissionTimeout;
      // Echoed once the service answers this site.
      try { ws.send(probe); } catch { /* reported by the close */ }
      waitingTimer = setTimeout(() => {
        if (this._ws === ws && !this._admitted) this.dispatchEvent(new CustomEvent('waiting'));
      }, 300);
    };
    ws.onmessage = (ev) => {
      if (this._ws !== ws) return;
      if (typeof ev.data === 'string') {
        if (this._admitted) this._onText(ev.data);
      } else if (!this._admitted && sameBytes(ev.data, probe)) {
        clearTimeout(waitingTimer);
        this._admit();
      }
    };
    const end = (ev) => {
      if (ended || this._ws !== ws) return;
      ended = true;
      clearTimeout(waitingTimer);
      this._ws = null;
      this._heldSince = 0;
      try { ws.close(); } catch { /* already closed */ }
      const refused = !!ev && ev.code === ORIGIN_CLOSE_CODE;
      if (this._admitted) {
        this._admitted = false;
        this._failAll(refused ? 'the service refused this site' : 'connection to the service lost before the reply',
          refused ? 'EORIGIN' : 'ECLOSED');
        this.dispatchEvent(new CustomEvent('close'));
        if (!refused) {
          this._scheduleReconnect('ECLOSED');
          return;
        }
      }
      this._attemptFailed(refused ? ORIGIN_CLOSE_CODE : null, before.state, Date.now() - startedAt);
    };
    // A failed connect may bring an error and no close event; after the
    // handshake the close event carries the code.
    ws.onerror = () => { if (!opened) end(); };
    ws.onclose = end;
  }

  _admit() {
    this._admitted = true;
    this._unwatchPermission();
    const wasReconnect = this._everOpened;
    this._everOpened = true;
    this._attempt = 0;
    this.lastError = null;
    const waiters = this._openWaiters;
    this._openWaiters = [];
    for (const w of waiters) { clearTimeout(w.timer); w.resolve(); }
    this.dispatchEvent(new CustomEvent('open', { detail: { reconnect: wasReconnect } }));
  }

  // stateBefore: the permission as it was before the attempt; heldMs: how
  // long the browser kept the attempt before it failed.
  async _attemptFailed(closeCode, stateBefore, heldMs = 0) {
    const after = closeCode === ORIGIN_CLOSE_CODE ? stateBefore : (await queryPermission(this.url)).state;
    const code = failureCode({ closeCode, before: stateBefore, after, heldMs, secure: pageIsSecure() });
    if (this._closedByUser) return;
    // What the kit could not tell: a "prompt" the browser did not act on.
    const note = code === 'ENOTRUNNING' && after === 'prompt'
      ? ' (the browser\'s permission reads "prompt", yet it did not hold the connection for an answer)' : '';
    const error = this._error(code, note);
    this.lastError = error;
    this.dispatchEvent(new CustomEvent('error', { detail: error }));
    if (!STOPPING_CODES.has(code)) {
      this._scheduleReconnect(code);
      return;
    }
    this._stopped = true;
    this._rejectWaiters(error);
    if (code !== 'EORIGIN') this._watchPermission();
  }

  // A permission granted later (in the site settings) connects again.
  async _watchPermission() {
    this._unwatchPermission();
    const p = await permissionStatus(this.url);
    if (!p || typeof p.status.addEventListener !== 'function' || this._closedByUser || !this._stopped) return;
    const onChange = () => {
      if (p.status.state !== 'granted' || this._closedByUser || this._ws || this._timer) return;
      this._unwatchPermission();
      this._stopped = false;
      this._open();
    };
    p.status.addEventListener('change', onChange);
    this._permissionWatch = () => p.status.removeEventListener('change', onChange);
  }

  _unwatchPermission() {
    if (this._permissionWatch) this._permissionWatch();
    this._permissionWatch = null;
  }

  _scheduleReconnect(code) {
    if (this._closedByUser || !this.reconnect || this._timer) return;
    const delay = Math.min(this.maxReconnectDelay, this.reconnectDelay * 2 ** Math.min(this._attempt, 8));
    this._attempt++;
    const attempt = this._attempt;
    this._timer = setTimeout(() => {
      this._timer = null;
      if (this._closedByUser) return;
      this.dispatchEvent(new CustomEvent('reconnect', { detail: { attempt, delay, code } }));
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
   * later request was answered first, "ECLOSED"/"ECONNECT" on connection loss,
   * or the connection's own error (EPERMISSION, EBLOCKED, EORIGIN).
   */
  async request(func, members = {}, { timeout = this.timeout } = {}) {
    if (typeof func !== 'string' || !func) throw new TypeError('func must be a non-empty string');
    const msg = { Func: func };
    for (const [k, v] of Object.entries(members)) {
      if (k !== 'Func') msg[k] = toText(v);
    }
    let deadline = Date.now() + timeout;
    if (!this.connected) {
      if (this._closedByUser) this.connect(timeout).catch(() => {});
      await this._whenOpen(timeout);
      // After the service's user let the site in, the request has its full time.
      if (Date.now() > deadline) deadline = Date.now() + timeout;
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

  /**
   * The ink with its dynamics, the pad and the document's hash, sealed to
   * the integrator's public key: -> compact JWE (A256GCM; key "RSA-OAEP-256"
   * RSA 2048..8192 bits, or "ECDH-ES+A256KW" P-256/P-384, as a JWK object or
   * its JSON). The document (ArrayBuffer, typed array or Blob) is hashed
   * here; or give documentHash (64 hex digits). Rejects with EREFUSED when
   * the service refuses (no pad, no ink, a bad hash, nonce or key).
   */
  async getEvidence({ document, documentHash: hash, nonce, key } = {}, opts) {
    const doc = hash !== undefined ? String(hash) : await documentHash(document);
    const result = await this.request('GetEvidence', {
      doc, nonce: String(nonce ?? ''), key: typeof key === 'string' ? key : JSON.stringify(key),
    }, opts);
    if (result in EVIDENCE_REFUSALS) {
      throw new VtInkError(`"GetEvidence" refused (${result}): ${EVIDENCE_REFUSALS[result]}`, 'GetEvidence', 'EREFUSED');
    }
    if (result.split('.').length !== 5) {
      throw new VtInkError(`"GetEvidence": expected a compact JWE, got ${JSON.stringify(result.slice(0, 40))}`, 'GetEvidence', 'EBADREPLY');
    }
    return result;
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
