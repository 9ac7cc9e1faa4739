// What the browser tests share: consoles started on throw-away installations, the update
// server as a peer, and Debian's chromium driven through playwright-core, kept off the
// network (every request that is not to the console is aborted).
import { chromium } from 'playwright-core';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';

export const buildDir =
  process.env.VELDANA_BUILD_DIR || path.resolve(import.meta.dirname, '../../build');

export function program(name) {
  for (const dir of ['shell', 'tools']) {
    const p = path.join(buildDir, dir, name);
    if (fs.existsSync(p)) return p;
  }
  throw new Error(`${name} is not built in ${buildDir}`);
}

// A fresh installation: program directory, Windows directory with the socket library, and
// the store, in a temporary folder; the lists count as fetched today unless told otherwise.
export function makeInstallation({ listsFetchedToday = true } = {}) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'veldana-browser-'));
  const programDir = path.join(root, 'prog');
  const windowsDir = path.join(programDir, 'windows');
  fs.mkdirSync(path.join(windowsDir, 'SYSTEM'), { recursive: true });
  fs.copyFileSync(path.join(buildDir, 'resolve', 'WSOCK32.DLL'),
                  path.join(windowsDir, 'SYSTEM', 'WSOCK32.DLL'));
  const env = {
    ...process.env,
    VELDANA_PROGRAM_DIR: programDir,
    VELDANA_WINDOWS_DIR: windowsDir,
    VELDANA_REGISTRY: path.join(windowsDir, 'registry.db'),
  };
  const inst = { root, programDir, windowsDir, env };
  makeList(inst, 'VELDA.NOT', 'kind restricted\naddress 192.0.2.1 0x0001\n');
  makeList(inst, 'VELDA.YES', 'kind approved\naddress 198.51.100.1 0x0200\n');
  if (listsFetchedToday) setDownloadDays(inst, new Date());
  // Work time nearly all day, every day: what Headquarters shows and stores depends on the
  // period in force, and the tests must not depend on the hour they run at.
  for (const [name, value] of [['DaysOfOperation', '1111111'], ['AM_Start', '0'], ['AM_End', '47'],
                               ['PM_Start', '48'], ['PM_End', '92']])
    reg(inst, 'add', policyKey, '/v', name, '/d', value);
  return inst;
}

export function reg(inst, ...args) {
  const r = spawnSync(program('veldana-reg'), args, { env: inst.env, encoding: 'utf8' });
  if (r.status !== 0 && args[0] !== 'query') throw new Error(`veldana-reg ${args.join(' ')}: ${r.stderr}`);
  return r;
}

export const policyKey = 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3Velda\\Services';
export const consoleKey = 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3Velda\\Veldana';

// A value of the store as the registry tool prints it; '' when absent.
export function setting(inst, key, name) {
  const r = reg(inst, 'query', key, '/v', name);
  const m = r.stdout.match(new RegExp(`\\s${name}\\s+REG_\\w+\\s+(.*)`));
  return m ? m[1].trim() : '';
}

export function makeList(inst, name, source, dir = inst.programDir) {
  const r = spawnSync(program('veldana-list'), ['make', '-', path.join(dir, name)],
                      { input: source, encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`veldana-list make ${name}: ${r.stderr}`);
}

function setDownloadDays(inst, when) {
  // QTXPNDLD and QTXPYDLD hold the day of the last fetch; the console's own day count.
  const days = consoleDayNumber(when);
  reg(inst, 'add', consoleKey, '/v', 'QTXPNDLD', '/d', String(days));
  reg(inst, 'add', consoleKey, '/v', 'QTXPYDLD', '/d', String(days));
}

// The download schedule's day number (update/download_schedule.cpp, DayNumberOf): days
// since 1 January 1995, the months counted without a leap day, as the console counts them.
export function consoleDayNumber(when) {
  const leap = (y) => (y % 4 === 0 && y % 100 !== 0) || y % 400 === 0;
  const monthDays = [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31];
  let days = 0;
  for (let y = 1995; y < when.getFullYear(); ++y) days += leap(y) ? 366 : 365;
  for (let m = 0; m < when.getMonth(); ++m) days += monthDays[m];
  return days + when.getDate();
}

// Starts the console and waits for the URL it writes for the administrator.
export async function startConsole(inst) {
  const out = fs.openSync(path.join(inst.root, 'console.out'), 'w');
  const proc = spawn(program('veldana'), [], { env: inst.env, stdio: ['ignore', out, out] });
  const urlFile = path.join(inst.programDir, 'veldana.url');
  for (let i = 0; i < 400; ++i) {
    if (fs.existsSync(urlFile)) {
      const url = fs.readFileSync(urlFile, 'utf8').trim();
      if (url) return { proc, url, output: () => fs.readFileSync(path.join(inst.root, 'console.out'), 'utf8') };
    }
    if (proc.exitCode !== null) break;
    await sleep(25);
  }
  proc.kill('SIGKILL');
  throw new Error('the console wrote no URL:\n' + fs.readFileSync(path.join(inst.root, 'console.out'), 'utf8'));
}

// Ends the console with "veldana /close" (or kills it when that fails), and the folder.
export async function stopConsole(inst, c) {
  if (c.proc.exitCode === null) {
    spawnSync(program('veldana'), ['/close'], { env: inst.env, timeout: 20000 });
    for (let i = 0; i < 200 && c.proc.exitCode === null; ++i) await sleep(25);
    if (c.proc.exitCode === null) c.proc.kill('SIGKILL');
  }
}

export function removeInstallation(inst) {
  fs.rmSync(inst.root, { recursive: true, force: true });
}

// Debian's chromium, headless; a page that may reach the console's origin only.
export async function openBrowser() {
  return chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: ['--no-sandbox'] });
}
export async function openConsolePage(browser, url) {
  const origin = new URL(url).origin;
  const context = await browser.newContext({ viewport: { width: 1100, height: 800 } });
  await context.route('**/*', (route) =>
    route.request().url().startsWith(origin) ? route.continue() : route.abort());
  const page = await context.newPage();
  await page.goto(url);
  return page;
}

// veldana-update-server on a free loopback port serving the four lists made here.
// `addresses` more entries make the restricted list longer (6 bytes each) and `rate` sends
// each file at that many bytes per second, so that a download takes a while to watch.
export async function startUpdateServer(inst, { addresses = 0, rate = 0 } = {}) {
  const dir = fs.mkdtempSync(path.join(inst.root, 'served-'));
  let restricted = 'kind restricted\naddress 192.0.2.10 0x0001\n';
  for (let i = 0; i < addresses; ++i)
    restricted += `address 10.${(i >> 16) & 255}.${(i >> 8) & 255}.${i & 255} 0x0001\n`;
  makeList(inst, 'VELDA.NOT', restricted, dir);
  makeList(inst, 'VELDA.YES', 'kind approved\naddress 198.51.100.1 0x0200\n', dir);
  const raw = (name, value) => {
    const b = Buffer.alloc(4 + 1 + name.length + 4);
    b.writeUInt32LE(1, 0);
    b.writeUInt8(name.length, 4);
    b.write(name, 5, 'latin1');
    b.writeUInt32LE(value, 5 + name.length);
    return b;
  };
  fs.writeFileSync(path.join(dir, 'DNSRAW.YES'), raw('good.example', 0x01646433));
  fs.writeFileSync(path.join(dir, 'DNSRAW.NOT'), raw('bad.example', 0x0909090a));
  const portFile = path.join(dir, 'port');
  const args = ['--listen', '127.0.0.1:0', '--port-file', portFile, '--log', path.join(dir, 'requests.log'),
                '--rate', String(rate)];
  for (const [n, f, name] of [['43', 'VELDA.NOT', 'VELDANOT.RCV'], ['16', 'VELDA.YES', 'VELDAYES.RCV'],
                              ['22', 'DNSRAW.YES', 'RAWYES.RCV'], ['21', 'DNSRAW.NOT', 'RAWNOT.RCV']])
    args.push('--file', `${n}=${path.join(dir, f)}`, '--name', `${n}=${name}`);
  const proc = spawn(program('veldana-update-server'), args, { stdio: 'ignore' });
  for (let i = 0; i < 400; ++i) {
    const port = fs.existsSync(portFile) ? Number(fs.readFileSync(portFile, 'utf8')) : 0;
    if (port > 0) {
      fs.writeFileSync(path.join(inst.programDir, 'STRINGS.INI'), `[strings]\n13=127.0.0.1:${port}\n`);
      return { proc, port, dir, log: () => fs.readFileSync(path.join(dir, 'requests.log'), 'utf8') };
    }
    await sleep(25);
  }
  proc.kill();
  throw new Error('veldana-update-server did not start');
}

// What the transfer window shows now, read from the page: the file and percentage of its
// text, and the share of its bar (control 7219) painted yellow in the window's picture;
// null while no transfer window is open.
export function progressShown(page) {
  return page.evaluate(() => {
    const root = [...document.querySelectorAll('.window')]
      .find((w) => w._win?.controls.some((k) => k.id === 7219 && k.visible));
    if (!root) return null;
    const win = root._win;
    const text = win.controls.find((k) => k.id === 100)?.text ?? '';
    const m = /Downloading (\S+) file\s+\(\s*(\d+)% of/.exec(text);
    const bar = win.controls.find((k) => k.id === 7219);
    const img = root.querySelector('.client > img.image');
    let fill = null;
    if (img?.complete && img.naturalWidth > 0) {
      const canvas = document.createElement('canvas');
      canvas.width = img.naturalWidth;
      canvas.height = img.naturalHeight;
      const g = canvas.getContext('2d');
      g.drawImage(img, 0, 0);
      const inner = bar.w - 4;
      const row = g.getImageData(bar.x + 2, bar.y + Math.floor(bar.h / 2), inner, 1).data;
      let yellow = 0;
      for (let i = 0; i < row.length; i += 4)
        if (row[i] > 200 && row[i + 1] > 200 && row[i + 2] < 100) ++yellow;
      fill = yellow / inner;
    }
    return { file: m ? m[1] : null, percent: m ? Number(m[2]) : null, fill };
  });
}
