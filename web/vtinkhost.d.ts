// Type declarations of vtinkhost.js.

export type ModelName = 'Q210' | 'QT410' | 'M420' | 'Q220' | 'Q230F';
export declare const MODELS: Readonly<Record<ModelName, number>>;
export declare const IMAGE_TYPE: Readonly<{ BMP: 1; JPEG: 2; PNG: 3; INK: 6; PDF: 7; SVG: 8 }>;
export declare const DEVICE_INFO: Readonly<{
  STATUS: 1; X_RANGE: 2; Y_RANGE: 3; PRESSURE_LEVELS: 4; VENDOR_NAME: 5; MODEL_NAME: 6; DRIVER_VERSION: 7;
}>;
export declare const KEY_EVENT_FUNC: 'GetDeviceConfirmOrCancelKeyStatus';
export declare const PEN_EVENT_FUNC: 'PenData';
export declare const DEVICE_EVENT_FUNC: 'DeviceStatus';
export declare const DEFAULT_URL: string;
export declare const FUNCTIONS: readonly string[];

export type ErrorCode = 'ETIMEDOUT' | 'EREFUSED' | 'ECLOSED' | 'ECONNECT' | 'EBADREPLY'
  /** the browser asks the user whether this site may reach the service (permission "prompt", and the browser held or answered the attempt) */
  | 'EPERMISSION'
  /** the browser does not let this site reach the service (permission "denied") */
  | 'EBLOCKED'
  /** a page that is not https: the browser blocks it without asking, or nothing listens (reconnecting goes on) */
  | 'EINSECURE'
  /** the service refused this site (close code 4003) */
  | 'EORIGIN'
  /** permission granted or not needed, and nothing listening */
  | 'ENOTRUNNING';

export declare class VtInkError extends Error {
  constructor(message: string, func: string | null, code: ErrorCode, cause?: unknown);
  /** The request's "Func", or null for connection errors. */
  func: string | null;
  code: ErrorCode;
  /** For ECONNECT: the last failed connection's error (e.g. ENOTRUNNING). */
  cause?: unknown;
}

export declare const ORIGIN_CLOSE_CODE: 4003;
export declare const PERMISSION_NAMES: Readonly<{
  loopback: readonly ['loopback-network', 'local-network-access'];
  local: readonly ['local-network', 'local-network-access'];
}>;
/** Plain words for the user, per error code, and for a connection that works or waits. */
export declare const ADVICE: Readonly<Record<ErrorCode | 'OK' | 'WAITING', string>>;

export type PermissionState = 'granted' | 'prompt' | 'denied' | 'not-applicable';

export interface Permission {
  /** the permission's name in this browser, null when not applicable */
  name: string | null;
  state: PermissionState;
}

export interface Diagnosis {
  /** this page's origin, null outside a web page */
  origin: string | null;
  permission: PermissionState;
  permissionName: string | null;
  /** the service answered (or asks its user) */
  reachable: boolean;
  /** the service asks its user whether this site may use it */
  waiting: boolean;
  /** why it is not reachable, null when it is */
  code: ErrorCode | null;
  advice: string;
}

export interface InkPoint {
  x: number;
  y: number;
  pressure: number;
  strokeEnd: boolean;
  /** "YYYY-MM-DD hh:mm:ss.mmm" as the service sent it */
  time: string;
  date: Date | null;
}

export interface DecodedPoint {
  x: number;
  y: number;
  strokeEnd: boolean;
}

export interface InkRecord {
  x: number;
  y: number;
  pressure: number;
  strokeEnd: boolean;
  /** monotonic milliseconds when stored */
  tick: number;
  time: Date;
}

/** One point of the pen stream, as stored. */
export interface PenPoint {
  /** raw pad values, as "GetPointer" gives them afterwards */
  x: number;
  y: number;
  pressure: number;
  strokeEnd: boolean;
  /** the pixel of the pad's canvas the SDK drew it at */
  cx: number;
  cy: number;
  /** ms since the pad was opened */
  t: number;
}

export interface PenEventDetail {
  points: PenPoint[];
  /** the ink was cleared (points is empty) */
  clear: boolean;
}

export type DeviceStatus = 'unplugged' | 'plugged';

export interface ImageEvent {
  eventType: number;
  kind: 'signature' | 'fingerprint';
  /** Base64 text */
  image: string;
  length: number;
  mimeType: string;
  dataUrl: string;
}

export interface Range { min: number; max: number }

export interface DriverVersion { major: number; minor: number; text: string }

export interface DeviceInformation {
  connected: boolean | null;
  xRange: Range | null;
  yRange: Range | null;
  pressureLevels: number | null;
  vendor: string | null;
  model: string | null;
  driverVersion: DriverVersion | null;
}

export interface SaveResult {
  ok: boolean;
  path: string | null;
  /** 0 on success, the SDK's negative code, or null without SDK */
  code: number | null;
}

export interface ClientOptions {
  /** ms to wait for a reply or a connection (default 5000) */
  timeout?: number;
  reconnect?: boolean;
  reconnectDelay?: number;
  maxReconnectDelay?: number;
  /** ms to wait while the service asks its user about this site (default 70000) */
  admissionTimeout?: number;
  WebSocket?: { new (url: string): WebSocket };
}

export interface RequestOptions { timeout?: number }

export type Members = Record<string, string | number | boolean | null | undefined>;

export declare function parseInkTime(text: string): Date | null;
export declare function parseInkPoints(text: string): InkPoint[];
export declare function parseDecodedPoints(text: string): DecodedPoint[];
export declare function parseImageEvent(text: string, what?: string): ImageEvent | null;
export declare function parsePenData(text: string): PenPoint[] | null;
export declare function parseDeviceInfo(type: 1, text: string): boolean | null;
export declare function parseDeviceInfo(type: 2 | 3, text: string): Range | null;
export declare function parseDeviceInfo(type: 4, text: string): number | null;
export declare function parseDeviceInfo(type: 5 | 6, text: string): string | null;
export declare function parseDeviceInfo(type: 7, text: string): DriverVersion | null;
export declare function parseDeviceInfo(type: number, text: string): unknown;
export declare function parseSaveResult(text: string): SaveResult;
export declare function imageMimeType(base64: string): string | null;
export declare function toDataUrl(base64: string, mimeType?: string): string;
export declare function base64ToBlob(base64: string, mimeType?: string): Blob;
export declare function parseInkData(base64: string): InkRecord[];
export declare function strokesOf<T extends { strokeEnd: boolean }>(points: T[]): T[][];
export declare function queryPermission(url?: string): Promise<Permission>;
/** The code of a failed attempt from what the page saw: the service's close code, the permission before and after, how long the browser held the attempt, and whether the page is a secure context. */
export declare function failureCode(seen: {
  closeCode?: number | null; before?: PermissionState; after?: PermissionState; heldMs?: number; secure?: boolean;
}): 'EORIGIN' | 'EPERMISSION' | 'EBLOCKED' | 'EINSECURE' | 'ENOTRUNNING';
export declare function inkToSvg(
  points: Array<{ x: number; y: number; strokeEnd: boolean }>,
  opts?: { width?: number; height?: number; color?: string; strokeWidth?: number },
): string;

export interface VtInkHostEventMap {
  open: CustomEvent<{ reconnect: boolean }>;
  close: CustomEvent<undefined>;
  reconnect: CustomEvent<{ attempt: number; delay: number; code: ErrorCode }>;
  waiting: CustomEvent<undefined>;
  key: CustomEvent<{ confirm: boolean }>;
  confirm: CustomEvent<undefined>;
  cancel: CustomEvent<undefined>;
  error: CustomEvent<VtInkError>;
  pen: CustomEvent<PenEventDetail>;
  device: CustomEvent<{ status: DeviceStatus }>;
}

export declare class VtInkHost extends EventTarget {
  constructor(url?: string, options?: ClientOptions);
  readonly url: string;
  timeout: number;
  reconnect: boolean;
  reconnectDelay: number;
  maxReconnectDelay: number;
  admissionTimeout: number;
  readonly connected: boolean;
  /** the service asks its user whether this page's site may use it */
  readonly waiting: boolean;
  readonly pendingCount: number;
  /** the last failed connection's error, null while connected */
  lastError: VtInkError | null;

  connect(timeout?: number): Promise<void>;
  close(): void;
  diagnose(opts?: RequestOptions): Promise<Diagnosis>;
  request(func: string, members?: Members, opts?: RequestOptions): Promise<string>;

  addEventListener<K extends keyof VtInkHostEventMap>(
    type: K, listener: (ev: VtInkHostEventMap[K]) => void, options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null,
    options?: boolean | AddEventListenerOptions): void;
  removeEventListener<K extends keyof VtInkHostEventMap>(
    type: K, listener: (ev: VtInkHostEventMap[K]) => void, options?: boolean | EventListenerOptions): void;
  removeEventListener(type: string, listener: EventListenerOrEventListenerObject | null,
    options?: boolean | EventListenerOptions): void;

  initialDevice(model?: ModelName | number, width?: number, height?: number, opts?: RequestOptions): Promise<boolean>;
  unInitialDevice(opts?: RequestOptions): Promise<boolean>;
  getAboutInfo(opts?: RequestOptions): Promise<string>;
  clear(opts?: RequestOptions): Promise<boolean>;
  setPenColor(r: number, g: number, b: number, opts?: RequestOptions): Promise<boolean>;
  setPenColor(hex: string, opts?: RequestOptions): Promise<boolean>;
  setPenWidth(width: number, opts?: RequestOptions): Promise<boolean>;
  setPenStyle(pressure: boolean, opts?: RequestOptions): Promise<boolean>;
  saveDrawingImage(type: number, dpi: number, path: string, opts?: RequestOptions): Promise<SaveResult>;
  getSize(opts?: RequestOptions): Promise<number>;
  getPointer(opts?: RequestOptions): Promise<InkPoint[]>;
  setClip(width: number, height: number, opts?: RequestOptions): Promise<boolean>;
  padID(opts?: RequestOptions): Promise<string>;
  penID(opts?: RequestOptions): Promise<string>;
  versionID(opts?: RequestOptions): Promise<string>;
  showDeviceInfoOnLCD(show: boolean, opts?: RequestOptions): Promise<boolean>;
  openLCD(opts?: RequestOptions): Promise<boolean>;
  closeLCD(opts?: RequestOptions): Promise<boolean>;
  getDeviceInfo(type: 1, opts?: RequestOptions): Promise<boolean | null>;
  getDeviceInfo(type: 2 | 3, opts?: RequestOptions): Promise<Range | null>;
  getDeviceInfo(type: 4, opts?: RequestOptions): Promise<number | null>;
  getDeviceInfo(type: 5 | 6, opts?: RequestOptions): Promise<string | null>;
  getDeviceInfo(type: 7, opts?: RequestOptions): Promise<DriverVersion | null>;
  getDeviceInformation(opts?: RequestOptions): Promise<DeviceInformation>;
  encode(type: number, opts?: RequestOptions): Promise<string>;
  decode(type: 6, data: string, path?: string, opts?: RequestOptions): Promise<DecodedPoint[]>;
  decode(type: 1 | 2 | 3, data: string, path: string, opts?: RequestOptions): Promise<string>;
  getDecodeFilePath(opts?: RequestOptions): Promise<string>;
  getInks(opts?: RequestOptions): Promise<ImageEvent | null>;
  setDisplayedFPImageAt(canvaswidth: number, canvasheight: number, left: number, top: number,
    width: number, height: number, opts?: RequestOptions): Promise<boolean>;
  getFingerPrintImage(fpImageOnly?: boolean, opts?: RequestOptions): Promise<ImageEvent | null>;
  subscribePenData(enable?: boolean, opts?: RequestOptions): Promise<boolean>;
  /**
   * The ink with its dynamics, the pad and the document's hash sealed to the
   * integrator's public key, as a compact JWE. Rejects with EREFUSED when the
   * service refuses (no pad, no ink, a bad hash, nonce or key).
   */
  getEvidence(request: EvidenceRequest, opts?: RequestOptions): Promise<string>;
}

/** A public key as a JWK: RSA (2048..8192 bits) or EC P-256/P-384. */
export interface EvidenceKey {
  kty: 'RSA' | 'EC';
  alg: 'RSA-OAEP-256' | 'ECDH-ES+A256KW';
  kid?: string;
  use?: 'enc';
  n?: string;
  e?: string;
  crv?: 'P-256' | 'P-384';
  x?: string;
  y?: string;
}

export type EvidenceRequest = {
  /** up to 128 printable ASCII characters chosen by the server */
  nonce: string;
  /** the integrator's public key (object or its JSON text) */
  key: EvidenceKey | string;
} & ({ document: ArrayBuffer | ArrayBufferView | Blob; documentHash?: never }
  | { documentHash: string; document?: never });

/** SHA-256 of a document as 64 hex digits (WebCrypto). */
export declare function documentHash(document: ArrayBuffer | ArrayBufferView | Blob): Promise<string>;

export interface LiveInkOptions {
  /** the pad's canvas size given to InitialDevice (default: the canvas' own) */
  width?: number;
  height?: number;
  /** how pressure becomes width (default "Q210") */
  model?: ModelName | number;
  /** 1..10, default 3 */
  penWidth?: number;
  /** width follows pressure (default true) */
  pressure?: boolean;
  /** the pad's pressure levels (GetDeviceInfo 4); tablets default to 8192 */
  levels?: number;
  color?: string;
}

export declare class LiveInk {
  constructor(canvas: HTMLCanvasElement, options?: LiveInkOptions);
  readonly canvas: HTMLCanvasElement;
  options: LiveInkOptions;
  /** points drawn (stroke ends included) since the last clear */
  readonly pointCount: number;
  attach(host: VtInkHost): this;
  detach(): void;
  clear(): void;
  strokeWidth(pressure: number): number;
  draw(detail: { points?: PenPoint[]; clear?: boolean }): void;
}

export default VtInkHost;
