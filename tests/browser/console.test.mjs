// The console in Debian's chromium, clicked through as an administrator would: each test
// starts a console on a throw-away installation, opens the URL it prints, and checks what
// the page shows and what the console stored.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import * as h from './harness.mjs';

let browser;
before(async () => { browser = await h.openBrowser(); });
after(async () => { await browser?.close(); });

// Runs `fn` on a console of a fresh installation; `prepare` readies the installation first.
async function withConsole(fn, { prepare } = {}) {
  const inst = h.makeInstallation();
  const prepared = prepare ? await prepare(inst) : undefined;
  const c = await h.startConsole(inst);
  const page = await h.openConsolePage(browser, c.url);
  try {
    await fn({ inst, c, page, prepared });
  } finally {
    await page.context().close();
    await h.stopConsole(inst, c);
    prepared?.proc?.kill();
    h.removeInstallation(inst);
  }
}

// Waits until `check` returns something true.
async function until(check, what, ms = 10000) {
  const deadline = Date.now() + ms;
  for (;;) {
    const v = await check();
    if (v) return v;
    if (Date.now() > deadline) throw new Error(`waited ${ms} ms for ${what}`);
    await sleep(25);
  }
}

const windowTitled = (page, title) =>
  page.locator('.window', { has: page.locator('.caption .title', { hasText: title }) });
const control = (win, id) => win.locator(`.ctl[data-id="${id}"]`);
const kHeadquarters = 'Veldana - Proxy Headquarters';

async function chooseFromSystemMenu(page, command) {
  await page.locator('.minimized').first().click();
  await page.locator(`.menu .item[data-command="${command}"]`).click();
}

async function openHeadquarters(page) {
  await chooseFromSystemMenu(page, 0xF120);  // "Headquarters", the restore command
  const hq = windowTitled(page, kHeadquarters);
  await hq.waitFor();
  return hq;
}

async function answer(page, buttonText) {
  const box = page.locator('.window[data-kind="messagebox"]').last();
  await box.waitFor();
  const text = await box.innerText();
  await box.locator('.ctl', { hasText: buttonText }).click();
  return text;
}

test('the main window is a bar with its title, and its menu has every command', () =>
  withConsole(async ({ page }) => {
    const bar = page.locator('.minimized').first();
    await bar.waitFor();
    assert.match(await bar.innerText(), /Veldana - Proxy/);
    await bar.click();
    const items = await page.locator('.menu .item').allInnerTexts();
    for (const text of ['Headquarters', 'Automatic Download', 'Update Lists', 'Proxy Server Setup',
                        'Uninstall Veldana - Proxy', 'Help', 'About'])
      assert.ok(items.some((i) => i.replace(/\s+/g, ' ').includes(text)), `${text} in ${items}`);
    assert.equal(await page.locator('.menu .item.checked[data-command="4011"]').count(), 1,
                 'automatic download is on');
  }));

test('a category changed in Headquarters and saved reaches the store', () =>
  withConsole(async ({ inst, page }) => {
    const hq = await openHeadquarters(page);
    const box = control(hq, 10001);
    await until(async () => (await box.getAttribute('class')).includes('checked'), 'box 1 checked');
    await box.click();
    await until(async () => !(await box.getAttribute('class')).includes('checked'), 'box 1 cleared');
    await control(hq, 1201).click();  // Save
    // Save tells the privacy-profile library, which this installation does not have.
    assert.match(await answer(page, 'OK'), /VDPIPUI\.DLL Loading error/);
    await until(() => h.setting(inst, h.policyKey, 'NormalContent') === '16382', 'the mask stored');
    assert.equal(h.setting(inst, h.policyKey, 'VELDADATA_Changed'), '1');
    // Esc once the message is gone and the dialog takes input again.
    await until(async () => !(await hq.getAttribute('class')).includes('disabled'), 'the dialog usable');
    await page.keyboard.press('Escape');
    await windowTitled(page, kHeadquarters).waitFor({ state: 'detached' });
  }));

test('switching the period with a change pending asks; No keeps the edit', () =>
  withConsole(async ({ inst, page }) => {
    const hq = await openHeadquarters(page);
    await control(hq, 531).click();  // Full
    await control(hq, 1262).click();  // Leisure Time
    assert.match(await answer(page, 'No'), /Do you wish to abandon these changes\?/);
    await until(async () => (await control(hq, 531).getAttribute('class')).includes('checked'),
                'the edit kept');
    await control(hq, 1262).click();
    await answer(page, 'Yes');
    await until(async () => (await control(hq, 1262).getAttribute('class')).includes('checked'),
                'leisure viewed');
    assert.equal(h.setting(inst, h.policyKey, 'NormalWEB'), '1', 'nothing stored');
  }));

test('work hours moved with the arrows are stored', () =>
  withConsole(async ({ inst, page }) => {
    const hq = await openHeadquarters(page);
    await control(hq, 7055).click();  // Change Hours
    const hours = windowTitled(page, 'Work / Leisure Time');
    await hours.waitFor();
    const before = await control(hours, 405).innerText();
    await control(hours, 7172).click();  // afternoon end, later
    await until(async () => (await control(hours, 405).innerText()) !== before, 'the time moved');
    await control(hours, 1201).click();  // Save Changes
    await hours.waitFor({ state: 'detached' });
    assert.equal(h.setting(inst, h.policyKey, 'PM_End'), '93');
  }));

test('sites and domain parts are added and deleted', () =>
  withConsole(async ({ inst, page }) => {
    const hq = await openHeadquarters(page);
    await control(hq, 1223).click();  // Filter Domains
    const domains = windowTitled(page, 'Domain Name Filter Setup');
    await domains.waitFor();
    const restricted = domains.locator('.ctl.combo').first();
    await restricted.locator('input').fill('');
    await restricted.locator('input').pressSequentially('casino');
    await restricted.locator('input').press('Enter');
    await until(async () => (await restricted.innerText()).includes('casino'), 'the part listed');
    await restricted.locator('[data-index]', { hasText: 'casino' }).click();
    await control(domains, 1256).click();  // Delete
    await until(async () => !(await restricted.locator('.list').innerText()).includes('casino'),
                'the part deleted');
    await page.keyboard.press('Escape');
    await domains.waitFor({ state: 'detached' });

    await control(hq, 1221).click();  // Web Sites
    const sites = windowTitled(page, 'Web Sites Control');
    await sites.waitFor();
    const list = control(sites, 1241);
    await list.locator('input').pressSequentially('10.1.1.1');
    await list.locator('input').press('Enter');
    await until(async () => (await list.innerText()).includes('10.1.1.1'), 'the site listed');
    await list.locator('[data-index]', { hasText: '10.1.1.1' }).click();
    await control(sites, 1256).click();  // Delete
    await until(async () => !(await list.locator('.list').innerText()).includes('10.1.1.1'),
                'the site deleted');
  }));

test('a list update moves the progress bar to 100 percent and says so; the console closes from its menu', () =>
  withConsole(async ({ inst, c, page, prepared: server }) => {
    await chooseFromSystemMenu(page, 4000);  // Update Lists
    // The restricted list (120 KB at 60 KB/s) arrives in pieces a tenth of a second apart.
    const seen = [];
    const box = page.locator('.window[data-kind="messagebox"]');
    while (!(await box.count())) {
      const now = await h.progressShown(page);
      if (now) seen.push(now);
      await sleep(20);
    }
    const list = seen.filter((s) => s.file === 'VELDA.NOT');
    const percents = list.map((s) => s.percent);
    assert.ok(new Set(percents).size >= 5, `the percentage moved: ${percents}`);
    assert.deepEqual(percents, [...percents].sort((a, b) => a - b), 'and never went back');
    assert.equal(Math.max(...percents), 100);
    const fills = seen.map((s) => s.fill).filter((f) => f !== null);
    assert.ok(fills.some((f) => f > 0.2 && f < 0.8), `the bar was seen part-filled: ${fills}`);
    assert.ok(fills.some((f) => f > 0.97), `and full: ${fills}`);

    assert.match(await answer(page, 'OK'), /VeldaLists download was successful/);
    assert.match(server.log(), /filedown\/21/);
    assert.equal(fs.statSync(path.join(inst.programDir, 'VELDA.NOT')).size,
                 fs.statSync(path.join(server.dir, 'VELDA.NOT')).size);
    await chooseFromSystemMenu(page, 0xF060);  // Close
    await until(() => c.proc.exitCode !== null, 'the console ended');
    assert.equal(c.proc.exitCode, 0);
  }, {
    prepare: (inst) => {
      // The installed lists are older than the served ones: the update fetches them.
      const old = new Date('2020-01-01T00:00:00Z');
      for (const list of ['VELDA.NOT', 'VELDA.YES'])
        fs.utimesSync(path.join(inst.programDir, list), old, old);
      return h.startUpdateServer(inst, { addresses: 20000, rate: 60000 });
    },
  }));

test('the About box runs its credits when its icon is clicked', () =>
  withConsole(async ({ c, page }) => {
    await chooseFromSystemMenu(page, 1022);
    const about = windowTitled(page, 'About Veldana');
    await about.waitFor();
    assert.match(await about.innerText(), /Version 4\.50\.005/);
    const shot = async () => (await about.screenshot()).toString('base64');
    const still = await shot();
    // The icon is painted by the box itself: a click on its picture, where the snapshot
    // places control 7014.
    const snapshot = await (await fetch(new URL('/api/state', c.url),
                                        { headers: { 'X-Veldana-Token': new URL(c.url).searchParams.get('token') } })).json();
    const icon = snapshot.windows.find((w) => w.title === 'About Veldana')
                         .controls.find((k) => k.id === 7014);
    await about.locator('.client > img.image')
               .click({ position: { x: icon.x + icon.w / 2, y: icon.y + icon.h / 2 } });
    await until(async () => (await shot()) !== still, 'the credits drawn', 5000);
  }));
