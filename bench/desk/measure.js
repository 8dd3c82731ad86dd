// Measures how long the desk of the built varnock-review takes to show a
// 10 MiB proposal with 1 % of its lines changed, made by a real varnock-mcp:
// from the write_file call to the proposal's event on the page, from the
// event until the first rows are drawn and Accept can be pressed, and until
// every row is drawn; then the frame times while scrolling. Prints the
// figures; asserts nothing. It uses the browser tests' harness (npm ci in
// tests/browser first).
//   VARNOCK_REVIEW=... VARNOCK_MCP=... node bench/desk/measure.js
import { writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { makeTempDir, startBrowser, startReviewer, startServer } from '../../tests/browser/harness.js';

// 163 840 lines of 64 bytes; every hundredth line changes one word.
function bigTexts() {
  const before = [];
  const after = [];
  for (let i = 0; i < 163840; ++i) {
    const head = `line ${1000000 + i}`;
    before.push(`${head} value old ${'x'.repeat(40)}\n`);
    after.push(`${head}${i % 100 === 50 ? ' value new ' : ' value old '}${'x'.repeat(40)}\n`);
  }
  return { before: before.join(''), after: after.join('') };
}

// Proposes the big edit through a real varnock-mcp whose workspace holds
// the old text, and takes the answer.
async function startSource() {
  const reviewer = await startReviewer();
  const workspace = makeTempDir('desk-measure-');
  const texts = bigTexts();
  writeFileSync(join(workspace, 'big.txt'), texts.before);
  const server = await startServer(workspace, reviewer.socket);
  let reply;
  return {
    url: reviewer.url,
    origin: reviewer.origin,
    queue: () => {
      reply = server.writeFile('big.txt', texts.after, 'A large file with **1 %** of its lines changed.');
    },
    answered: () => reply,
    stop: async () => {
      await server.kill();
      await reviewer.stop();
    },
  };
}

const source = await startSource();
const browser = await startBrowser(source.origin);
try {
  const page = browser.context.pages()[0] || await browser.context.newPage();
  await page.goto(source.url);
  await page.getByText('Connected.').waitFor();
  for (const round of [1, 2, 3]) {
    const number = String(round);
    const calledAt = Date.now();
    source.queue();
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
        eventAt: performance.timeOrigin + at(`desk-queued-${n}`),
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
    console.log(`round ${round}: the event ${(marks.eventAt - calledAt).toFixed(0)} ms after ` +
      `the proposal was sent; first rows and buttons ${marks.shown.toFixed(0)} ms after the ` +
      `event, all ${marks.rows} rows ${marks.drawn.toFixed(0)} ms; frames scrolling like a ` +
      `wheel: ${scroll.wheel}; in jumps: ${scroll.jump}`);
    // Rejected, so the workspace keeps the old text for the next round.
    await page.evaluate((n) => fetch(`/api/proposals/${n}/answer`, {
      method: 'POST', body: 'reject', headers: { 'X-Desk-Token': sessionStorage.getItem('desk-token') },
    }), number);
    await source.answered(number);
  }
} finally {
  await browser.close();
  await source.stop();
}
