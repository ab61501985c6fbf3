// End-to-end tests of the web interface in headless Chromium. By default against a stage
// of our own (web-stage: Halvorn with seeded tables, a stand-in task receiver, ponmc-web);
// with PONMC_WEB_URL (and PONMC_ROOT of the sandbox) against the running sandbox, where
// the task is seen by the simulator and the name through the SNMP agent
// (PONMC_SNMP_ONU_NAME: a command printing the ONU name column, {slot} {pon} {index}
// replaced). Run through run.sh, which sets the paths below.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { createConnection } from 'node:net';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';

const { chromium } = createRequire(import.meta.url)(process.env.PLAYWRIGHT_CORE);
const shots = process.env.SCREENSHOTS;
const sandbox = !!process.env.PONMC_WEB_URL;
let base;
let stage;
let browser;
let context;
let page;
let profile;

// ---- the stage: web-stage answers one command per line (see web_stage.cpp) ----
class Stage {
  constructor(binary) {
    this.proc = spawn(binary, ['--onus-per-port', '4', '--sample-seconds', '2'], { stdio: ['pipe', 'pipe', 'inherit'] });
    this.lines = [];
    this.waiters = [];
    createInterface({ input: this.proc.stdout }).on('line', (l) => {
      const w = this.waiters.shift();
      if (w) w(l); else this.lines.push(l);
    });
  }
  line(ms = 60000) {
    if (this.lines.length) return Promise.resolve(this.lines.shift());
    return new Promise((resolve, reject) => {
      const t = setTimeout(() => reject(new Error('web-stage did not answer')), ms);
      this.waiters.push((l) => { clearTimeout(t); resolve(l); });
    });
  }
  async command(text) {
    this.proc.stdin.write(text + '\n');
    return this.line();
  }
  async tasks() {
    this.proc.stdin.write('tasks\n');
    const out = [];
    for (let l = await this.line(); l !== 'END'; l = await this.line()) out.push(JSON.parse(l));
    return out;
  }
  stop() { this.proc.stdin.end(); }
}

// ---- sandbox helpers ----
function simulator(command) {
  return new Promise((resolve, reject) => {
    const sock = createConnection(join(process.env.PONMC_ROOT, 'olt-sim.ctl'));
    let data = '';
    sock.on('data', (d) => { data += d; if (data.includes('\n')) { sock.end(); resolve(data.trim()); } });
    sock.on('error', reject);
    sock.write(command + '\n');
  });
}

async function until(fn, ms = 15000, every = 250) {
  const end = Date.now() + ms;
  for (;;) {
    const v = await fn();
    if (v) return v;
    if (Date.now() > end) return v;
    await new Promise((r) => setTimeout(r, every));
  }
}

async function shot(name) { await page.screenshot({ path: join(shots, name + '.png'), fullPage: true }); }

async function login(user = 'mzpw', password = 'mzpw') {
  await page.fill('#user', user);
  await page.fill('#password', password);
  await page.click('#login-submit');
}

before(async () => {
  if (sandbox) {
    base = process.env.PONMC_WEB_URL.replace(/\/?$/, '/');
  } else {
    stage = new Stage(process.env.WEB_STAGE);
    const ready = await stage.line(120000);
    assert.match(ready, /^READY /);
    base = ready.split(' ')[1];
  }
  profile = mkdtempSync(join(tmpdir(), 'ponmc-chromium-'));
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM,
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1366, height: 860 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  context = browser;
  page = context.pages()[0] || await context.newPage();
  page.setDefaultTimeout(15000);
});

after(async () => {
  if (browser) await browser.close();
  if (stage) stage.stop();
  if (profile) rmSync(profile, { recursive: true, force: true });
});

test('a page without a session is redirected to the login', async () => {
  await page.goto(base + 'onus');
  assert.equal(new URL(page.url()).pathname, '/login');
  assert.equal(new URL(page.url()).searchParams.get('next'), '/onus');
  await shot('login');
});

test('a wrong password is refused', async () => {
  await login('mzpw', 'not-the-password');
  await page.waitForSelector('#login-error:not([hidden])');
  assert.match(await page.textContent('#login-error'), /Wrong user name or password/);
  assert.equal(new URL(page.url()).pathname, '/login');
});

test('log in and see the chassis with 8 slots online', async () => {
  await login();
  await page.waitForURL((u) => u.pathname === '/onus');
  await page.goto(base);
  await page.waitForSelector('[data-chassis]');
  await until(async () => (await page.textContent('[data-slots-online]')).trim() === '8 / 8');
  assert.equal((await page.textContent('[data-slots-online]')).trim(), '8 / 8');
  assert.equal(await page.locator('.slot.up').count(), 8);
  assert.equal(await page.locator('[data-port]').count(), 16);
  await shot('chassis');
  await page.setViewportSize({ width: 390, height: 844 });
  await shot('chassis-phone');
  await page.setViewportSize({ width: 1366, height: 860 });
});

// The ONU of row 3 on the stage; in the sandbox the first ONU of the table.
async function firstOnu() {
  const rows = await page.evaluate(() => fetch('/api/onutable').then((r) => r.json()));
  return rows.find((r) => r.id === '3') || rows[0];
}

test('rename an ONU: the name shows as text in the table and through SNMP', async () => {
  const onu = await firstOnu();
  const name = `<img src=x onerror="window.pwned=1">Flat 12 & co`;
  await page.goto(base + 'onus/' + onu.id);
  await page.fill('input[name=qvCfgONUName]', name);
  await page.click('form button[type=submit]');
  await page.waitForSelector('.notice.ok');
  await page.goto(base + 'onus?q=Flat%2012');
  const cell = page.locator(`[data-onu="${onu.id}"] [data-name]`);
  await cell.waitFor();
  assert.equal(await cell.textContent(), name);
  assert.equal(await page.locator('[data-onu-table] img').count(), 0);
  assert.equal(await page.evaluate(() => window.pwned), undefined);
  await shot('onus-search');
  let seen;
  if (sandbox && process.env.PONMC_SNMP_ONU_NAME) {
    const cmd = process.env.PONMC_SNMP_ONU_NAME.replace('{slot}', onu.qvCfgONUSlotIndex)
      .replace('{pon}', onu.qvCfgONUPonIndex).replace('{index}', onu.qvCfgONUIndex);
    // The agent caches the ONU table for up to two minutes.
    seen = await until(() => execFileSync('sh', ['-c', cmd]).toString().includes('Flat 12'), 150000, 5000);
  } else if (!sandbox) {
    seen = (await stage.command(`snmp /onutable/${onu.id}`)).includes('Flat 12 \\u0026 co') ||
           (await stage.command(`snmp /onutable/${onu.id}`)).includes('Flat 12 & co');
  } else {
    seen = true;  // no SNMP command given for the sandbox
  }
  assert.ok(seen, 'the new name is served on the SNMP side');
});

test('disable an ONU: the task reaches the line card', async () => {
  const onu = await firstOnu();
  await page.goto(base + 'onus/' + onu.id);
  await page.uncheck('input[name=qvCfgONUEnabled]');
  await page.click('form button[type=submit]');
  await page.waitForSelector('.notice.ok');
  await page.waitForSelector('text=traffic disabled');
  await shot('onu');
  const mac = onu.qvCfgONUPhysicalID;
  const reached = sandbox
    ? await until(async () => (await simulator(`onus ${onu.qvCfgONUSlotIndex}`)).includes(`${mac}/${onu.qvCfgONUPonIndex}/disabled`), 20000)
    : await until(async () => (await stage.tasks()).some((t) => t.uri === '/slot/onu/disable' && t.data.mac_address === mac
        && t.data.slot_id === onu.qvCfgONUSlotIndex), 10000);
  assert.ok(reached, 'the disable task reached the line card');
});

test('change the time zone and see the alarm times shift', async () => {
  if (sandbox) {
    // The simulator raises an alarm on command (OLT port 0 of slot 1, Report Timeout).
    const alarms = await page.evaluate(() => fetch('/api/oltalarmtable').then((r) => r.json()));
    if (!alarms.length) {
      await simulator('alarm 1 5 0 23');
      await until(async () => (await page.evaluate(() => fetch('/api/oltalarmtable').then((r) => r.json()))).length > 0, 20000);
    }
  }
  await page.goto(base + 'alarms');
  const first = page.locator('[data-alarm-table] [data-datetime]').first();
  await first.waitFor();
  const before = await first.textContent();
  await page.goto(base + 'system');
  const zone = page.locator('select[data-timezone]');
  const old = parseInt(await zone.inputValue(), 10);
  const next = old === 2 ? 4 : 2;
  await zone.selectOption(String(next));
  await page.click('[data-save-settings]');
  await page.waitForSelector('[data-settings] .notice.ok');
  await shot('system');
  await page.goto(base + 'alarms');
  const hour = (t) => parseInt(t.split(' ')[1], 10);
  const shifted = await until(async () => {
    await page.reload();
    const now = await page.locator('[data-alarm-table] [data-datetime]').first().textContent();
    return (hour(before) + next - old + 24) % 24 === hour(now);
  }, 15000, 1000);
  assert.ok(shifted, `alarm time ${before} shifted by ${next - old} h`);
  await shot('alarms');
});

test('download a backup', async () => {
  await page.goto(base + 'system');
  const [download] = await Promise.all([page.waitForEvent('download', { timeout: 30000 }), page.click('[data-backup]')]);
  const file = await download.path();
  const bytes = readFileSync(file);
  assert.ok(bytes.length >= 1024, 'the archive has content');
  assert.equal(bytes.subarray(257, 262).toString(), 'ustar');
  assert.match(download.suggestedFilename(), /^ponmc-backup-\d{8}-\d{6}\.tar$/);
});

test('the OLT and ONU pages plot the optical history', async () => {
  await page.goto(base + 'olts');
  await page.waitForSelector('[data-olt-table] tbody tr');
  await shot('olts');
  await page.goto(base + 'olts/1');
  await until(async () => (await page.locator('.uplot').count()) > 0, 20000, 1000) || await page.reload();
  await page.waitForSelector('.uplot', { timeout: 20000 });
  await shot('olt');
  // An online ONU's page: its own charts, from its own history.
  const onu = await firstOnu();
  await page.goto(base + 'onus/' + onu.id);
  await until(async () => (await page.locator('.uplot').count()) > 0, 20000, 1000) || await page.reload();
  await page.waitForSelector('.uplot', { timeout: 20000 });
  await shot('onu-optics');
});

test('a cross-site POST is refused', async () => {
  const before = sandbox ? 0 : (await stage.tasks()).filter((t) => t.uri === '/slot/reset').length;
  // A page of another site, with the operator signed in here in the same browser.
  await context.route('http://evil.test/**', (route) => route.fulfill({
    contentType: 'text/html',
    body: `<form method="POST" action="${base}api/slot/reset" enctype="text/plain">
      <input name='{"slot_id":"1","x":"' value='"}'></form><script>document.forms[0].submit()</script>`,
  }));
  const answer = page.waitForResponse((r) => r.url() === base + 'api/slot/reset');
  await page.goto('http://evil.test/');
  const res = await answer;
  assert.ok([401, 403].includes(res.status()), `refused with ${res.status()}`);
  if (!sandbox) {
    await new Promise((r) => setTimeout(r, 500));
    assert.equal((await stage.tasks()).filter((t) => t.uri === '/slot/reset').length, before);
  }
  await context.unroute('http://evil.test/**');
});

// In the sandbox Halvorn is frozen (SIGSTOP) rather than stopped: its supervisor would start a
// stopped one again at once.
function halvorn(signal) {
  process.kill(parseInt(readFileSync(join(process.env.PONMC_ROOT, 'run', 'halvorn.pid'), 'utf8'), 10), signal);
}

test('the pages say when the database is unreachable, then recover', async () => {
  await page.goto(base);
  await page.waitForSelector('[data-chassis]');
  if (sandbox) halvorn('SIGSTOP'); else await stage.command('halvorn-stop');
  try {
    await page.waitForSelector('[data-unreachable]', { timeout: 30000 });
    await shot('unreachable');
  } finally {
    if (sandbox) halvorn('SIGCONT'); else await stage.command('halvorn-start');
  }
  await page.waitForSelector('[data-unreachable]', { state: 'detached', timeout: 30000 });
});

test('log out ends the session', async () => {
  await page.goto(base);
  await page.click('[data-logout]');
  await page.waitForURL((u) => u.pathname === '/login');
  await page.goto(base + 'system');
  assert.equal(new URL(page.url()).pathname, '/login');
  // A crafted link cannot send the operator to another site after the login.
  await page.goto(base + 'login?next=//evil.test/x');
  await login();
  await page.waitForURL((u) => u.pathname === '/');
  assert.equal(new URL(page.url()).host, new URL(base).host);
});
