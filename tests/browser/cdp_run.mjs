// SPDX-License-Identifier: MIT
// Drives headless Chromium over its DevTools pipe (JSON messages ended by NUL on fds 3
// and 4, no npm package needed) through the steps of a test, and prints what it saw, a
// line each: "result: <JSON>" for every step, "problem: <text>" for every console error,
// failed load or uncaught exception, and "error: <text>" when a step could not be done.
//
//   node cdp_run.mjs STEPS.json
//
// STEPS.json: {"chromium": "/usr/bin/chromium", "width": 1280, "height": 900,
//              "steps": [{"open": "file:///.../index.html"},
//                        {"eval": "expression, awaited when it is a promise"},
//                        {"click": [x, y]},
//                        {"screenshot": "/path/page.png"}]}
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const plan = JSON.parse(readFileSync(process.argv[2], 'utf8'));
const profile = mkdtempSync(join(tmpdir(), 'kv-chromium-'));
const chromium = spawn(plan.chromium || '/usr/bin/chromium', [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--autoplay-policy=no-user-gesture-required', '--allow-file-access-from-files',
  `--user-data-dir=${profile}`, '--remote-debugging-pipe', 'about:blank',
], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
let chromiumLog = '';
chromium.stderr.on('data', d => { chromiumLog = (chromiumLog + d).slice(-4000); });

const toBrowser = chromium.stdio[3], fromBrowser = chromium.stdio[4];
let nextId = 1, pending = new Map(), waiters = [], buffered = '';
const problems = [];

function send(method, params = {}, sessionId) {
  const id = nextId++;
  toBrowser.write(JSON.stringify({ id, method, params, sessionId }) + '\0');
  return new Promise((resolve, reject) => pending.set(id, { resolve, reject, method }));
}
function waitFor(method, timeoutMs = 20000) {
  return new Promise((resolve, reject) => {
    const w = { method, resolve };
    waiters.push(w);
    setTimeout(() => { waiters = waiters.filter(o => o !== w); reject(new Error(`no ${method} within ${timeoutMs} ms`)); }, timeoutMs);
  });
}
function onEvent(msg) {
  const p = msg.params || {};
  if (msg.method === 'Runtime.consoleAPICalled' && (p.type === 'error' || p.type === 'assert'))
    problems.push('console: ' + p.args.map(a => a.value ?? a.description).join(' '));
  if (msg.method === 'Runtime.exceptionThrown')
    problems.push('exception: ' + (p.exceptionDetails.exception?.description || p.exceptionDetails.text));
  if (msg.method === 'Log.entryAdded' && p.entry.level === 'error')
    problems.push(`log: ${p.entry.text} ${p.entry.url || ''}`.trim());
  for (const w of waiters.filter(o => o.method === msg.method)) { waiters = waiters.filter(o => o !== w); w.resolve(p); }
}
fromBrowser.on('data', chunk => {
  buffered += chunk;
  let end;
  while ((end = buffered.indexOf('\0')) >= 0) {
    const msg = JSON.parse(buffered.slice(0, end));
    buffered = buffered.slice(end + 1);
    if (msg.id && pending.has(msg.id)) {
      const p = pending.get(msg.id);
      pending.delete(msg.id);
      if (msg.error) p.reject(new Error(`${p.method}: ${msg.error.message}`)); else p.resolve(msg.result);
    } else if (msg.method) {
      onEvent(msg);
    }
  }
});

async function main() {
  const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  const s = (method, params) => send(method, params, sessionId);
  await Promise.all([s('Page.enable'), s('Runtime.enable'), s('Log.enable')]);
  await s('Emulation.setDeviceMetricsOverride',
    { width: plan.width || 1280, height: plan.height || 900, deviceScaleFactor: 1, mobile: false });
  const results = [];
  for (const step of plan.steps) {
    if (step.open) {
      const loaded = waitFor('Page.loadEventFired');
      await s('Page.navigate', { url: step.open });
      await loaded;
      results.push(true);
    } else if (step.eval) {
      const r = await s('Runtime.evaluate', { expression: step.eval, awaitPromise: true, returnByValue: true });
      if (r.exceptionDetails) throw new Error(`eval ${step.eval}: ${r.exceptionDetails.exception?.description || r.exceptionDetails.text}`);
      results.push(r.result.value ?? null);
    } else if (step.click) {
      const [x, y] = step.click;
      for (const type of ['mousePressed', 'mouseReleased'])
        await s('Input.dispatchMouseEvent', { type, x, y, button: 'left', clickCount: 1 });
      results.push(true);
    } else if (step.screenshot) {
      const { data } = await s('Page.captureScreenshot', { format: 'png' });
      writeFileSync(step.screenshot, Buffer.from(data, 'base64'));
      results.push(step.screenshot);
    }
  }
  return results;
}

let failed = null;
try {
  for (const r of await main()) process.stdout.write(`result: ${JSON.stringify(r)}\n`);
} catch (e) {
  failed = String(e.message || e);
  process.stdout.write(`error: ${failed}\nchromium said: ${chromiumLog}\n`);
}
for (const p of problems) process.stdout.write(`problem: ${p}\n`);
try { await send('Browser.close'); } catch (e) { /* it is going anyway */ }
setTimeout(() => chromium.kill('SIGKILL'), 2000).unref();
chromium.on('exit', () => { rmSync(profile, { recursive: true, force: true }); process.exit(failed ? 1 : 0); });
