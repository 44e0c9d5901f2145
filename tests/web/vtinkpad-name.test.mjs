// vtinkpad runs the program under its real file name: the program passes its
// single-instance check, and the command line shows only vtinkpad.
import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';

import { exitOf, missingTools, startStack, stopAll } from './harness.mjs';

function skip(why) {
  console.log(`skipped: ${why}`);
  process.exit(77);
}

const missing = missingTools();
if (missing.length)
  skip(`missing ${missing.join(', ')}`);
if (spawnSync('pgrep', ['--version']).error)
  skip('missing pgrep');

// In a PID namespace of its own the single-instance check sees only
// vtinkpad and the program, whatever else runs on the machine. Without one,
// another command line holding "vtinkhost" would make the program give way.
const NS = ['unshare', '--pid', '--fork', '--mount-proc', '--kill-child=SIGTERM'];
const haveNamespace = spawnSync(NS[0], [...NS.slice(1), 'true']).status === 0;
if (!haveNamespace && spawnSync('pgrep', ['-f', 'vtinkhost'], { encoding: 'utf8' }).stdout.trim())
  skip('no PID namespace, and other command lines hold "vtinkhost"');

function cmdline(pid) {
  return readFileSync(`/proc/${pid}/cmdline`, 'utf8').split('\0').filter(Boolean);
}

test('vtinkhost starts under vtinkpad by its own file name', async () => {
  const s = await startStack({ realName: true, wrap: haveNamespace ? NS : [] });
  try {
    // it listens: it passed its single-instance check
    const padPid = haveNamespace ? Number(spawnSync('pgrep', ['-P', String(s.proc.pid)], { encoding: 'utf8' }).stdout) : s.proc.pid;
    assert.deepEqual(cmdline(padPid), ['vtinkpad']);
    const programPid = Number(spawnSync('pgrep', ['-P', String(padPid)], { encoding: 'utf8' }).stdout);
    assert.ok(cmdline(programPid)[0].endsWith('/vtinkhost'), cmdline(programPid).join(' '));
    process.kill(padPid, 'SIGTERM');
    // vtinkhost stops cleanly on SIGTERM: vtinkpad passes its 0 on
    assert.equal(await exitOf(s.proc, 15000), 0, s.output());
  } finally {
    await s.stop();
  }
});

after(() => stopAll());
