// Measures how long the desk takes to show a 10 MiB proposal with 1 % of
// its lines changed, from the moment it is queued until the diff is drawn
// and Accept can be pressed, and how many table rows that took. Prints the
// figures; asserts nothing. Run: DESK_FIXTURE=... node measure.js
import { startBrowser, startFixture } from './harness.js';

const fixture = await startFixture();
const browser = await startBrowser(fixture.origin);
try {
  const page = browser.context.pages()[0] || await browser.context.newPage();
  await page.goto(fixture.url);
  await page.getByText('Connected.').waitFor();
  for (const round of [1, 2, 3]) {
    const number = String(round);
    fixture.send('queue big');
    await page.locator(`#queue [aria-current="true"][data-number="${number}"]`).waitFor();
    await page.locator('#notices').waitFor({ state: 'attached' });
    const marks = await page.evaluate(async (n) => {
      while (!performance.getEntriesByName(`desk-drawn-${n}`).length) {
        await new Promise((resolve) => setTimeout(resolve, 20));
      }
      const at = (name) => performance.getEntriesByName(name)[0].startTime;
      return {
        shown: at(`desk-shown-${n}`) - at(`desk-queued-${n}`),
        drawn: at(`desk-drawn-${n}`) - at(`desk-queued-${n}`),
        rows: document.querySelectorAll('#changes .row').length,
      };
    }, number);
    // Scrolling as a wheel does (60 px a frame), then in long jumps.
    const scroll = await page.evaluate(async () => {
      const region = document.getElementById('changes');
      const frames = async (step) => {
        const times = [];
        let last = performance.now();
        for (let i = 0; i < 60; ++i) {
          region.scrollTop += step();
          await new Promise(requestAnimationFrame);
          const now = performance.now();
          times.push(now - last);
          last = now;
        }
        times.sort((a, b) => a - b);
        return `median ${times[30].toFixed(1)} ms, worst ${times[59].toFixed(1)} ms`;
      };
      return { wheel: await frames(() => 60), jump: await frames(() => region.scrollHeight / 60) };
    });
    console.log(`round ${round}: first rows and buttons ${marks.shown.toFixed(0)} ms after the ` +
      `event, all ${marks.rows} rows ${marks.drawn.toFixed(0)} ms; frames scrolling like a ` +
      `wheel: ${scroll.wheel}; in jumps: ${scroll.jump}`);
    await page.evaluate((n) => fetch(`/api/proposals/${n}/answer`, { method: 'POST', body: 'accept' }), number);
    await fixture.printed(`answer ${number} accept`);
  }
} finally {
  await browser.close();
  fixture.stop();
}
