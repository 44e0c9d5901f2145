// The web kit's npm package: the usage file type-checks (tsc --strict)
// against web/vtinkhost.d.ts; `npm pack` holds the module and its types,
// versioned as the program; installed from the tarball into a scratch
// project, it imports by name from Node, its run-time exports are exactly
// those its types declare, and the usage file type-checks against the
// installed copy. (browser.test.mjs loads the demo page with such a copy.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, readFileSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';

import { SOURCE_DIR, WEB_DIR, installPackedKit } from './harness.mjs';

const TS_DIR = path.join(WEB_DIR, 'node_modules/typescript');
const USAGE = path.join(WEB_DIR, 'tests/usage.ts');
const missing = [];
if (spawnSync('sh', ['-c', 'command -v npm']).status !== 0) missing.push('npm');
if (!existsSync(path.join(TS_DIR, 'package.json'))) missing.push('typescript (npm ci --prefix web)');
if (missing.length) {
  console.log(`skipped: missing ${missing.join(', ')}`);
  process.exit(77);
}
const ts = createRequire(import.meta.url)(TS_DIR);
const programVersion = /project\(vtinkhost VERSION (\S+)/.exec(readFileSync(path.join(SOURCE_DIR, 'CMakeLists.txt'), 'utf8'))[1];


/**
 * The scratch project's usage file compiled as `tsc --strict --noEmit -p`
 * would, in this process: its errors, whether the installed types were read,
 * and what they declare (value exports, the client class's methods and
 * properties).
 */
function compileInstalled(app, dts) {
  const cfg = ts.getParsedCommandLineOfConfigFile(path.join(app, 'tsconfig.json'), { strict: true, noEmit: true }, {
    ...ts.sys, onUnRecoverableConfigFileDiagnostic: (d) => { throw new Error(ts.flattenDiagnosticMessageText(d.messageText, '\n')); },
  });
  const program = ts.createProgram(cfg.fileNames, cfg.options);
  const errors = ts.formatDiagnostics(ts.getPreEmitDiagnostics(program), {
    getCanonicalFileName: (f) => f, getCurrentDirectory: () => app, getNewLine: () => '\n',
  });
  const source = program.getSourceFile(dts);
  if (!source) return { errors, read: false };
  const checker = program.getTypeChecker();
  const exports = checker.getExportsOfModule(checker.getSymbolAtLocation(source));
  const real = (s) => ((s.flags & ts.SymbolFlags.Alias) ? checker.getAliasedSymbol(s) : s);
  const values = exports.filter((s) => real(s).flags & ts.SymbolFlags.Value).map((s) => s.name).sort();
  const members = [...real(exports.find((s) => s.name === 'VtInkHost')).members.values()];
  const names = (flag) => members.filter((m) => m.flags & flag).map((m) => m.name).sort();
  return {
    errors, read: true, values, methods: names(ts.SymbolFlags.Method),
    properties: names(ts.SymbolFlags.Property | ts.SymbolFlags.GetAccessor),
  };
}

test('tsc --strict --noEmit: the usage file against web/vtinkhost.d.ts', () => {
  const r = spawnSync(process.execPath, [path.join(TS_DIR, 'bin/tsc'), '--strict', '--noEmit', '-p', 'tests/tsconfig.json'],
    { cwd: WEB_DIR, encoding: 'utf8' });
  assert.equal(r.status, 0, `${r.stdout}${r.stderr}`);
});

test('npm pack, install into a scratch project, import from Node', () => {
  const kit = installPackedKit();
  assert.deepEqual(kit.files.sort(), ['package.json', 'vtinkhost.d.ts', 'vtinkhost.js']);
  const pkg = JSON.parse(readFileSync(path.join(kit.dir, 'package.json'), 'utf8'));
  assert.equal(pkg.name, 'vtinkhost');
  assert.equal(pkg.version, programVersion, 'the package carries the program\'s version');
  for (const f of ['vtinkhost.js', 'vtinkhost.d.ts']) {
    assert.equal(readFileSync(path.join(kit.dir, f), 'utf8'), readFileSync(path.join(WEB_DIR, f), 'utf8'), `installed ${f}`);
  }

  // By name, from a module of the scratch project, as an integrator imports it.
  writeFileSync(path.join(kit.app, 'main.mjs'), `
    import * as kit from 'vtinkhost';
    import VtInkHost from 'vtinkhost';
    const proto = kit.VtInkHost.prototype;
    const methods = [];
    for (let p = proto; p && p !== Object.prototype; p = Object.getPrototypeOf(p)) {
      for (const name of Object.getOwnPropertyNames(p)) {
        const d = Object.getOwnPropertyDescriptor(p, name);
        if (typeof d.value === 'function' && name !== 'constructor' && !name.startsWith('_')) methods.push(name);
      }
    }
    const host = new VtInkHost('ws://127.0.0.1:1', { timeout: 2000, reconnect: false, WebSocket: globalThis.WebSocket });
    let code = null;
    try { await host.connect(); } catch (e) { code = e instanceof kit.VtInkError ? e.code : String(e); }
    host.close();
    const props = Object.getOwnPropertyNames(host).concat(Object.getOwnPropertyNames(proto)).filter((n) => !n.startsWith('_'));
    console.log(JSON.stringify({
      exports: Object.keys(kit).sort(), isDefault: VtInkHost === kit.VtInkHost, methods, props, code,
      png: kit.toDataUrl('iVBORw0KGgo='),
    }));
  `);
  const flags = process.execArgv.filter((f) => f === '--experimental-websocket');
  const r = spawnSync(process.execPath, [...flags, '--no-warnings', 'main.mjs'], { cwd: kit.app, encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
  const got = JSON.parse(r.stdout);
  assert.equal(got.isDefault, true, 'the default export is VtInkHost');
  assert.equal(got.png, 'data:image/png;base64,iVBORw0KGgo=');
  assert.equal(got.code, 'ECONNECT', 'no service on port 1: the connection fails with ECONNECT');

  // The usage file against the installed copy, resolved through the
  // package's "exports" and "types"; and what those types promise is what
  // the module has, and the reverse.
  const usage = readFileSync(USAGE, 'utf8').replaceAll("'../vtinkhost.js'", "'vtinkhost'");
  assert.ok(!usage.includes('../vtinkhost'), 'the usage file imports the kit by one relative name only');
  writeFileSync(path.join(kit.app, 'usage.ts'), usage);
  writeFileSync(path.join(kit.app, 'tsconfig.json'), readFileSync(path.join(WEB_DIR, 'tests/tsconfig.json')));
  const want = compileInstalled(kit.app, path.join(kit.dir, 'vtinkhost.d.ts'));
  assert.equal(want.errors, '', 'the usage file against the installed package');
  assert.ok(want.read, 'the compiler did not read the installed vtinkhost.d.ts');
  assert.deepEqual(got.exports, want.values, 'run-time exports against the declared ones');
  for (const m of want.methods) assert.ok(got.methods.includes(m), `declared method ${m} missing at run time`);
  for (const m of got.methods) assert.ok(want.methods.includes(m) || m === 'dispatchEvent', `method ${m} not declared`);
  for (const p of want.properties) assert.ok(got.props.includes(p), `declared property ${p} missing at run time`);
});
