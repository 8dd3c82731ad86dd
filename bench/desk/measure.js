// Measures how long the desk of the built varnock-review takes to show a
// 10 MiB (or, with --mebibytes N, N MiB) proposal with 1 % of its lines changed (or, with --every-line, one
// in which every line changes), made by a real varnock-mcp: from the
// write_file call to the proposal's event on the page, from the event until
// the first rows are drawn and Accept can be pressed, and until the rows the
// page drew at first are all drawn, and (with --name, say big.py, for a file
// the page colours) until those rows are coloured; then the frame times while
// scrolling. Prints the figures; asserts nothing. It uses the browser tests'
// harness (npm ci in tests/browser first).
//   VARNOCK_REVIEW=... VARNOCK_MCP=... node bench/desk/measure.js [--every-line] [--mebibytes N] [--name F]
import { writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { makeTempDir, startBrowser, startReviewer, startServer } from '../../tests/browser/harness.js';

const EVERY_LINE = process.argv.includes('--every-line');
const sizeAt = process.argv.indexOf('--mebibytes');
const MEBIBYTES = sizeAt > 0 ? Number(process.argv[sizeAt + 1]) : 10;
const nameAt = process.argv.indexOf('--name');
const NAME = nameAt > 0 ? process.argv[nameAt + 1] : 'big.txt';
// How long a round waits for the page to show the proposal.
const GIVE_UP_MS = 20000;

// 16 384 lines of 64 bytes a MiB; every hundredth line (or every line)
// changes one word.
function bigTexts() {
  const before = [];
  const after = [];
  for (let i = 0; i < 16384 * MEBIBYTES; ++i) {
    const head = `line ${1000000 + i}`;
    before.push(`${head} value old ${'x'.repeat(40)}\n`);
    after.push(`${head}${EVERY_LINE || i % 100 === 50 ? ' value new ' : ' value old '}${'x'.repeat(40)}\n`);
  }
  return { before: before.join(''), after: after.join('') };
}

// Proposes the big edit through a real varnock-mcp whose workspace holds
// the old text, and takes the answer.
async function startSource() {
  const reviewer = await startReviewer();
  const workspace = makeTempDir('desk-measure-');
  const texts = bigTexts();
  writeFileSync(join(workspace, NAME), texts.before);
  const server = await startServer(workspace, reviewer.socket);
  let reply;
  return {
    url: reviewer.url,
    origin: reviewer.origin,
    queue: () => {
      reply = server.writeFile(NAME, texts.after, 'A large file with many of its lines changed.');
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
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(source.url);
  await page.getByText('Connected.').waitFor();
  for (const round of [1, 2, 3]) {
    const number = String(round);
    const calledAt = Date.now();
    source.queue();
    const marks = await page.evaluate(async ([n, giveUp, name]) => {
      const at = (mark) => performance.getEntriesByName(mark)[0]?.startTime;
      const coloured = typeof languageOf === 'function' && languageOf(name);
      const waited = performance.now();
      while ((at(`desk-drawn-${n}`) === undefined || (coloured && at(`desk-coloured-${n}`) === undefined)) &&
             performance.now() - waited < giveUp) {
        await new Promise((resolve) => setTimeout(resolve, 20));
      }
      return {
        shown: at(`desk-shown-${n}`) - at(`desk-queued-${n}`),
        drawn: at(`desk-drawn-${n}`) - at(`desk-queued-${n}`),
        coloured: at(`desk-coloured-${n}`) - at(`desk-queued-${n}`),
        rows: document.querySelectorAll('#changes .row').length,
        eventAt: performance.timeOrigin + at(`desk-queued-${n}`),
      };
    }, [number, GIVE_UP_MS, NAME]);
    const event = marks.eventAt - calledAt;
    if (Number.isNaN(marks.drawn)) {
      console.log(`round ${round}: the event ${event.toFixed(0)} ms after the proposal was sent; ` +
        `not shown after ${GIVE_UP_MS} ms (page errors: ${errors.splice(0).join('; ') || 'none'})`);
    } else {
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
      console.log(`round ${round}: the event ${event.toFixed(0)} ms after the proposal was sent; ` +
        `first rows and buttons ${marks.shown.toFixed(0)} ms after the event ` +
        `(${(event + marks.shown).toFixed(0)} ms after the call), the ${marks.rows} rows ` +
        `drawn at first ${marks.drawn.toFixed(0)} ms` +
        `${Number.isNaN(marks.coloured) ? '' : `, coloured ${marks.coloured.toFixed(0)} ms`}; frames scrolling like a wheel: ` +
        `${scroll.wheel}; in jumps: ${scroll.jump}`);
    }
    await new Promise((resolve) => setTimeout(resolve, 600));
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
