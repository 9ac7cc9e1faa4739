// Makes the README's pictures of the console in chromium: Headquarters, the web sites
// dialog and the transfer window halfway through a list update, on a throw-away installation.
// node tests/browser/screenshots.mjs [OUT-DIR]
import fs from 'node:fs';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import * as h from './harness.mjs';

const out = process.argv[2] || path.resolve(import.meta.dirname, '../../docs/images');
const inst = h.makeInstallation();
// Served lists newer than the installed ones, the restricted one long and sent slowly.
const old = new Date('2020-01-01T00:00:00Z');
for (const list of ['VELDA.NOT', 'VELDA.YES']) fs.utimesSync(path.join(inst.programDir, list), old, old);
const server = await h.startUpdateServer(inst, { addresses: 20000, rate: 30000 });
const c = await h.startConsole(inst);
const browser = await h.openBrowser();
try {
  const page = await h.openConsolePage(browser, c.url);
  await page.locator('.minimized').first().click();
  await page.locator('.menu .item[data-command="4000"]').click();  // Update Lists
  for (let shown = null; !(shown?.percent >= 45 && shown.fill > 0.4); await sleep(20))
    shown = await h.progressShown(page);
  const transfer = page.locator('.window', { has: page.locator('.ctl[data-id="100"]') });
  await transfer.screenshot({ path: path.join(out, 'list-update.png') });
  const box = page.locator('.window[data-kind="messagebox"]');
  await box.waitFor({ timeout: 30000 });
  await box.locator('.ctl', { hasText: 'OK' }).click();
  const titled = (t) => page.locator('.window', { has: page.locator('.caption .title', { hasText: t }) });
  await page.locator('.minimized').first().click();
  await page.locator('.menu .item[data-command="61728"]').click();  // Headquarters
  const hq = titled('Veldana - Proxy Headquarters');
  await hq.waitFor();
  await page.waitForTimeout(300);
  await hq.screenshot({ path: path.join(out, 'headquarters.png') });
  await hq.locator('.ctl[data-id="1221"]').click();
  const sites = titled('Web Sites Control');
  await sites.waitFor();
  const list = sites.locator('.ctl[data-id="1241"] input');
  for (const site of ['10.6.6.6', '192.0.2.44', '198.51.100.7/ads/'])
    { await list.pressSequentially(site); await list.press('Enter'); await page.waitForTimeout(150); }
  await page.waitForTimeout(300);
  await sites.screenshot({ path: path.join(out, 'web-sites.png') });
} finally {
  server.proc.kill();
  await browser.close();
  await h.stopConsole(inst, c);
  h.removeInstallation(inst);
}
