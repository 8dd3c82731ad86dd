// The review desk of the built varnock-review in a real browser, with real
// varnock-mcp servers proposing edits: answers reach the agent and the
// workspace, the diff and the explanation render, code takes syntax colours
// beside its changed words, hostile text stays text, a departed server's
// proposal makes way for the next, an answer lands only on what was on
// screen long enough, servers queue, the terminal and the desk decide once,
// refused requests decide nothing, no cookie opens or locks the desk, the
// journal's history is searched, shown and reverted across restarts, and a
// rules file answers what it names.
import assert from 'node:assert/strict';
import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { connect } from 'node:net';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { makeTempDir, rawRequest, startBrowser, startReviewer, startServer } from './harness.js';

const REJECTED = { code: -32602, message: 'The request has been rejected.' };
// Longer than the terminal and the desk give a proposal before they take
// an answer to it.
const READING_TIME = 600;
const read = () => new Promise((resolve) => setTimeout(resolve, READING_TIME));
// Markup an agent may send, each put in the path, the explanation and the new text.
const ATTACKS = JSON.parse(readFileSync(new URL('../vectors/desk/hostile.json', import.meta.url)));

// A reviewer, a browser on its desk, and the servers started against it.
async function openDesk(options) {
  const reviewer = await startReviewer(options);
  const browser = await startBrowser(reviewer.origin);
  const page = browser.context.pages()[0] || await browser.context.newPage();
  const dialogs = [];
  const requests = [];
  page.on('dialog', (dialog) => {
    dialogs.push(dialog.message());
    dialog.dismiss();
  });
  page.on('request', (request) => requests.push(new URL(request.url()).pathname));
  await page.goto(reviewer.url);
  await page.getByText('Connected.').waitFor();
  const servers = [];
  return {
    reviewer, browser, page, dialogs, requests,
    server: async (workspace = makeTempDir('desk-ws-'), options = {}) => {
      const server = await startServer(workspace, reviewer.socket, options);
      servers.push(server);
      return { ...server, workspace };
    },
    close: async () => {
      await Promise.all(servers.map((server) => server.kill()));
      await browser.close();
      await reviewer.stop();
      assert.deepEqual(browser.leaks, [], 'requests that left the desk');
    },
  };
}

const heading = (page, name) => page.getByRole('heading', { name, exact: true }).waitFor();
// Shows the queued proposal for `path`.
async function pick(page, path) {
  await page.locator('#queue button', { hasText: path }).click();
  await page.locator('#path', { hasText: path }).waitFor();
}
const accept = (page) => page.getByRole('button', { name: 'Accept', exact: true });
const reject = (page) => page.getByRole('button', { name: 'Reject', exact: true });
// Once the proposal could have been read, answers it by `act`; then checks
// the agent's call got the receipt for `path`, or without one, the rejection.
async function answered(act, reply, path) {
  await read();
  await act();
  const { result, error } = await reply;
  if (path === undefined) assert.deepEqual(error, REJECTED);
  else assert.deepEqual(result, { content: [{ type: 'text',
    text: JSON.stringify({ received: true, path, message: 'file written and accepted by reviewer' }) }] });
}
const current = (page) => page.locator('#queue [aria-current="true"]').getAttribute('data-number');
const UPGRADE = { Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13',
  'Sec-WebSocket-Key': 'dGhlIHNhbXBsZSBub25jZQ==' };
const region = (page, name) => page.getByRole('region', { name });

// Resolves with 'pending' unless `promise` has settled by now.
const settled = (promise) => Promise.race([promise.then(() => 'settled'),
  new Promise((resolve) => setTimeout(() => resolve('pending'), 200))]);

let desk, page;
before(async () => {
  desk = await openDesk();
  ({ page } = desk);
});
after(async () => {
  await desk?.close();
});

describe('answering from the desk', () => {
  test('a proposal appears without reload, renders, and is accepted', async () => {
    const server = await desk.server();
    const old = Array.from({ length: 40 }, (_, i) => `line ${i + 1}\n`).join('');
    writeFileSync(join(server.workspace, 'notes.txt'), old);
    const table = 'Adds ~~nothing~~.\n\n| field | type |\n|---|---|\n| total | long |\n';
    const first = server.writeFile('notes.txt', old.replace('line 20\n', 'line twenty\n'), table);
    await heading(page, 'notes.txt');
    const explanation = region(page, 'Explanation');
    const changes = region(page, 'Changes');
    assert.deepEqual(await explanation.locator('th, td').allTextContents(), ['field', 'type', 'total', 'long']);
    assert.equal(await explanation.locator('del').textContent(), 'nothing');
    assert.deepEqual(await changes.locator('mark').allTextContents(), ['20', 'twenty']);
    // Unchanged runs fold, open on demand, and the other views draw them.
    const rows = await changes.locator('.row').count();
    await changes.getByRole('button', { name: /^show \d+ lines$/ }).first().click();
    await changes.locator('.row').nth(rows).waitFor();
    await page.getByRole('button', { name: 'Whole file' }).click();
    await changes.locator('.no', { hasText: /^40$/ }).first().waitFor();
    assert.equal(await changes.locator('.fold').count(), 0, 'the whole file, unfolded');
    await page.getByRole('button', { name: 'Unified' }).click();
    await changes.locator('.kind', { hasText: '-' }).first().waitFor();
    await page.getByRole('button', { name: 'Changes' }).click();
    await changes.getByRole('button', { name: /^show \d+ lines$/ }).first().waitFor();
    await page.keyboard.press('j');
    assert.equal(await page.evaluate(() => document.activeElement.classList.contains('hunk-start')), true);
    await answered(() => accept(page).click(), first, 'notes.txt');
    assert.match(readFileSync(join(server.workspace, 'notes.txt'), 'utf8'), /^line 19\nline twenty\n/m);
    await page.getByText('#1 accepted.').waitFor();
  });

  test('two servers in two workspaces queue, grouped by server; answering one leaves the other, rejected with r', async () => {
    const [one, two] = [await desk.server(), await desk.server()];
    const fromOne = one.writeFile('one.txt', 'one\n', 'From one.');
    await heading(page, 'one.txt');
    const fromTwo = two.writeFile('two.txt', 'two\n', 'From two.');
    await page.locator('#queue button', { hasText: 'two.txt' }).waitFor();
    // Servers that name no thread are shown by workspace and pid alone.
    assert.deepEqual(await page.locator('#queue .group h3').allTextContents(),
      [`${one.workspace} · pid ${one.pid}`, `${two.workspace} · pid ${two.pid}`]);
    // The tab's title counts what waits; notifications are offered, not asked for.
    assert.equal(await page.title(), '(2) Review desk');
    assert.equal(await page.evaluate(() => Notification.permission), 'default');
    await page.locator('#notify', { hasText: 'Notify me' }).waitFor();
    await answered(() => accept(page).click(), fromOne, 'one.txt');
    await heading(page, 'two.txt');
    assert.equal(await page.locator('#queue .group').count(), 1);
    assert.equal(await settled(fromTwo), 'pending');
    const number = await current(page);
    await answered(() => page.keyboard.press('r'), fromTwo);
    assert.equal(existsSync(join(two.workspace, 'two.txt')), false);
    await page.locator('#history li', { hasText: `#${number} rejected` }).waitFor();
    assert.equal(await page.title(), 'Review desk');
  });
});

describe('a large change', () => {
  test('10 MiB in which every line changes shows its first rows at once, draws more as it scrolls or j asks, and is answered', async () => {
    const errors = [];
    const onError = (error) => errors.push(error.message);
    page.on('pageerror', onError);
    const server = await desk.server();
    // An unchanged head, then 163 840 lines of 64 bytes that all change.
    const text = (word) => Array.from({ length: 1200 }, (_, i) => `same ${i}\n`).join('') +
      Array.from({ length: 163840 }, (_, i) => `line ${1000000 + i} value ${word} ${'x'.repeat(40)}\n`).join('');
    writeFileSync(join(server.workspace, 'huge.txt'), text('old'));
    const reply = server.writeFile('huge.txt', text('new'), 'Every line changes.');
    await heading(page, 'huge.txt');
    const changes = region(page, 'Changes');
    // The new number of the last row drawn, once the page drawing is done.
    const lastLine = async () => {
      await changes.locator('.more', { hasText: 'rows drawn' }).waitFor();
      return Number(await changes.locator('.row').last().locator('.no').last().textContent());
    };
    const drawnTo = (line) => changes.locator('.no', { hasText: new RegExp(`^${line}$`) }).first().waitFor();
    await Promise.race([drawnTo(1198), new Promise((resolve) => page.once('pageerror', resolve))]);
    assert.deepEqual(errors, [], 'the change was drawn');
    await changes.getByRole('button', { name: 'show 1000 of 1197 lines' }).waitFor();
    assert.equal(await accept(page).isEnabled(), true);
    const first = await lastLine();
    assert.ok(first < 10000, `drawn at first up to line ${first}`);
    await changes.evaluate((element) => { element.scrollTop = element.scrollHeight; });
    await drawnTo(first + 1);
    await changes.evaluate((element) => { element.scrollTop = 0; });
    const scrolled = await lastLine();
    await page.keyboard.press('j');
    await page.keyboard.press('j');
    await drawnTo(scrolled + 1);
    await page.getByRole('button', { name: 'Unified' }).click();
    await changes.locator('.kind', { hasText: '+' }).first().waitFor();
    await changes.locator('.more', { hasText: 'rows drawn' }).waitFor();
    await page.getByRole('button', { name: 'Changes' }).click();
    // A page that cannot be had says so where it would have been drawn.
    await page.route('**/diff?*', (route) => route.fulfill({ status: 500, body: '{"error":"diff failed"}' }));
    await lastLine();
    await changes.evaluate((element) => { element.scrollTop = element.scrollHeight; });
    await changes.getByText('The rest of the change cannot be shown: diff failed').waitFor();
    await page.unroute('**/diff?*');
    await answered(() => accept(page).click(), reply, 'huge.txt');
    page.off('pageerror', onError);
    assert.deepEqual(errors, []);
  });
});

describe('hostile text', () => {
  test('a Python file takes syntax colours, keeps its changed words marked, and its markup stays text', async () => {
    const server = await desk.server();
    const old = 'def total(items):\n    return sum(items, 0)  # <img src=x onerror="window.__pwned=7">\n';
    const markup = 's = "</span><script>window.__pwned=8</script>"';
    writeFileSync(join(server.workspace, 'sums.py'), old);
    const reply = server.writeFile('sums.py', `${old.replace(' 0)', ' 10)')}${markup}\n`, 'From ten.');
    await pick(page, 'sums.py');
    const changes = region(page, 'Changes');
    await changes.locator('.hljs-keyword', { hasText: 'def' }).first().waitFor();
    // Coloured a few cells at a time while the page is idle: the last ones.
    await changes.locator('.hljs-string').first().waitFor();
    assert.deepEqual(await changes.locator('mark .hljs-number').allTextContents(), ['0', '10']);
    assert.deepEqual(await changes.locator('.hljs-string').allTextContents(), [markup.slice(4)]);
    assert.equal(await changes.locator('.hljs-comment').count(), 2, 'both sides of the changed line');
    assert.ok((await changes.textContent()).includes(markup));
    assert.equal(await changes.locator('img, script').count(), 0);
    await answered(() => reject(page).click(), reply);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
  });

  test('markup in the path, explanation and content neither runs nor loads, nor leaves the desk', async () => {
    const server = await desk.server();
    const path = `${ATTACKS.join('/')}/hidden\u200b\u202e.html`;
    const reply = server.writeFile(path, `${ATTACKS.join('\n')}\n`, `Looks harmless.\n\n${ATTACKS.join('\n\n')}`);
    await pick(page, 'hidden');
    assert.equal(await page.locator('#path').textContent(), `${ATTACKS.join('/')}/hidden⟨U+200B⟩⟨U+202E⟩.html`);
    await region(page, 'Explanation').getByText('Looks harmless.').waitFor();
    // Coloured as HTML, shown as text.
    await region(page, 'Changes').locator('.hljs-tag').first().waitFor();
    const changes = await region(page, 'Changes').textContent();
    // Found by the reviewer and by the page alike, and said once.
    assert.deepEqual(await page.locator('#notices li', { hasText: 'hidden characters' }).allTextContents(),
      ['hidden characters in the path']);
    for (const attack of ATTACKS) assert.ok(changes.includes(attack), `shown as text: ${attack}`);
    assert.equal(await page.locator('iframe, img, object, embed, svg').count(), 0);
    assert.equal(await page.locator('script').count(), 3, 'only highlight.js, colours.js and desk.js');
    const hrefs = await page.locator('a[href]').evaluateAll((links) => links.map((a) => a.getAttribute('href')));
    for (const href of hrefs) assert.doesNotMatch(href, /^\s*(javascript|vbscript|data):/i);
    await answered(() => reject(page).click(), reply);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.deepEqual(desk.dialogs, []);
    assert.deepEqual(desk.requests.filter((p) => p.endsWith('/x')), [], 'requests to /x');
    // A request that would leave the desk is aborted and recorded.
    const probe = await desk.browser.context.newPage();
    await assert.rejects(probe.goto('http://203.0.113.7/probe'));
    await probe.close();
    assert.deepEqual(desk.browser.leaks.splice(0), ['http://203.0.113.7/probe']);
  });
});

describe('strangers', () => {
  test('the token leaves the address; no cookie opens the desk; refused requests decide nothing; a stranger\'s cookies and idle connections lock no one out; an answer from elsewhere shows', async () => {
    const { reviewer, browser } = desk;
    // Connections that never show the token wait beside the person's.
    const idle = await Promise.all(Array.from({ length: 40 }, () => new Promise((resolve) => {
      const socket = connect(Number(new URL(reviewer.url).port), '127.0.0.1', () => resolve(socket));
      socket.on('error', () => resolve(socket));
    })));
    assert.equal(new URL(page.url()).search, '', 'the token left the address bar');
    assert.deepEqual(await browser.context.cookies(), [], 'the desk sets no cookie');
    const token = new URL(reviewer.url).searchParams.get('token');
    assert.ok(token.length >= 32, `a 128-bit token: ${token}`);
    const { origin, port } = new URL(reviewer.url);
    // A local development server the person visits (a link in an
    // explanation is enough): it sets cookies for this host, which reach
    // the desk too, as many and as large as a browser keeps, and one named
    // as a desk's might be; and it keeps every cookie it is sent.
    const received = [];
    const stranger = createServer({ maxHeaderSize: 4 << 20 }, (request, response) => {
      received.push(request.headers.cookie || '');
      response.setHeader('Set-Cookie', ['token=planted; Path=/', 'varnock_desk=planted; Path=/']);
      response.end(`<!doctype html><title>dev server</title><script>
        for (let i = 0; i < 150; ++i) document.cookie = 'jar' + i + '=' + 'x'.repeat(3900) + '; path=/';
        </script>`);
    });
    await new Promise((resolve) => stranger.listen(0, '127.0.0.1', resolve));
    const strangerOrigin = `http://127.0.0.1:${stranger.address().port}`;
    browser.allow(strangerOrigin);
    try {
      const visit = await browser.context.newPage();
      await visit.goto(strangerOrigin);
      await visit.goto(strangerOrigin);
      await visit.close();
      await page.bringToFront();
      assert.ok((await browser.context.cookies(reviewer.origin)).length > 100, 'the cookies reach the desk');
      const values = received.flatMap((header) => header.split(';').map((pair) => pair.trim()))
        .filter(Boolean).map((pair) => pair.slice(pair.indexOf('=') + 1));
      assert.equal(values.includes(token), false, 'the token was never sent to the stranger');
      const server = await desk.server();
      const guarded = server.writeFile('guarded.txt', 'mine\n', 'Guarded.');
      await pick(page, 'guarded.txt');
      const number = await current(page);
      const answer = `/api/proposals/${number}/answer`;
      // Every rule is checked in process (tests/vectors/desk/requests.tsv);
      // here the real server's reading of the headers.
      const withToken = { 'X-Desk-Token': token };
      for (const [name, path, headers, method] of [
        ['a foreign Host', answer, { ...withToken, Origin: origin, Host: `desk.example:${port}` }, 'POST'],
        ['a foreign Origin', answer, { ...withToken, Origin: 'http://evil.example' }, 'POST'],
        ['an upgrade from a foreign Origin', `/events?token=${token}`, { ...UPGRADE, Origin: 'http://evil.example' }, 'GET'],
      ]) assert.equal(await rawRequest(reviewer.url, path, headers, method), 403, name);
      // Whatever the stranger was sent, replayed in every place a secret
      // could go, opens nothing.
      for (const value of new Set(values)) {
        const asCookie = { Cookie: received.at(-1) };
        for (const [path, headers, method] of [
          ['/api/state', { 'X-Desk-Token': value, ...asCookie }, 'GET'],
          [answer, { 'X-Desk-Token': value, Origin: origin, ...asCookie }, 'POST'],
          [`/events?token=${encodeURIComponent(value)}`, { ...UPGRADE, Origin: origin, ...asCookie }, 'GET'],
        ]) {
          assert.equal(await rawRequest(reviewer.url, path, headers, method), 401, `${path} with ${value.slice(0, 20)}`);
        }
      }
      assert.equal(await settled(guarded), 'pending');
      assert.equal(existsSync(join(server.workspace, 'guarded.txt')), false);
      // One header field longer than any cookie jar ends its connection only.
      await assert.rejects(rawRequest(reviewer.url, '/', { 'X-Long': 'x'.repeat(100_000) }));
      // The desk still opens, shows an answer from elsewhere and answers,
      // with the cookies in place. Reloaded, the tab has forgotten its
      // token and kept nothing on the origin for the next page to read.
      await page.reload();
      await page.getByText('This tab has no token').waitFor();
      assert.deepEqual(await page.evaluate(() => [sessionStorage.length, localStorage.length]), [0, 0]);
      await page.goto(reviewer.url);
      await page.getByText('Connected.').waitFor();
      await pick(page, 'guarded.txt');
      await answered(async () => assert.equal(
        await rawRequest(reviewer.url, answer, { ...withToken, Origin: origin }, 'POST'), 200), guarded, 'guarded.txt');
      await page.getByText(`#${number} was answered elsewhere.`).waitFor();
      assert.equal(await accept(page).isDisabled(), true);
      const jar = server.writeFile('jar.txt', 'mine\n', 'Proposed while a stranger holds cookies.');
      await pick(page, 'jar.txt');
      await answered(() => reject(page).click(), jar);
    } finally {
      for (const socket of idle) socket.destroy();
      await browser.context.clearCookies();
      await new Promise((resolve) => stranger.close(resolve));
    }
  });
});

describe('answers land only on what was seen', () => {
  test('a second press, a double click or a held key never answers the proposal that just came on screen', async () => {
    const servers = [];
    const replies = [];
    for (let i = 0; i < 4; ++i) {
      servers.push(await desk.server());
      replies.push(servers[i].writeFile(`seen${i}.txt`, `${i}\n`, `Proposal ${i}.`));
      await page.locator('#queue button', { hasText: `seen${i}.txt` }).waitFor();
    }
    await heading(page, 'seen0.txt');
    // Pressed twice: the first answers seen0, the second comes before the
    // next proposal can have been read, whenever it lands.
    await read();
    await page.keyboard.press('a');
    await new Promise((resolve) => setTimeout(resolve, 200));
    await page.keyboard.press('a');
    await heading(page, 'seen1.txt');
    await page.getByText(/That answer came before #\d+ could be read|#\d+ accepted\./).waitFor();
    // A double click on Accept.
    await read();
    await accept(page).dblclick();
    await heading(page, 'seen2.txt');
    // A key held down: its repeats never answer.
    await read();
    await page.keyboard.down('r');
    await heading(page, 'seen3.txt');
    await read();
    await page.keyboard.down('r');
    await page.keyboard.down('r');
    await page.keyboard.up('r');
    assert.deepEqual([(await replies[0]).result?.content[0].text.includes('written'),
      (await replies[1]).result?.content[0].text.includes('written'), (await replies[2]).error], [true, true, REJECTED]);
    assert.equal(await settled(replies[3]), 'pending', 'the proposal that came on screen last');
    assert.equal(existsSync(join(servers[3].workspace, 'seen3.txt')), false);
    // Pressed at once after it came on screen, an answer is not taken and says why.
    await page.keyboard.press('r');
    await answered(() => page.keyboard.press('r'), replies[3]);
  });

  test('a withdrawn proposal cannot be accepted and makes way for the next, which must be read before it is answered; one whose host is gone says so at once and can be accepted', async () => {
    const [leaving, staying] = [await desk.server(), await desk.server(undefined, { hosted: true })];
    leaving.writeFile('leaving.txt', 'x\n', 'Its server goes.');
    await heading(page, 'leaving.txt');
    const number = await current(page);
    const reply = staying.writeFile('staying.txt', 'y\n', 'Its server stays.');
    await page.locator('#queue button', { hasText: 'staying.txt' }).waitFor();
    await leaving.kill();
    await heading(page, 'staying.txt');
    await page.getByText(`#${number} was withdrawn`).waitFor();
    await page.keyboard.press('a');
    await page.getByText(/That answer came before #\d+ could be read/).waitFor();
    assert.equal(await settled(reply), 'pending');
    const token = new URL(desk.reviewer.url).searchParams.get('token');
    const late = await page.evaluate(async ([n, t]) => (await fetch(`/api/proposals/${n}/answer`, {
      method: 'POST', body: 'accept', headers: { 'X-Desk-Token': t },
    })).json(), [number, token]);
    assert.deepEqual(late, { decided: false });
    assert.equal(existsSync(join(leaving.workspace, 'leaving.txt')), false);
    await staying.killHost();
    await page.locator('#notices li', { hasText: 'no agent will hear the answer: its host is gone' })
      .waitFor();
    await answered(() => page.keyboard.press('a'), reply, 'staying.txt');
    assert.equal(readFileSync(join(staying.workspace, 'staying.txt'), 'utf8'), 'y\n');
  });
});

describe('the terminal beside the desk', () => {
  test('answering on both decides once, and each shows the other\'s answer', async () => {
    const journal = join(makeTempDir('desk-journal-'), 'j.jsonl');
    const both = await openDesk({ terminal: true, journal });
    try {
      const { page, reviewer } = both;
      await reviewer.printed('answers from the desk or this terminal');
      const server = await both.server();
      const first = server.writeFile('both.txt', 'both\n', 'Answered twice.');
      await heading(page, 'both.txt');
      await reviewer.printed('Accept this edit to both.txt?');
      await read();
      await reject(page).click();
      await page.getByText('#1 rejected.').waitFor();
      // Typed on the terminal after the desk's answer; the terminal has let
      // it through (its echo shows) before the next proposal can be asked.
      reviewer.type('accept\n');
      await reviewer.printed('accept');
      assert.deepEqual((await first).error, REJECTED);
      await reviewer.printed('Rejected (by desk): both.txt is unchanged.');

      const second = server.writeFile('again.txt', 'again\n', 'Answered on the terminal.');
      await heading(page, 'again.txt');
      await reviewer.printed('Accept this edit to again.txt?');
      await answered(async () => {
        reviewer.type('a\n');
        await page.getByText('#2 was answered elsewhere.').waitFor();
        assert.equal(await accept(page).isDisabled(), true);
        await page.keyboard.press('r');
      }, second, 'again.txt');
      assert.equal(readFileSync(join(server.workspace, 'again.txt'), 'utf8'), 'again\n');
      assert.equal(existsSync(join(server.workspace, 'both.txt')), false);
      // u lists the accepted edits from the journal; u 1 reverts the newest.
      reviewer.type('u\n');
      await reviewer.printed('  1. ');
      reviewer.type('u 1\n');
      await reviewer.printed('Reverted (by terminal): ');
      assert.equal(existsSync(join(server.workspace, 'again.txt')), false, 'the file it made is removed');
      // The server answers a path outside its workspace itself, after any
      // answer that came before.
      const last = await server.writeFile('../outside.txt', 'x\n', 'Refused by the server.');
      assert.equal(server.responses.filter((r) => r.id !== 1 && r.id !== last.id).length, 2, 'one answer per call');
    } finally {
      await both.close();
    }
    // Complete once the reviewer has stopped.
    assert.equal(readFileSync(journal, 'utf8').trim().split('\n').map(JSON.parse).length, 3, 'a line per proposal and revert');
  });
});

describe('the history', () => {
  test('an accepted edit is reverted from the history, one changed since is not, and after a restart the history still opens its changes read-only', async () => {
    const journal = join(makeTempDir('desk-history-'), 'j.jsonl');
    const first = await openDesk({ journal });
    const entry = (on, text) => on.locator('#history button', { hasText: text });
    const revert = (on) => on.getByRole('button', { name: 'Revert', exact: true });
    try {
      const { page, reviewer } = first;
      const server = await first.server();
      const file = (path) => join(server.workspace, path);
      writeFileSync(file('kept.txt'), 'old\n');
      writeFileSync(file('moved.txt'), 'before\n');
      for (const [path, text] of [['kept.txt', 'new\n'], ['moved.txt', 'after\n']]) {
        const reply = server.writeFile(path, text, 'An edit to undo.');
        await heading(page, path);
        await answered(() => accept(page).click(), reply, path);
      }
      writeFileSync(file('moved.txt'), 'changed since\n');
      await entry(page, 'kept.txt — accepted').click();
      await revert(page).click();
      await page.getByText('Reverted: kept.txt has its earlier text back.').waitFor();
      assert.equal(readFileSync(file('kept.txt'), 'utf8'), 'old\n');
      await entry(page, 'moved.txt — accepted').click();
      const number = await entry(page, 'moved.txt — accepted').getAttribute('data-entry');
      await revert(page).click();
      await page.getByText('Not reverted: the file has changed since the edit was written.').waitFor();
      // With the file as written again, neither another origin's page nor a
      // request without the token reverts it.
      writeFileSync(file('moved.txt'), 'after\n');
      const path = `/api/history/${number}/revert`;
      const token = new URL(reviewer.url).searchParams.get('token');
      assert.equal(await rawRequest(reviewer.url, path, { 'X-Desk-Token': token, Origin: 'http://evil.example' }, 'POST'), 403);
      assert.equal(await rawRequest(reviewer.url, path, { Origin: reviewer.origin }, 'POST'), 401);
      assert.equal(readFileSync(file('moved.txt'), 'utf8'), 'after\n');
    } finally {
      await first.close();
    }
    const again = await openDesk({ journal });
    try {
      const { page } = again;
      await entry(page, 'moved.txt — accepted').waitFor();
      await page.fill('#history-search', 'kept');
      await entry(page, 'moved.txt').waitFor({ state: 'detached' });
      await entry(page, 'kept.txt — reverted').waitFor();
      await entry(page, 'kept.txt — accepted, reverted since').click();
      await region(page, 'Changes').locator('mark').first().waitFor();
      assert.deepEqual(await region(page, 'Changes').locator('mark').allTextContents(), ['old', 'new']);
      assert.equal(await accept(page).isVisible(), false, 'nothing to answer');
      assert.equal(await revert(page).isVisible(), false, 'reverted already');
    } finally {
      await again.close();
    }
  });

  test('a rules file accepts one path and rejects another without asking, asks about a third (told by a notification while the tab is hidden), and the journal and the history name each rule', async () => {
    const dir = makeTempDir('desk-rules-');
    const journal = join(dir, 'j.jsonl');
    const rules = join(dir, 'rules');
    writeFileSync(rules, 'reject .env\naccept docs/**\n');
    const ruled = await openDesk({ journal, rules });
    try {
      const { page } = ruled;
      const server = await ruled.server();
      mkdirSync(join(server.workspace, 'docs'));
      const { result } = await server.writeFile('docs/a.md', 'a\n', 'Docs.');
      assert.match(result.content[0].text, /file written and accepted by reviewer/);
      assert.deepEqual((await server.writeFile('.env', 'KEY=1\n', 'Secrets.')).error, REJECTED);
      // Notifications, once allowed by the button, tell of what waits while
      // the tab is hidden: where the edit goes, not what it holds.
      await page.context().grantPermissions(['notifications']);
      await page.locator('#notify').click();
      await page.locator('#notify').waitFor({ state: 'hidden' });
      await page.evaluate(() => {
        window.shown = [];
        window.Notification = class { static permission = 'granted';
          constructor(title, { body }) { window.shown.push([title, body]); } };
        Object.defineProperty(document, 'hidden', { configurable: true, get: () => true });
      });
      const asked = server.writeFile('notes.txt', 'n\n', 'Notes.');
      while (!await page.evaluate(() => window.shown.length)) await new Promise((r) => setTimeout(r, 50));
      assert.deepEqual(await page.evaluate(() => window.shown), [['A proposed edit waits for your review',
        `${server.workspace.split('/').pop()}: notes.txt`]]);
      await page.evaluate(() => {
        delete document.hidden;
        document.dispatchEvent(new Event('visibilitychange'));
      });
      await answered(() => reject(page).click(), asked);
      await page.locator('#history button', { hasText: 'docs/a.md — accepted by rule accept docs/** (rules line 2)' }).waitFor();
      // The answer can reach the agent just before its journal line is written.
      const journaled = () => readFileSync(journal, 'utf8').trim().split('\n');
      while (journaled().length < 3) await new Promise((r) => setTimeout(r, 50));
      const lines = journaled().map((line) => JSON.parse(line));
      assert.deepEqual(lines.map(({ path, decision, rule }) => [path, decision, rule]), [
        ['docs/a.md', 'accepted', 'accept docs/** (rules line 2)'],
        ['.env', 'rejected', 'reject .env (rules line 1)'],
        ['notes.txt', 'rejected', undefined],
      ]);
      assert.equal(readFileSync(join(server.workspace, 'docs/a.md'), 'utf8'), 'a\n');
      assert.equal(existsSync(join(server.workspace, '.env')), false);
    } finally {
      await ruled.close();
    }
  });
});

// Another program on the desk's port while the reviewer is down: it logs
// whatever the tab sends and answers the tab's proof request wrongly.
async function takePort(host) {
  const heard = [];
  const server = createServer((request, response) => {
    heard.push({ url: request.url, headers: request.headers });
    response.setHeader('Content-Type', 'application/json');
    response.end(JSON.stringify({ proof: '0'.repeat(64) }));
  });
  server.on('upgrade', (request, socket) => {
    heard.push({ url: request.url, headers: request.headers });
    socket.destroy();
  });
  const { hostname, port } = new URL(`http://${host}`);
  await new Promise((resolve, reject) => server.once('error', reject).listen(Number(port), hostname, resolve));
  return {
    heard,
    close: () => new Promise((resolve) => {
      server.closeAllConnections();
      server.close(resolve);
    }),
  };
}

describe('a restart', () => {
  test('an open tab keeps its token from another program on the port, and reconnects by itself to the reviewer started again there', async () => {
    const state = makeTempDir('desk-state-');
    const first = await openDesk({ state });
    const { reviewer, page: tab } = first;
    let again;
    // What the tab sends to the reviewer's API: the run's key, not the token.
    const sent = new Set();
    tab.on('request', (request) => sent.add(request.headers()['x-desk-token']));
    try {
      const before = await first.server();
      const reply = before.writeFile('before.txt', 'x\n', 'Answered before the restart.');
      await heading(tab, 'before.txt');
      await answered(() => reject(tab).click(), reply);
      await reviewer.stop();
      await tab.getByText('Disconnected from the reviewer; retrying…').waitFor();
      const host = new URL(reviewer.url).host;
      const token = new URL(reviewer.url).searchParams.get('token');
      const impostor = await takePort(host);
      await tab.getByText(/does not hold this tab's token/).waitFor();
      while (impostor.heard.length < 3) await new Promise((r) => setTimeout(r, 100));
      await impostor.close();
      assert.ok(!JSON.stringify(impostor.heard).includes(token), 'the token reached the program on the port');
      // Besides the proof requests, it may hear one the browser sent again
      // after the reviewer stopped, with the last run's key.
      const keys = impostor.heard.filter(({ url }) => !url.startsWith('/proof?nonce='))
        .map(({ url, headers }) => headers['x-desk-token'] || new URL(url, 'http://x').searchParams.get('token'));
      sent.delete(undefined);
      const lastRun = [...sent, ...keys];
      assert.ok(sent.size > 0 && !sent.has(token), lastRun.join());
      again = await startReviewer({ state, web: host });
      assert.equal(again.url, reviewer.url, 'the same address, token included');
      await tab.getByText('Connected.').waitFor();
      for (const key of lastRun) {
        assert.equal(await rawRequest(again.url, '/api/state', { 'X-Desk-Token': key }), 401, key);
      }
      assert.equal(await rawRequest(again.url, '/api/state', { 'X-Desk-Token': token }), 200);
      // Numbered afresh: #1 again, which the tab answered in the last run.
      const after = await startServer(makeTempDir('desk-ws-'), again.socket);
      const second = after.writeFile('after.txt', 'y\n', 'Sent after the restart.');
      await heading(tab, 'after.txt');
      await answered(() => reject(tab).click(), second);
      await tab.getByText('#1 rejected.').waitFor();
      await after.kill();
    } finally {
      await again?.stop();
      await first.close();
    }
  });
});
