// Hostile proposals against the built varnock-review, one reviewer each:
// while each is received, checked, compared and opened on the desk, another
// server proposes small edits every 300 ms and the desk's /api/state is
// asked every 50 ms. Prints, per case, the longest wait for /api/state, the
// longest time from another server's call until its proposal was pending,
// how long the hostile proposal's view took to open (or what it said), and
// the reviewer's peak RSS. Asserts nothing. It uses the browser tests'
// harness (npm ci in tests/browser first).
//   VARNOCK_REVIEW=... VARNOCK_MCP=... node bench/desk/stall.js [CASE...]
import { closeSync, openSync, readFileSync, truncateSync, writeFileSync } from 'node:fs';
import { connect } from 'node:net';
import { join } from 'node:path';
import { performance } from 'node:perf_hooks';
import { makeTempDir, startReviewer, startServer } from '../../tests/browser/harness.js';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function randomLines(bytes, seed) {
  let x = seed;
  const lines = [];
  for (let size = 0; size < bytes; size += 2) {
    x = (x * 1103515245 + 12345) & 0x7fffffff;
    lines.push(x & 0x10000 ? 'x' : 'y');
  }
  return `${lines.join('\n')}\n`;
}

// A raw client in a server's place: the hello, then `lines` as they are.
function rawClient(socketPath, lines) {
  const socket = connect(socketPath, () => {
    socket.write(`{"pid":${process.pid},"role":"main","threadId":"stall","type":"hello"}\n`);
    for (const line of lines) socket.write(line);
  });
  socket.on('error', () => {});
  socket.on('data', () => {});
}

function proposalLine(id, path, after, explanation = 'why') {
  return `${JSON.stringify({ id, payload: { after, before: '', explanationInMarkdown: explanation, path },
    type: 'proposal' })}\n`;
}

const CASES = {
  // An 18 KB explanation that is a table of 3 000 columns.
  table: async ({ server }) => {
    const table = `${'|a'.repeat(3000)}\n${'|-'.repeat(3000)}\n${'x\n'.repeat(3000)}`;
    return { reply: server.writeFile('table.md', 'x\n', table) };
  },
  // A 3 GiB sparse file in the workspace.
  sparse: async ({ server, workspace }) => {
    const fd = openSync(join(workspace, 'sparse.bin'), 'w');
    closeSync(fd);
    truncateSync(join(workspace, 'sparse.bin'), 3 * 1024 ** 3);
    return { reply: server.writeFile('sparse.bin', 'small\n', 'Replaces a huge file.') };
  },
  // 4 MB of random x/y lines replaced by another such text.
  diff: async ({ server, workspace }) => {
    writeFileSync(join(workspace, 'xy.txt'), randomLines(4e6, 1));
    return { reply: server.writeFile('xy.txt', randomLines(4e6, 2), 'A worst case for a line diff.') };
  },
  // One proposal line of 300 MiB.
  line: async ({ reviewer }) => {
    const after = 'a'.repeat(300 * 1024 * 1024);
    rawClient(reviewer.socket, [proposalLine('big', 'big.txt', after)]);
    return {};
  },
  // 5 000 proposals at once on one connection.
  many: async ({ reviewer }) => {
    const lines = [];
    for (let i = 0; i < 5000; ++i) lines.push(proposalLine(`m${i}`, `m${i}.txt`, `${i}\n`));
    rawClient(reviewer.socket, lines);
    return {};
  },
};

async function desk(reviewer, path, method = 'GET', sent = undefined) {
  const token = new URL(reviewer.url).searchParams.get('token');
  const started = performance.now();
  const response = await fetch(new URL(path, reviewer.origin),
    { method, body: sent, headers: { 'X-Desk-Token': token, Origin: reviewer.origin } });
  const body = await response.text();
  return { status: response.status, body, ms: performance.now() - started };
}

function peakRss(pid) {
  const status = readFileSync(`/proc/${pid}/status`, 'utf8');
  return Number(/VmHWM:\s+(\d+)/.exec(status)[1]) / 1024;
}

async function run(name) {
  const reviewer = await startReviewer();
  const workspace = makeTempDir('stall-a-');
  const other = makeTempDir('stall-b-');
  const server = await startServer(workspace, reviewer.socket);
  const bystander = await startServer(other, reviewer.socket);
  let worstState = 0;
  let worstQueued = 0;
  let stateFailures = 0;
  let going = true;
  const poll = (async () => {
    while (going) {
      const { status, ms } = await desk(reviewer, '/api/state').catch(() => ({ status: 0, ms: 0 }));
      if (status !== 200) ++stateFailures;
      worstState = Math.max(worstState, ms);
      await sleep(50);
    }
  })();
  const others = (async () => {
    for (let i = 0; going; ++i) {
      const path = `other${i}.txt`;
      const started = performance.now();
      bystander.writeFile(path, `${i}\n`, 'A small edit elsewhere.');
      let number;
      while (number === undefined) {
        const { body } = await desk(reviewer, '/api/state');
        number = JSON.parse(body).pending.find((p) => p.path === path)?.number;
        if (number === undefined) await sleep(10);
      }
      worstQueued = Math.max(worstQueued, performance.now() - started);
      // Answered as the page does, once it could have been read.
      await desk(reviewer, `/api/proposals/${number}`);
      await sleep(550);
      await desk(reviewer, `/api/proposals/${number}/answer`, 'POST', 'reject');
      await sleep(300);
    }
  })();
  await sleep(500);
  const started = performance.now();
  await CASES[name]({ reviewer, server, workspace });
  // The hostile proposal, once the reviewer holds it, opened as the page would.
  let view = 'no proposal pending';
  for (let waited = 0; waited < 60000; waited += 100) {
    const { body } = await desk(reviewer, '/api/state');
    const pending = JSON.parse(body).pending.filter((p) => !p.path.startsWith('other'));
    const history = JSON.parse(body).history.filter((h) => !h.path.startsWith('other'));
    if (pending.length) {
      const opened = await desk(reviewer, `/api/proposals/${pending[0].number}`);
      view = `view ${opened.status} in ${opened.ms.toFixed(0)} ms, ${(opened.body.length / 1e6).toFixed(2)} MB`;
      break;
    }
    if (history.length) {
      view = `decided: ${history[0].outcome.slice(0, 90)}`;
      break;
    }
    await sleep(100);
  }
  const held = performance.now() - started;
  await sleep(3000);
  going = false;
  await Promise.all([poll, others]);
  const rss = peakRss(reviewer.pid);
  console.log(`${name.padEnd(7)} state worst ${worstState.toFixed(0)} ms (${stateFailures} failed), ` +
    `other server's proposal pending within ${worstQueued.toFixed(0)} ms, ` +
    `hostile one held after ${held.toFixed(0)} ms, ${view}; peak RSS ${rss.toFixed(0)} MiB`);
  await server.kill();
  await bystander.kill();
  await reviewer.stop();
}

const names = process.argv.slice(2).length ? process.argv.slice(2) : Object.keys(CASES);
for (const name of names) await run(name);
