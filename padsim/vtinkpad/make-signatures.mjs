// Writes the sample signatures of vtinkpad (signatures/*.json) from
// hand-placed pen paths: each stroke is a Catmull-Rom curve through the
// points a hand would pass, sampled at 200 reports a second with the speed,
// pressure and tremor of handwriting. Run: node make-signatures.mjs
import { writeFileSync } from 'node:fs';

// Paths on a 0..100 x 0..70 sheet, y downwards.
const SAMPLES = {
  'anna-berg': {
    description: 'A. Berg: capital A, "nna", "Berg" in one cursive run, underline',
    strokes: [
      [[8, 52], [12, 30], [16, 10], [20, 30], [25, 52]],
      [[10, 36], [16, 34], [23, 33]],
      [[27, 50], [28, 40], [31, 36], [34, 42], [34, 50], [36, 40], [39, 36], [42, 42], [42, 50],
        [44, 40], [47, 36], [50, 42], [50, 50], [54, 41], [51, 37], [47, 43], [50, 50], [54, 45],
        [55, 38], [56, 49], [60, 47]],
      [[64, 12], [64, 30], [64, 51]],
      [[63, 13], [72, 11], [77, 17], [72, 28], [65, 31], [75, 33], [79, 42], [72, 50], [63, 51],
        [70, 48], [80, 45], [85, 40], [82, 36], [79, 43], [84, 50], [88, 43], [89, 38], [91, 50],
        [93, 41], [96, 37], [99, 43], [96, 50], [93, 45], [97, 39], [99, 45], [99, 57], [95, 65],
        [91, 60], [100, 52]],
      [[5, 61], [30, 59], [60, 58], [90, 57], [102, 54]],
    ],
  },
  'ken-ito': {
    description: 'Ken Ito: "K", "en", "Ito" with a looped flourish',
    strokes: [
      [[10, 8], [10, 30], [9, 52]],
      [[24, 10], [17, 22], [11, 31], [18, 38], [24, 46], [29, 52]],
      [[30, 45], [36, 42], [38, 37], [34, 35], [30, 41], [33, 50], [39, 49], [42, 43], [43, 50],
        [45, 40], [49, 37], [52, 42], [52, 50], [55, 48]],
      [[62, 9], [62, 30], [61, 52]],
      [[69, 14], [69, 32], [70, 51], [74, 50]],
      [[64, 27], [70, 26], [77, 25]],
      [[80, 42], [84, 36], [89, 40], [87, 50], [81, 48], [80, 42], [86, 39], [94, 36], [98, 30],
        [95, 24], [90, 30], [93, 44], [90, 60], [70, 64], [40, 63], [20, 60]],
    ],
  },
};

// Deterministic jitter, so the files do not change from run to run.
let seed = 7;
function rand() {
  seed = (seed * 1103515245 + 12345) % 2147483648;
  return seed / 2147483648;
}

function catmullRom(p0, p1, p2, p3, t) {
  const t2 = t * t;
  const t3 = t2 * t;
  return [0, 1].map((i) => 0.5 * ((2 * p1[i]) + (-p0[i] + p2[i]) * t
    + (2 * p0[i] - 5 * p1[i] + 4 * p2[i] - p3[i]) * t2 + (-p0[i] + 3 * p1[i] - 3 * p2[i] + p3[i]) * t3));
}

function sampleStroke(path) {
  const pts = [];
  const ext = [path[0], ...path, path[path.length - 1]];
  for (let i = 1; i < ext.length - 2; i++) {
    const [a, b] = [ext[i], ext[i + 1]];
    const dist = Math.hypot(b[0] - a[0], b[1] - a[1]);
    // about 1.1 sheet units per report: a brisk but legible hand
    const n = Math.max(2, Math.round(dist / 1.1));
    for (let k = 0; k < n; k++) pts.push(catmullRom(ext[i - 1], a, b, ext[i + 2], k / n));
  }
  pts.push(path[path.length - 1]);
  return pts;
}

const round = (v, d) => Number(v.toFixed(d));

for (const [name, sample] of Object.entries(SAMPLES)) {
  let t = 0;
  const strokes = sample.strokes.map((path) => {
    const pts = sampleStroke(path);
    const out = pts.map(([x, y], i) => {
      const u = i / Math.max(1, pts.length - 1);
      // pressure builds up after touch-down and fades before lift-off
      const envelope = Math.min(1, u * 6, (1 - u) * 5 + 0.25);
      const p = 0.18 + 0.5 * envelope + 0.06 * (rand() - 0.5);
      const point = [
        round(0.05 + (x + 0.25 * (rand() - 0.5)) * 0.009, 4),
        round(0.08 + (y + 0.25 * (rand() - 0.5)) * 0.012, 4),
        round(Math.min(0.95, Math.max(0.05, p)), 3),
        Math.round(t),
      ];
      t += 5;
      return point;
    });
    t += 140 + 120 * rand(); // pen in the air to the next stroke
    return out;
  });
  const doc = {
    name,
    description: sample.description,
    units: 'unit',
    note: 'x, y: fractions of the writing area; p: fraction of the pressure range; t: ms since the first point',
    strokes,
  };
  const text = `{\n  "name": ${JSON.stringify(name)},\n  "description": ${JSON.stringify(doc.description)},\n`
    + `  "units": "unit",\n  "note": ${JSON.stringify(doc.note)},\n  "strokes": [\n`
    + strokes.map((s) => `    [${s.map((p) => JSON.stringify(p)).join(', ')}]`).join(',\n')
    + '\n  ]\n}\n';
  writeFileSync(new URL(`signatures/${name}.json`, import.meta.url), text);
  console.log(`${name}: ${strokes.length} strokes, ${strokes.reduce((n, s) => n + s.length, 0)} points`);
}
