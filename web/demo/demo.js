// Demo page of the vtinkhost web kit: open a pad, watch the signature grow
// as it is drawn (the pen stream on a canvas), confirm or cancel on the pad,
// download the result.
import {
  VtInkHost, LiveInk, ADVICE, IMAGE_TYPE, base64ToBlob, inkToSvg, queryPermission, toDataUrl,
} from '../vtinkhost.js';

const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);
const wsUrl = params.get('ws') || `ws://${location.hostname || 'localhost'}:6089`;
// Control interface of vtinkpad: same origin when it serves this page.
const padUrl = (params.get('pad') || (location.protocol.startsWith('http') ? location.origin : '')).replace(/\/$/, '');
const FINGERPRINT_INTERVAL_MS = 250;

const host = new VtInkHost(wsUrl, { timeout: 8000 });
// The live preview: the pen stream drawn as the SDK draws it.
const ink = new LiveInk($('preview')).attach(host);
let isOpen = false;
let opened = null; // {model, w, h} of the open pad
let fingerprintTimer = null;
let polling = false;

function log(text, isError = false) {
  const li = document.createElement('li');
  li.textContent = `${new Date().toLocaleTimeString()} ${text}`;
  if (isError) li.className = 'error';
  $('log').prepend(li);
  while ($('log').children.length > 60) $('log').lastChild.remove();
}

function setStatus(text, isError = false) {
  $('status').textContent = text;
  $('status').classList.toggle('error', isError);
}

function setOpen(open) {
  isOpen = open;
  $('open').disabled = open;
  $('model').disabled = open;
  $('close').disabled = !open;
  $('clear').disabled = !open;
  $('info-refresh').disabled = !open;
  clearInterval(fingerprintTimer);
  fingerprintTimer = open && !$('fp-row').hidden ? setInterval(pollFingerprint, FINGERPRINT_INTERVAL_MS) : null;
}

function showPreview(shown) {
  $('preview').hidden = !shown;
  $('preview-empty').hidden = shown;
  if (!shown) ink.clear();
}

// Every batch of the stream: drawn by the LiveInk helper, counted here.
host.addEventListener('pen', (ev) => {
  if (ev.detail.clear) {
    showPreview(false);
    return;
  }
  if (!isOpen || !ev.detail.points.length) return;
  showPreview(true);
  $('preview').dataset.version = String(Number($('preview').dataset.version || 0) + 1);
});

async function pollFingerprint() {
  if (polling || !isOpen || !host.connected) return;
  polling = true;
  try {
    const fp = await host.getFingerPrintImage(true);
    if (fp) {
      $('fingerprint').src = fp.dataUrl;
      $('fingerprint').hidden = false;
      $('fp-empty').hidden = true;
    }
  } catch (e) {
    log(`fingerprint: ${e.message}`, true);
  } finally {
    polling = false;
  }
}

async function applyPen() {
  if (!isOpen) return;
  Object.assign(ink.options, {
    color: $('color').value, penWidth: Number($('width').value), pressure: $('pressure').checked,
  });
  await host.setPenColor($('color').value);
  await host.setPenWidth(Number($('width').value));
  await host.setPenStyle($('pressure').checked);
  await applyClip();
}

async function applyClip() {
  if (!isOpen) return;
  if ($('clip').checked) {
    // 0 x 0 would switch clipping off again
    const mx = Math.max(0, Number($('clip-x').value) || 0);
    const my = Math.max(0, Number($('clip-y').value) || 0);
    await host.setClip(mx || 1, my);
  } else {
    await host.setClip(0, 0);
  }
}

async function openPad() {
  const model = $('model').value;
  const w = Number($('cw').value) || 600;
  const h = Number($('ch').value) || 300;
  setStatus(`Opening ${model}…`);
  try {
    if (await host.initialDevice(model, w, h)) {
      opened = { model, w, h };
      // the preview has the pad canvas' pixels
      $('preview').width = w;
      $('preview').height = h;
      Object.assign(ink.options, { width: w, height: h, model });
      // the fingerprint pad places the finger's image at the canvas' top right
      const fingerprint = model === 'Q230F';
      $('fp-row').hidden = !fingerprint;
      setOpen(true);
      setStatus(`${model} open: sign on the pad.`);
      log(`${model} opened (${w}×${h})`);
      $('result-panel').hidden = true;
      showPreview(false);
      $('fingerprint').hidden = true;
      $('fp-empty').hidden = false;
      if (fingerprint) await host.setDisplayedFPImageAt(w, h, Math.max(0, w - 114), 10, 104, 144);
      await applyPen();
      await refreshInfo();
      ink.options.levels = (await host.getDeviceInfo(4)) || undefined;
    } else {
      setStatus(`Could not open ${model}: is the pad plugged in?`, true);
      log(`InitialDevice ${model} failed`, true);
    }
  } catch (e) {
    setStatus(e.message, true);
    log(e.message, true);
    // a pad left open (by another page, or before a reconnect) must be closed first
    if (e.code === 'ETIMEDOUT') $('close').disabled = false;
  }
}

async function closePad() {
  setOpen(false);
  opened = null;
  try {
    await host.unInitialDevice();
    setStatus('Not open.');
    log('pad closed');
  } catch (e) {
    log(e.message, true);
  }
}

async function clearPad() {
  await host.clear(); // the stream's "clear" empties the preview
  await applyClip(); // the SDK's clear switches clipping off
  showPreview(false);
  $('result-panel').hidden = true;
  log('cleared');
}

function fillPoints(points) {
  const body = $('points').tBodies[0];
  body.replaceChildren(...points.map((p, i) => {
    const tr = document.createElement('tr');
    for (const v of [i, p.x, p.y, p.pressure, p.strokeEnd ? '✓' : '', p.time]) {
      const td = document.createElement('td');
      td.textContent = String(v);
      tr.append(td);
    }
    return tr;
  }));
  $('point-count').textContent = String(points.length);
}

let lastPoints = [];

async function onConfirm() {
  log('confirm key');
  if (!isOpen) return;
  try {
    const png = await host.encode(IMAGE_TYPE.PNG);
    lastPoints = await host.getPointer();
    if (!png) {
      setStatus('Confirmed, but nothing was signed.', true);
      return;
    }
    $('final').src = toDataUrl(png, 'image/png');
    fillPoints(lastPoints);
    $('result-panel').hidden = false;
    setStatus(`Signed: ${lastPoints.length} ink points.`);
  } catch (e) {
    log(`confirm: ${e.message}`, true);
  }
}

// The document: the chosen file, else this page's text as a stand-in.
async function sealEvidence() {
  try {
    const file = $('evidence-doc').files[0];
    const document = file || new Blob([globalThis.document.title]);
    const nonce = $('evidence-nonce').value || Array.from(crypto.getRandomValues(new Uint8Array(12)),
      (b) => b.toString(16).padStart(2, '0')).join('');
    const jwe = await host.getEvidence({ document, nonce, key: $('evidence-key').value.trim() });
    const header = JSON.parse(atob(jwe.split('.')[0].replace(/-/g, '+').replace(/_/g, '/')));
    $('evidence-size').textContent = `${jwe.length} characters`;
    $('evidence-header').textContent = JSON.stringify(header, null, 2);
    $('evidence-jwe').value = jwe;
    $('evidence-jwe').hidden = false;
    log(`evidence sealed: ${jwe.length} characters, ${header.alg}`);
  } catch (e) {
    $('evidence-size').textContent = e.message;
    log(`evidence: ${e.message}`, true);
  }
}

async function onCancel() {
  log('cancel key');
  if (!isOpen) return;
  await clearPad();
  setStatus('Cancelled: sign again.');
}

function download(name, blob) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

async function onDownload(kind) {
  try {
    const types = { png: IMAGE_TYPE.PNG, jpeg: IMAGE_TYPE.JPEG, bmp: IMAGE_TYPE.BMP };
    if (kind in types) {
      const b64 = await host.encode(types[kind]);
      if (!b64) throw new Error('no signature to export');
      download(`signature.${kind === 'jpeg' ? 'jpg' : kind}`, base64ToBlob(b64));
    } else if (kind === 'svg') {
      const points = await host.getPointer();
      download('signature.svg', new Blob([inkToSvg(points, { color: $('color').value })], { type: 'image/svg+xml' }));
    } else if (kind === 'ink') {
      const b64 = await host.encode(IMAGE_TYPE.INK);
      if (!b64) throw new Error('no ink to export');
      download('signature.ink.txt', new Blob([b64], { type: 'text/plain' }));
    }
  } catch (e) {
    log(`download ${kind}: ${e.message}`, true);
  }
}

async function refreshInfo() {
  const dl = $('info');
  try {
    const [about, pad, pen, version, info] = await Promise.all([
      host.getAboutInfo(), host.padID(), host.penID(), host.versionID(), host.getDeviceInformation(),
    ]);
    const range = (r) => (r ? `${r.min} – ${r.max}` : '');
    const rows = [
      ['Connected', info.connected === null ? '' : (info.connected ? 'yes' : 'no')],
      ['Vendor', info.vendor || ''], ['Model', info.model || ''],
      ['Pad ID', pad], ['Pen ID', pen], ['Firmware', version],
      ['X range', range(info.xRange)], ['Y range', range(info.yRange)],
      ['Pressure levels', info.pressureLevels ?? ''],
      ['Driver', info.driverVersion ? info.driverVersion.text : ''], ['About', about],
    ];
    dl.replaceChildren(...rows.flatMap(([k, v]) => {
      const dt = document.createElement('dt');
      dt.textContent = k;
      const dd = document.createElement('dd');
      dd.textContent = String(v);
      return [dt, dd];
    }));
  } catch (e) {
    log(`device info: ${e.message}`, true);
  }
}

// ---- virtual signer (vtinkpad's control interface) ------------------------

async function pad(path, body) {
  const res = await fetch(`${padUrl}/pad${path}`, {
    method: body === undefined ? 'GET' : 'POST',
    headers: body === undefined ? {} : { 'Content-Type': 'application/json' },
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  const json = await res.json();
  if (!res.ok || json.ok === false) throw new Error(json.error || `HTTP ${res.status}`);
  return json;
}

function scribblePoints() {
  // a quick loop-de-loop, in fractions of the pad's writing area
  const pts = [];
  for (let i = 0; i <= 120; i++) {
    const t = i / 120;
    const x = 0.12 + 0.76 * t + 0.05 * Math.cos(t * Math.PI * 10);
    const y = 0.5 + 0.18 * Math.sin(t * Math.PI * 10) * (1 - 0.4 * t);
    pts.push([Number(x.toFixed(4)), Number(y.toFixed(4)), Number((0.35 + 0.4 * Math.sin(t * Math.PI)).toFixed(3))]);
  }
  return pts;
}

async function virtual(label, fn) {
  $('v-status').textContent = `${label}…`;
  try {
    const r = await fn();
    $('v-status').textContent = `${label}: done${r && r.points ? ` (${r.points} points)` : ''}`;
  } catch (e) {
    $('v-status').textContent = `${label}: ${e.message}`;
    log(`virtual signer: ${e.message}`, true);
  }
}

async function setupVirtualSigner() {
  if (!padUrl) return;
  let status;
  try {
    status = await pad('');
  } catch {
    return; // no vtinkpad: a real pad is in use
  }
  $('signer-panel').hidden = false;
  for (const name of status.signatures || []) {
    const b = document.createElement('button');
    b.textContent = `Sign as “${name}”`;
    b.dataset.testid = `v-sign-${name}`;
    b.onclick = () => virtual(`signing ${name}`, () => pad('/replay', { name }));
    $('samples').append(b);
  }
  $('v-scribble').onclick = () => virtual('scribble', () => pad('/stroke', { points: scribblePoints() }));
  $('v-confirm').onclick = () => virtual('confirm', () => pad('/confirm', {}));
  $('v-cancel').onclick = () => virtual('cancel', () => pad('/cancel', {}));
  $('v-unplug').onclick = () => virtual('unplug', () => pad('/unplug', {}));
  $('v-plug').onclick = () => virtual('plug', () => pad('/plug', {}));
  if ((status.pads || []).some((p) => p.fingerprint)) {
    $('v-finger').hidden = false;
    $('v-finger').onclick = () => virtual('finger', () => pad('/finger', {}));
  }
  const first = (status.pads || [])[0];
  if (first && first.modelName) $('model').value = first.modelName;
}

// ---- reaching the service ---------------------------------------------------

const PROBLEM_TITLES = {
  WAITING: 'Waiting for your answer on this computer',
  EPERMISSION: 'The browser asks for permission',
  EBLOCKED: 'The browser blocks this site',
  EINSECURE: 'The browser blocks this page, which is not https',
  EORIGIN: 'The signature pad service refused this site',
  ENOTRUNNING: 'The signature pad service is not running',
};
const PERMISSION_WORDS = {
  granted: 'allowed', prompt: 'not decided yet (the browser asks)', denied: 'blocked', 'not-applicable': 'not needed',
};

async function showPermission() {
  const p = await queryPermission(wsUrl);
  $('permission').textContent = `${PERMISSION_WORDS[p.state]}${p.name ? ` (${p.name})` : ''}`;
  $('permission').dataset.state = p.state;
}

// What stands in the way, and what the user can do about it, in plain words.
function showProblem(code) {
  $('conn-help').hidden = false;
  $('conn-help').classList.toggle('waiting', code === 'WAITING');
  $('conn-title').textContent = PROBLEM_TITLES[code] || 'Cannot reach the signature pad service';
  $('conn-advice').textContent = ADVICE[code] || ADVICE.ECONNECT;
  $('conn-code').textContent = code;
  $('connect').hidden = code === 'WAITING';
  $('conn').textContent = code === 'WAITING' ? 'waiting for approval' : 'not connected';
  $('conn').className = 'badge off';
  showPermission().catch(() => {});
}

function connect() {
  host.connect().catch((e) => {
    const code = e.cause && e.cause.code ? e.cause.code : e.code;
    showProblem(code);
    log(e.message, true);
  });
}

// ---- wiring ----------------------------------------------------------------

host.addEventListener('open', (ev) => {
  $('conn').textContent = 'connected';
  $('conn').className = 'badge on';
  $('conn-help').hidden = true;
  showPermission().catch(() => {});
  log(ev.detail.reconnect ? 'reconnected to vtinkhost' : 'connected to vtinkhost');
  // a subscription is per connection: again after every reconnect
  host.subscribePenData().catch((e) => log(`pen stream: ${e.message}`, true));
});
// The pad pulled out and plugged in again: the open session is gone, so the
// page closes it and opens the pad anew, as it was.
host.addEventListener('device', async (ev) => {
  if (!isOpen || !opened) return;
  if (ev.detail.status === 'unplugged') {
    setStatus(`${opened.model} unplugged: plug it in again.`, true);
    log('pad unplugged', true);
    return;
  }
  log('pad plugged in again');
  const { model, w, h } = opened;
  try {
    await host.unInitialDevice();
    if (await host.initialDevice(model, w, h)) {
      showPreview(false);
      await applyPen();
      setStatus(`${model} open again: sign on the pad.`);
    } else {
      setStatus(`Could not open ${model} again.`, true);
    }
  } catch (e) {
    log(`reopen: ${e.message}`, true);
  }
});
host.addEventListener('waiting', () => showProblem('WAITING'));
host.addEventListener('error', (ev) => showProblem(ev.detail.code));
host.addEventListener('reconnect', (ev) => {
  log(`connecting again (attempt ${ev.detail.attempt}, after ${ev.detail.delay} ms: ${ev.detail.code})`);
});
host.addEventListener('close', () => {
  $('conn').textContent = 'disconnected';
  $('conn').className = 'badge off';
  if (isOpen) {
    setOpen(false);
    setStatus('Connection lost. Open again once reconnected.', true);
  }
  log('connection lost, reconnecting…', true);
});
host.addEventListener('confirm', onConfirm);
$('evidence-seal').addEventListener('click', sealEvidence);
host.addEventListener('cancel', onCancel);

$('url').textContent = wsUrl;
$('open').onclick = openPad;
$('close').onclick = closePad;
$('clear').onclick = () => clearPad().catch((e) => log(e.message, true));
$('info-refresh').onclick = refreshInfo;
$('width').oninput = () => { $('width-out').textContent = $('width').value; };
for (const id of ['color', 'width', 'pressure']) $(id).onchange = () => applyPen().catch((e) => log(e.message, true));
for (const id of ['clip', 'clip-x', 'clip-y']) $(id).onchange = () => applyClip().catch((e) => log(e.message, true));
for (const b of document.querySelectorAll('[data-dl]')) b.onclick = () => onDownload(b.dataset.dl);

// A click is a user gesture: the browser may ask for its permission then.
$('connect').onclick = connect;
connect();
setupVirtualSigner();
window.vtdemo = { host, ink }; // for the console and the browser test
