// A WebSocket client that sends the Origin header a browser would (Node's
// own client sends none): requests answered by "Func", pushes kept in order.
import { randomBytes } from 'node:crypto';
import http from 'node:http';

/** A WebSocket client that sends the Origin a browser would (Node's own sends none). */
export function connectAs(wsUrl, origin) {
  const u = new URL(wsUrl);
  return new Promise((resolve, reject) => {
    const headers = {
      Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13',
      'Sec-WebSocket-Key': randomBytes(16).toString('base64'),
    };
    if (origin) headers.Origin = origin;
    const req = http.request({ host: u.hostname, port: u.port, path: '/', headers });
    req.on('error', reject);
    req.on('response', (res) => reject(new Error(`no upgrade: HTTP ${res.statusCode}`)));
    req.on('upgrade', (res, socket, head) => {
      let buf = head;
      let message = [];
      const waiting = [];
      const pushes = [];
      socket.on('data', (d) => {
        buf = Buffer.concat([buf, d]);
        for (;;) {
          if (buf.length < 2) return;
          let len = buf[1] & 0x7f;
          let at = 2;
          if (len === 126) { if (buf.length < 4) return; len = buf.readUInt16BE(2); at = 4; }
          else if (len === 127) { if (buf.length < 10) return; len = Number(buf.readBigUInt64BE(2)); at = 10; }
          if (buf.length < at + len) return;
          const op = buf[0] & 0x0f;
          const fin = buf[0] & 0x80;
          const payload = buf.subarray(at, at + len);
          buf = buf.subarray(at + len);
          if (op === 1 || op === 0) message.push(payload);
          if ((op === 1 || op === 0) && fin) {
            const text = Buffer.concat(message).toString('utf8');
            message = [];
            const reply = JSON.parse(text);
            const i = waiting.findIndex((w) => w.func === reply.Func);
            if (i >= 0) waiting.splice(i, 1)[0].resolve(reply.Result);
            else pushes.push(reply);
          }
        }
      });
      const send = (text) => {
        const data = Buffer.from(text);
        const mask = randomBytes(4);
        const len = data.length;
        const head2 = len < 126 ? Buffer.from([0x81, 0x80 | len])
          : len < 65536 ? Buffer.from([0x81, 0x80 | 126, len >> 8, len & 0xff])
            : Buffer.concat([Buffer.from([0x81, 0x80 | 127]), (() => { const b = Buffer.alloc(8); b.writeBigUInt64BE(BigInt(len)); return b; })()]);
        for (let i = 0; i < len; i++) data[i] ^= mask[i & 3];
        socket.write(Buffer.concat([head2, mask, data]));
      };
      resolve({
        request(func, members = {}, ms = 20000) {
          return new Promise((res2, rej2) => {
            const timer = setTimeout(() => rej2(new Error(`${func}: no reply within ${ms} ms`)), ms);
            waiting.push({ func, resolve: (v) => { clearTimeout(timer); res2(v); } });
            const msg = { Func: func };
            for (const [k, v] of Object.entries(members)) msg[k] = String(v);
            send(JSON.stringify(msg));
          });
        },
        pushes,
        close() { socket.destroy(); },
      });
    });
    req.end();
  });
}

