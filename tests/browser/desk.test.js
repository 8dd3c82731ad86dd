// The review desk in a real browser: proposals appear and are answered,
// Markdown renders, hostile text stays text, and strangers are refused.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { rawRequest, startBrowser, startFixture } from './harness.js';

let fixture;
let browser;
let page;
const dialogs = [];

before(async () => {
  fixture = await startFixture();
  browser = await startBrowser(fixture.origin);
  page = browser.context.pages()[0] || await browser.context.newPage();
  page.on('dialog', (dialog) => {
    dialogs.push(dialog.message());
    dialog.dismiss();
  });
  await page.goto(fixture.url);
});

after(async () => {
  await browser?.close();
  fixture?.stop();
  assert.deepEqual(browser?.leaks ?? [], [], 'requests that left the desk');
});

const explanation = () => page.getByRole('region', { name: 'Explanation' });
const changes = () => page.getByRole('region', { name: 'Changes' });
const accept = () => page.getByRole('button', { name: 'Accept', exact: true });
const reject = () => page.getByRole('button', { name: 'Reject', exact: true });

async function showQueued(name, number) {
  fixture.send(`queue ${name}`);
  await page.locator(`#queue button[data-number="${number}"]`).click();
  await page.locator(`#queue [aria-current="true"][data-number="${number}"]`).waitFor();
}

describe('answering', () => {
  test('the token leaves the address bar for an HttpOnly cookie', async () => {
    assert.equal(new URL(page.url()).search, '');
    const cookies = await browser.context.cookies();
    assert.equal(cookies.length, 1);
    assert.equal(cookies[0].httpOnly, true);
    assert.equal(cookies[0].sameSite, 'Strict');
  });

  test('a proposal appears without reload, renders, and is accepted', async () => {
    fixture.send('queue realistic');
    await page.getByRole('heading', { name: 'src/records.c' }).waitFor();
    assert.equal(await explanation().locator('table td').first().textContent(), 'long total');
    assert.equal(await explanation().locator('table').count(), 1);
    assert.equal(await explanation().locator('del').textContent(), 'benchmarked');
    assert.ok(await changes().locator('mark').count() >= 4, 'changed words are marked');
    assert.ok(await changes().getByRole('button', { name: /^show \d+ lines$/ }).count() >= 1);
    await accept().click();
    await fixture.printed('answer 1 accept');
    await page.getByText('#1 accepted.').waitFor();
    await page.locator('#history li', { hasText: '#1 accepted: src/records.c' }).waitFor();
  });

  test('folds open on demand and keys answer', async () => {
    await showQueued('second-server', 2);
    assert.equal(await page.locator('#queue .group').count(), 1);
    await showQueued('realistic', 3);
    assert.equal(await page.locator('#queue .group').count(), 2, 'grouped by server');
    const rowsBefore = await changes().locator('.row').count();
    await changes().getByRole('button', { name: /^show \d+ lines$/ }).first().click();
    await changes().locator('.row').nth(rowsBefore).waitFor();
    await page.getByRole('button', { name: 'Whole file' }).click();
    await changes().locator('.no', { hasText: /^40$/ }).first().waitFor();
    assert.equal(await changes().locator('.fold').count(), 0, 'the whole file, unfolded');
    await page.getByRole('button', { name: 'Unified' }).click();
    await changes().locator('.kind', { hasText: '-' }).first().waitFor();
    assert.ok(await changes().locator('.kind', { hasText: '+' }).count() >= 4);
    await page.getByRole('button', { name: 'Changes' }).click();
    await changes().getByRole('button', { name: /^show \d+ lines$/ }).first().waitFor();
    await page.keyboard.press('j');
    assert.equal(await page.evaluate(() => document.activeElement.classList.contains('hunk-start')), true);
    await page.keyboard.press('r');
    await fixture.printed('answer 3 reject');
    await page.getByText('#3 rejected.').waitFor();
  });

  test('a withdrawn proposal is marked at once and cannot be accepted', async () => {
    await page.locator('#queue button[data-number="2"]').click();
    await page.locator('#queue [aria-current="true"][data-number="2"]').waitFor();
    fixture.send('withdraw 2');
    await page.getByText('#2 was withdrawn').waitFor();
    assert.equal(await accept().isDisabled(), true);
    await page.keyboard.press('a');
    const answer = await page.evaluate(async () => (await fetch('/api/proposals/2/answer',
      { method: 'POST', body: 'accept' })).json());
    assert.deepEqual(answer, { decided: false });
  });
});

describe('hostile text', () => {
  test('markup in the path, explanation and content neither runs nor loads', async () => {
    await showQueued('hostile', 4);
    await page.getByRole('heading', { name: /notes\/<img src=x onerror/ }).waitFor();
    assert.match(await page.locator('#path').textContent(), /⟨U\+200B⟩⟨U\+202E⟩\.txt$/);
    await page.locator('#notices li', { hasText: 'hidden characters in the new text' }).waitFor();
    assert.match(await page.locator('#facts').textContent(), /<script>window.__pwned=4<\/script>/);
    assert.match(await explanation().textContent(), /Safe⟨U\+200B⟩ text\./);
    assert.match(await changes().textContent(), /<script>window.__pwned = 1/);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.equal(await page.locator('iframe, img, object, embed').count(), 0);
    assert.equal(await page.locator('script').count(), 1, 'only desk.js');
    const hrefs = await explanation().locator('a').evaluateAll((links) => links.map((a) => a.getAttribute('href')));
    for (const href of hrefs) assert.doesNotMatch(href, /^\s*(javascript|vbscript|data):/i);
    assert.ok(hrefs.includes('http://203.0.113.7/pixel.png'), 'the image became a link');
    await reject().click();
    await fixture.printed('answer 4 reject');
    assert.deepEqual(dialogs, []);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
  });
});

describe('strangers', () => {
  test('requests without the token, with a foreign Host or Origin are refused; an answer from elsewhere shows', async () => {
    const { host, origin } = new URL(fixture.url);
    const [cookie] = await browser.context.cookies();
    const withCookie = { Cookie: `${cookie.name}=${cookie.value}` };
    fixture.send('queue second-server');
    const upgrade = { Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13',
      'Sec-WebSocket-Key': 'dGhlIHNhbXBsZSBub25jZQ==' };
    const cases = [
      ['the page without the token', '/', {}, 'GET', 401],
      ['the state without the token', '/api/state', {}, 'GET', 401],
      ['a wrong token', '/?token=0000', {}, 'GET', 401],
      ['a foreign Host', '/api/state', { ...withCookie, Host: `desk.example:${new URL(fixture.url).port}` }, 'GET', 403],
      ['a foreign Origin', '/api/proposals/5/answer', { ...withCookie, Origin: 'http://evil.example' }, 'POST', 403],
      ['no Origin', '/api/proposals/5/answer', withCookie, 'POST', 403],
      ['an upgrade from a foreign Origin', '/events', { ...withCookie, ...upgrade, Origin: 'http://evil.example' }, 'GET', 403],
      ['the state with the cookie', '/api/state', { ...withCookie, Host: host }, 'GET', 200],
    ];
    for (const [name, path, headers, method, status] of cases) {
      assert.equal(await rawRequest(fixture.url, path, headers, method), status, name);
    }
    await page.locator('#queue [aria-current="true"][data-number="5"]').waitFor();
    assert.equal(await rawRequest(fixture.url, '/api/proposals/5/answer', { ...withCookie, Origin: origin }, 'POST'), 200);
    await fixture.printed('answer 5 accept');
    await page.getByText('#5 was answered elsewhere.').waitFor();
    assert.equal(await accept().isDisabled(), true);
  });
});
