// Takes docs/desk.png: the desk with a realistic proposal, as a person
// sees it, with the browser tests' harness (npm ci in tests/browser first).
// Run: DESK_FIXTURE=... node bench/desk/screenshot.js [path]
import { fileURLToPath } from 'node:url';
import { startBrowser } from '../../tests/browser/harness.js';
import { startFixture } from './fixture.js';

const output = process.argv[2] || fileURLToPath(new URL('../../docs/desk.png', import.meta.url));
const fixture = await startFixture();
const browser = await startBrowser(fixture.origin);
try {
  const page = browser.context.pages()[0] || await browser.context.newPage();
  await page.setViewportSize({ width: 1200, height: 720 });
  await page.goto(fixture.url);
  fixture.send('queue realistic');
  fixture.send('queue second-server');
  await page.getByRole('heading', { name: 'src/records.c' }).waitFor();
  await page.locator('#queue button[data-number="2"]').waitFor();
  await page.screenshot({ path: output });
  console.log(`wrote ${output}`);
} finally {
  await browser.close();
  fixture.stop();
}
