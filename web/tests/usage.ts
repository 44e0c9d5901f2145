// The web kit used as an integrator would, checked with `tsc --strict
// --noEmit -p web/tests/tsconfig.json` against vtinkhost.d.ts (and, by the
// package test, against the installed npm package). Never run.
//
// Each table below names every member of its kind: a function, method,
// event, error code or constant added to vtinkhost.d.ts and missing here
// fails the check, and so does a changed signature. Extend the tables when
// the kit grows.
import DefaultHost, * as kit from '../vtinkhost.js';
import {
  LiveInk, VtInkError, VtInkHost,
  type DecodedPoint, type DeviceInformation, type EvidenceKey, type DeviceStatus, type Diagnosis, type DriverVersion, type ErrorCode,
  type ImageEvent, type InkPoint, type InkRecord, type LiveInkOptions, type ModelName, type PenEventDetail,
  type PenPoint, type Permission, type PermissionState, type Range, type SaveResult, type VtInkHostEventMap,
} from '../vtinkhost.js';

type Kit = typeof kit;
type Callable = (...args: never[]) => unknown;
type KitFunction = { [K in keyof Kit]: Kit[K] extends Callable ? K : never }[keyof Kit];
type KitConstant = Exclude<keyof Kit, KitFunction | 'VtInkHost' | 'VtInkError' | 'LiveInk' | 'default'>;
type Method = Exclude<{ [K in keyof VtInkHost]: VtInkHost[K] extends Callable ? K : never }[keyof VtInkHost],
  keyof EventTarget>;

const png = 'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=';

// Exported constants.
export const constants: { [K in KitConstant]: () => unknown } = {
  MODELS: () => { const id: number = kit.MODELS.Q230F; const names: ModelName[] = ['Q210', 'QT410']; return [id, names]; },
  IMAGE_TYPE: () => { const t: 1 | 2 | 3 | 6 | 7 | 8 = kit.IMAGE_TYPE.SVG; return t; },
  DEVICE_INFO: () => { const t: 7 = kit.DEVICE_INFO.DRIVER_VERSION; return t; },
  KEY_EVENT_FUNC: () => { const f: 'GetDeviceConfirmOrCancelKeyStatus' = kit.KEY_EVENT_FUNC; return f; },
  PEN_EVENT_FUNC: () => { const f: 'PenData' = kit.PEN_EVENT_FUNC; return f; },
  DEVICE_EVENT_FUNC: () => { const f: 'DeviceStatus' = kit.DEVICE_EVENT_FUNC; return f; },
  DEFAULT_URL: () => { const url: string = kit.DEFAULT_URL; return url; },
  FUNCTIONS: () => { const known: boolean = kit.FUNCTIONS.includes('GetInks'); return known; },
  ORIGIN_CLOSE_CODE: () => { const code: 4003 = kit.ORIGIN_CLOSE_CODE; return code; },
  PERMISSION_NAMES: () => { const first: 'loopback-network' = kit.PERMISSION_NAMES.loopback[0]; return [first, kit.PERMISSION_NAMES.local]; },
  ADVICE: () => { const text: string = kit.ADVICE.EPERMISSION + kit.ADVICE.OK + kit.ADVICE.WAITING; return text; },
};

// Exported helpers.
export const helpers: { [K in KitFunction]: () => unknown } = {
  documentHash: async () => { const hex: string = await kit.documentHash(new ArrayBuffer(1)); return hex; },
  parseInkTime: () => { const d: Date | null = kit.parseInkTime('2024-05-01 13:45:12.345'); return d; },
  parseInkPoints: () => { const p: InkPoint[] = kit.parseInkPoints('[]'); return p[0]?.date; },
  parseDecodedPoints: () => { const p: DecodedPoint[] = kit.parseDecodedPoints('[]'); return p; },
  parsePenData: () => {
    const p: PenPoint[] | null = kit.parsePenData('[]');
    return p?.map((q) => [q.x, q.y, q.pressure, q.strokeEnd, q.cx, q.cy, q.t]);
  },
  parseImageEvent: () => {
    const ev: ImageEvent | null = kit.parseImageEvent('', 'GetFingerPrintImage');
    const kind: 'signature' | 'fingerprint' | undefined = ev?.kind;
    return kind;
  },
  parseDeviceInfo: () => {
    const connected: boolean | null = kit.parseDeviceInfo(1, 'true');
    const x: Range | null = kit.parseDeviceInfo(2, '0,2360');
    const levels: number | null = kit.parseDeviceInfo(4, '2048');
    const vendor: string | null = kit.parseDeviceInfo(5, 'Vantor');
    const version: DriverVersion | null = kit.parseDeviceInfo(7, '3.0');
    return [connected, x?.max, levels, vendor, version?.major];
  },
  parseSaveResult: () => { const r: SaveResult = kit.parseSaveResult('-8'); return r.ok ? r.path : r.code; },
  imageMimeType: () => { const m: string | null = kit.imageMimeType(png); return m; },
  toDataUrl: () => { const url: string = kit.toDataUrl(png, 'image/png'); return url; },
  base64ToBlob: () => { const blob: Blob = kit.base64ToBlob(png); return blob.size; },
  parseInkData: () => { const r: InkRecord[] = kit.parseInkData(''); return r[0]?.time.getTime(); },
  strokesOf: () => { const s: InkPoint[][] = kit.strokesOf(kit.parseInkPoints('[]')); return s; },
  failureCode: () => {
    const code: ErrorCode = kit.failureCode({ closeCode: null, before: 'prompt', after: 'prompt', heldMs: 15, secure: false });
    return code === 'EINSECURE' ? kit.ADVICE.EINSECURE : code;
  },
  queryPermission: async () => {
    const p: Permission = await kit.queryPermission('ws://127.0.0.1:6089');
    const state: PermissionState = p.state;
    return [p.name, state];
  },
  inkToSvg: () => {
    const svg: string = kit.inkToSvg([{ x: 1, y: 2, strokeEnd: true }], { width: 400, height: 200, color: '#000', strokeWidth: 2 });
    return svg;
  },
};

// Every method of the client; each resolves to its typed result.
export const methods: { [K in Method]: (host: VtInkHost) => unknown } = {
  connect: (h) => h.connect(2000),
  close: (h) => h.close(),
  diagnose: async (h) => {
    const d: Diagnosis = await h.diagnose({ timeout: 2000 });
    const code: ErrorCode | null = d.code;
    return [d.origin, d.permission, d.permissionName, d.reachable, d.waiting, code, d.advice];
  },
  request: async (h) => { const text: string = await h.request('PadID', { id: 2, show: true, none: null }, { timeout: 100 }); return text; },
  initialDevice: async (h) => { const ok: boolean = await h.initialDevice('Q230F', 600, 300) || await h.initialDevice(2); return ok; },
  unInitialDevice: async (h) => { const ok: boolean = await h.unInitialDevice(); return ok; },
  getAboutInfo: async (h) => { const about: string = await h.getAboutInfo(); return about; },
  clear: async (h) => { const ok: boolean = await h.clear({ timeout: 1000 }); return ok; },
  setPenColor: async (h) => { const ok: boolean = await h.setPenColor(0, 0, 255) && await h.setPenColor('#0000ff'); return ok; },
  setPenWidth: async (h) => { const ok: boolean = await h.setPenWidth(3); return ok; },
  setPenStyle: async (h) => { const ok: boolean = await h.setPenStyle(true); return ok; },
  saveDrawingImage: async (h) => { const r: SaveResult = await h.saveDrawingImage(kit.IMAGE_TYPE.PDF, 300, 'sig.pdf'); return r; },
  getSize: async (h) => { const n: number = await h.getSize(); return n; },
  getPointer: async (h) => { const p: InkPoint[] = await h.getPointer(); return p.map((q) => [q.x, q.y, q.pressure, q.time]); },
  setClip: async (h) => { const ok: boolean = await h.setClip(10, 10); return ok; },
  padID: async (h) => { const id: string = await h.padID(); return id; },
  penID: async (h) => { const id: string = await h.penID(); return id; },
  versionID: async (h) => { const id: string = await h.versionID(); return id; },
  showDeviceInfoOnLCD: async (h) => { const ok: boolean = await h.showDeviceInfoOnLCD(true); return ok; },
  openLCD: async (h) => { const ok: boolean = await h.openLCD(); return ok; },
  closeLCD: async (h) => { const ok: boolean = await h.closeLCD(); return ok; },
  getDeviceInfo: async (h) => {
    const on: boolean | null = await h.getDeviceInfo(kit.DEVICE_INFO.STATUS);
    const y: Range | null = await h.getDeviceInfo(kit.DEVICE_INFO.Y_RANGE);
    const levels: number | null = await h.getDeviceInfo(kit.DEVICE_INFO.PRESSURE_LEVELS);
    const model: string | null = await h.getDeviceInfo(kit.DEVICE_INFO.MODEL_NAME);
    const version: DriverVersion | null = await h.getDeviceInfo(kit.DEVICE_INFO.DRIVER_VERSION);
    return [on, y?.min, levels, model, version?.text];
  },
  getDeviceInformation: async (h) => { const info: DeviceInformation = await h.getDeviceInformation(); return info.xRange?.max; },
  encode: async (h) => { const b64: string = await h.encode(kit.IMAGE_TYPE.INK); return b64; },
  decode: async (h) => {
    const points: DecodedPoint[] = await h.decode(6, 'AAAA');
    const file: string = await h.decode(3, png, 'sig.png');
    return [points, file];
  },
  getDecodeFilePath: async (h) => { const path: string = await h.getDecodeFilePath(); return path; },
  getInks: async (h) => { const ev: ImageEvent | null = await h.getInks(); return ev?.dataUrl; },
  setDisplayedFPImageAt: async (h) => { const ok: boolean = await h.setDisplayedFPImageAt(600, 300, 10, 10, 128, 160); return ok; },
  getFingerPrintImage: async (h) => { const ev: ImageEvent | null = await h.getFingerPrintImage(true); return ev?.mimeType; },
  subscribePenData: async (h) => { const ok: boolean = await h.subscribePenData() && await h.subscribePenData(false); return ok; },
  getEvidence: async (h) => {
    const key: EvidenceKey = { kty: 'EC', crv: 'P-256', x: 'x', y: 'y', alg: 'ECDH-ES+A256KW', kid: 'k1' };
    const fromBlob: string = await h.getEvidence({ document: new Blob(['contract']), nonce: 'n-1', key });
    const fromHash: string = await h.getEvidence({ documentHash: await kit.documentHash(new Uint8Array([1])), nonce: 'n-2', key: JSON.stringify(key) });
    return [fromBlob, fromHash];
  },
};

// Every event with its detail.
export const events: { [K in keyof VtInkHostEventMap]: (ev: VtInkHostEventMap[K]) => void } = {
  open: (ev) => { const again: boolean = ev.detail.reconnect; void again; },
  close: (ev) => { const none: undefined = ev.detail; void none; },
  reconnect: (ev) => { const { attempt, delay, code }: { attempt: number; delay: number; code: ErrorCode } = ev.detail; void [attempt, delay, code]; },
  waiting: (ev) => { const none: undefined = ev.detail; void none; },
  key: (ev) => { const confirm: boolean = ev.detail.confirm; void confirm; },
  confirm: () => {},
  cancel: () => {},
  error: (ev) => { const failure: VtInkError = ev.detail; const code: ErrorCode = failure.code; void code; },
  pen: (ev) => { const d: PenEventDetail = ev.detail; const first: PenPoint | undefined = d.points[0]; void [d.clear, first?.cx]; },
  device: (ev) => { const status: DeviceStatus = ev.detail.status; void status; },
};

// The live canvas helper, every member.
type LiveInkMember = Exclude<keyof LiveInk, never>;
export const liveInk: { [K in LiveInkMember]: (ink: LiveInk, host: VtInkHost) => unknown } = {
  canvas: (ink) => { const c: HTMLCanvasElement = ink.canvas; return c.width; },
  options: (ink) => { const o: LiveInkOptions = ink.options; return o.penWidth; },
  pointCount: (ink) => { const n: number = ink.pointCount; return n; },
  attach: (ink, host) => { const same: LiveInk = ink.attach(host); return same; },
  detach: (ink) => ink.detach(),
  clear: (ink) => ink.clear(),
  strokeWidth: (ink) => { const w: number = ink.strokeWidth(512); return w; },
  draw: (ink) => ink.draw({ points: kit.parsePenData('[]') ?? [], clear: false }),
};

// Every error code, as a page would explain it.
export const errorCodes: { [C in ErrorCode]: string } = {
  ETIMEDOUT: 'the service did not answer in time',
  EREFUSED: 'the service refused the request',
  ECLOSED: 'the connection was lost',
  ECONNECT: 'vtinkhost is not running',
  EBADREPLY: 'the service answered something unexpected',
  EPERMISSION: 'allow this site in the browser',
  EBLOCKED: 'the browser blocks this site',
  EINSECURE: 'the browser blocks this page, which is not https',
  EORIGIN: 'vtinkhost refused this site',
  ENOTRUNNING: 'vtinkhost is not running',
};

function listen<K extends keyof VtInkHostEventMap>(host: VtInkHost, name: K): void {
  host.addEventListener(name, events[name]);
  host.removeEventListener(name, events[name]);
}

export function explain(e: unknown): string {
  if (e instanceof VtInkError) {
    const func: string | null = e.func;
    const cause: unknown = e.cause;
    const why = cause instanceof VtInkError ? ` because ${errorCodes[cause.code]}` : '';
    return `${func ?? 'connection'}: ${errorCodes[e.code]}${why} (${e.message}) ${kit.ADVICE[e.code]}`;
  }
  return String(e);
}

export async function main(): Promise<void> {
  const host: VtInkHost = new DefaultHost(kit.DEFAULT_URL, {
    timeout: 5000, reconnect: true, reconnectDelay: 250, maxReconnectDelay: 4000, admissionTimeout: 70000, WebSocket,
  });
  const other = new VtInkHost();
  const state: [string, number, boolean, number, boolean] = [host.url, host.timeout, host.reconnect, host.pendingCount, other.connected];
  const more: [number, number, number, boolean, VtInkError | null] = [host.reconnectDelay, host.maxReconnectDelay,
    host.admissionTimeout, host.waiting, host.lastError];
  void more;
  const made = new VtInkError('no', null, 'ENOTRUNNING');
  void made;
  void state;
  for (const name of Object.keys(events) as (keyof VtInkHostEventMap)[]) listen(host, name);
  host.addEventListener('custom', (ev: Event) => { void ev.type; });
  for (const run of Object.values(constants)) run();
  for (const run of Object.values(helpers)) run();
  const ink = new LiveInk(document.createElement('canvas'), {
    width: 600, height: 300, model: 'QT410', penWidth: 3, pressure: true, levels: 8192, color: '#1a237e',
  });
  for (const use of Object.values(liveInk)) use(ink, host);
  for (const call of Object.values(methods)) {
    try {
      await call(host);
    } catch (e) {
      console.log(explain(e));
    }
  }
}
