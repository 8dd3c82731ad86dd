// The review desk of the built varnock-review in a real browser, with real
// varnock-mcp servers proposing edits: answers reach the agent and the
// workspace, hostile text stays text, a departed server's proposal cannot
// be accepted, servers queue, the terminal and the desk decide once, and
// refused requests decide nothing.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { makeTempDir, rawRequest, startBrowser, startReviewer, startServer } from './harness.js';

const RECEIPT = (path) =>
  JSON.stringify({ received: true, path, message: 'file written and accepted by reviewer' });
const REJECTED = { code: -32602, message: 'The request has been rejected.' };

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
    server: async (workspace = makeTempDir('desk-ws-')) => {
      const server = await startServer(workspace, reviewer.socket);
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
// Shows the queued proposal for `path`: the desk stays on a withdrawn
// proposal until the person moves on.
async function pick(page, path) {
  await page.locator('#queue button', { hasText: path }).click();
  await heading(page, path);
}
const accept = (page) => page.getByRole('button', { name: 'Accept', exact: true });

// Resolves with 'pending' unless `promise` has settled by now.
const settled = (promise) => Promise.race([promise.then(() => 'settled'),
  new Promise((resolve) => setTimeout(() => resolve('pending'), 200))]);

let desk;
before(async () => {
  desk = await openDesk();
});
after(async () => {
  await desk?.close();
});

describe('answering from the desk', () => {
  test('a proposal appears without reload and is accepted; the next is rejected with r', async () => {
    const { page } = desk;
    const server = await desk.server();
    const table = 'Adds notes.\n\n| field | type |\n|---|---|\n| total | long |\n';
    const first = server.writeFile('notes.txt', 'hello\n', table);
    await heading(page, 'notes.txt');
    const explanation = page.getByRole('region', { name: 'Explanation' });
    assert.equal(await explanation.locator('table th').first().textContent(), 'field');
    assert.equal(await explanation.locator('table td').nth(1).textContent(), 'long');
    await accept(page).click();
    assert.deepEqual((await first).result, { content: [{ type: 'text', text: RECEIPT('notes.txt') }] });
    assert.equal(readFileSync(join(server.workspace, 'notes.txt'), 'utf8'), 'hello\n');
    await page.getByText('#1 accepted.').waitFor();

    const second = server.writeFile('other.txt', 'no\n', 'Another file.');
    await heading(page, 'other.txt');
    await page.keyboard.press('r');
    assert.deepEqual((await second).error, REJECTED);
    assert.equal(existsSync(join(server.workspace, 'other.txt')), false);
    await page.locator('#history li', { hasText: '#2 rejected' }).waitFor();
  });

  test('two servers in two workspaces queue, grouped by server; answering one leaves the other', async () => {
    const { page } = desk;
    const [one, two] = [await desk.server(), await desk.server()];
    const fromOne = one.writeFile('one.txt', 'one\n', 'From one.');
    await heading(page, 'one.txt');
    const fromTwo = two.writeFile('two.txt', 'two\n', 'From two.');
    await page.locator('#queue button', { hasText: 'two.txt' }).waitFor();
    const groups = await page.locator('#queue .group h3').allTextContents();
    assert.equal(groups.length, 2);
    assert.ok(groups[0].startsWith(`${one.workspace} · pid ${one.pid}`), groups[0]);
    assert.ok(groups[1].startsWith(`${two.workspace} · pid ${two.pid}`), groups[1]);
    await accept(page).click();
    assert.match((await fromOne).result.content[0].text, /file written and accepted/);
    await heading(page, 'two.txt');
    assert.equal(await page.locator('#queue .group').count(), 1);
    assert.equal(await settled(fromTwo), 'pending');
    assert.equal(existsSync(join(two.workspace, 'two.txt')), false);
    await page.keyboard.press('r');
    assert.deepEqual((await fromTwo).error, REJECTED);
  });

  test('a proposal whose server went away is withdrawn at once and cannot be accepted', async () => {
    const { page } = desk;
    const server = await desk.server();
    server.writeFile('gone.txt', 'gone\n', 'Soon withdrawn.');
    await heading(page, 'gone.txt');
    const number = await page.locator('#queue [aria-current="true"]').getAttribute('data-number');
    await server.kill();
    await page.getByText(`#${number} was withdrawn`).waitFor();
    assert.equal(await accept(page).isDisabled(), true);
    await page.keyboard.press('a');
    const answer = await page.evaluate(async (n) => (await fetch(`/api/proposals/${n}/answer`,
      { method: 'POST', body: 'accept' })).json(), number);
    assert.deepEqual(answer, { decided: false });
    assert.equal(existsSync(join(server.workspace, 'gone.txt')), false);
  });
});

describe('hostile text', () => {
  test('markup in the path, explanation and content neither runs nor loads', async () => {
    const { page } = desk;
    const server = await desk.server();
    const path = '<img src=x onerror="window.__pwned=1">.txt';
    const explanation = [
      'Looks harmless.', '',
      '<script>window.__pwned=2</script>', '',
      '<img src=x onerror="window.__pwned=3">', '',
      '[click](javascript:window.__pwned=4)', '',
      '<iframe src="/x"></iframe>', '',
      '![pixel](/x)',
    ].join('\n');
    const reply = server.writeFile(path, '<script>window.__pwned=5</script>\n', explanation);
    await pick(page, path);
    const region = page.getByRole('region', { name: 'Explanation' });
    await region.getByText('Looks harmless.').waitFor();
    assert.match(await page.getByRole('region', { name: 'Changes' }).textContent(),
      /<script>window.__pwned=5<\/script>/);
    assert.equal(await page.locator('iframe, img, object, embed').count(), 0);
    assert.equal(await page.locator('script').count(), 1, 'only desk.js');
    const hrefs = await region.locator('a').evaluateAll((links) => links.map((a) => a.getAttribute('href')));
    for (const href of hrefs) assert.doesNotMatch(href, /^\s*(javascript|vbscript|data):/i);
    await page.getByRole('button', { name: 'Reject', exact: true }).click();
    assert.deepEqual((await reply).error, REJECTED);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.deepEqual(desk.dialogs, []);
    assert.equal(desk.requests.filter((p) => p === '/x' || p.endsWith('/x')).length, 0, 'requests to /x');
  });
});

describe('strangers', () => {
  test('refused requests decide nothing; the token is long and new each run', async () => {
    const { page, reviewer } = desk;
    const server = await desk.server();
    const reply = server.writeFile('guarded.txt', 'mine\n', 'Guarded.');
    await pick(page, 'guarded.txt');
    const number = await page.locator('#queue [aria-current="true"]').getAttribute('data-number');
    const [cookie] = await desk.browser.context.cookies();
    const withCookie = { Cookie: `${cookie.name}=${cookie.value}` };
    const { origin, port } = new URL(reviewer.url);
    const answer = `/api/proposals/${number}/answer`;
    const cases = [
      ['no token', { Origin: origin }, 401],
      ['a foreign Host', { ...withCookie, Origin: origin, Host: `desk.example:${port}` }, 403],
      ['a foreign Origin', { ...withCookie, Origin: 'http://evil.example' }, 403],
      ['no Origin', withCookie, 403],
    ];
    for (const [name, headers, status] of cases) {
      assert.equal(await rawRequest(reviewer.url, answer, headers, 'POST'), status, name);
    }
    assert.equal(await settled(reply), 'pending');
    assert.equal(existsSync(join(server.workspace, 'guarded.txt')), false);
    assert.equal(await accept(page).isDisabled(), false);

    const token = new URL(reviewer.url).searchParams.get('token');
    assert.ok(token.length >= 32, `a 128-bit token: ${token}`);
    const other = await startReviewer();
    try {
      assert.notEqual(new URL(other.url).searchParams.get('token'), token);
      assert.equal(await rawRequest(other.url, '/', { Cookie: withCookie.Cookie }), 401, 'another run\'s cookie');
    } finally {
      await other.stop();
    }
    await accept(page).click();
    assert.match((await reply).result.content[0].text, /file written and accepted/);
  });

  test('a non-loopback address without --web-allow-remote is refused at start', () => {
    const dir = makeTempDir('desk-refused-');
    const run = spawnSync(process.env.VARNOCK_REVIEW,
      ['--web', '0.0.0.0:1', '--socket', join(dir, 's.sock'), '--no-journal'],
      { input: '', encoding: 'utf8', timeout: 30000 });
    assert.notEqual(run.status, 0);
    assert.match(run.stderr,
      /refusing to serve the desk on 0\.0\.0\.0, which is not a loopback address, without --web-allow-remote/);
    assert.doesNotMatch(run.stdout, /Review desk: /);
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
      await page.getByRole('button', { name: 'Reject', exact: true }).click();
      await page.getByText('#1 rejected.').waitFor();
      reviewer.type('a\n');
      assert.deepEqual((await first).error, REJECTED);
      await reviewer.printed('Rejected (by desk): both.txt is unchanged.');

      const second = server.writeFile('again.txt', 'again\n', 'Answered on the terminal.');
      await heading(page, 'again.txt');
      await reviewer.printed('Accept this edit to again.txt?');
      reviewer.type('a\n');
      await page.getByText('#2 was answered elsewhere.').waitFor();
      assert.equal(await accept(page).isDisabled(), true);
      await page.keyboard.press('r');
      assert.match((await second).result.content[0].text, /file written and accepted/);
      assert.equal(readFileSync(join(server.workspace, 'again.txt'), 'utf8'), 'again\n');
      assert.equal(existsSync(join(server.workspace, 'both.txt')), false);
      await new Promise((resolve) => setTimeout(resolve, 200));
      assert.equal(server.responses.filter((r) => r.id !== 1).length, 2, 'one answer per call');
      const decisions = readFileSync(journal, 'utf8').trim().split('\n').map(JSON.parse);
      assert.equal(decisions.length, 2, 'one journal line per proposal');
    } finally {
      await both.close();
    }
  });
});
