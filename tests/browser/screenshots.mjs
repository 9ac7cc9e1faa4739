// Makes the README's pictures of the console in chromium: Headquarters and the web sites
// dialog, on a throw-away installation. node tests/browser/screenshots.mjs [OUT-DIR]
import path from 'node:path';
import * as h from './harness.mjs';

const out = process.argv[2] || path.resolve(import.meta.dirname, '../../docs/images');
const inst = h.makeInstallation();
const c = await h.startConsole(inst);
const browser = await h.openBrowser();
try {
  const page = await h.openConsolePage(browser, c.url);
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
  await browser.close();
  await h.stopConsole(inst, c);
  h.removeInstallation(inst);
}
