// Starting the desk fixture and Debian's chromium for the browser tests and
// the screenshot. Nothing here downloads a browser; every request that
// would leave the desk's origin is aborted and recorded.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const CHROMIUM_ARGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

// The fixture program: its URL, and the lines it prints after that.
export async function startFixture() {
  const path = process.env.DESK_FIXTURE;
  if (!path) throw new Error('DESK_FIXTURE must name the built desk_fixture program');
  const child = spawn(path, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = createInterface({ input: child.stdout });
  const seen = [];
  const waiters = [];
  const url = await new Promise((resolve, reject) => {
    child.on('exit', (code) => reject(new Error(`desk_fixture exited with ${code}`)));
    lines.on('line', (line) => {
      if (line.startsWith('Review desk: ')) return resolve(line.slice('Review desk: '.length));
      seen.push(line);
      for (const waiter of waiters.splice(0)) waiter();
    });
  });
  return {
    url,
    origin: new URL(url).origin,
    send: (command) => child.stdin.write(`${command}\n`),
    // Resolves when the fixture has printed `line`.
    printed: (line) => new Promise((resolve) => {
      const check = () => (seen.includes(line) ? resolve() : waiters.push(check));
      check();
    }),
    stop: () => child.stdin.end(),
  };
}

// A fresh browser whose every request outside `origin` is aborted and
// listed in `leaks`.
export async function startBrowser(origin) {
  const profile = mkdtempSync(join(tmpdir(), 'desk-chromium-'));
  // The profile directory is chromium's --user-data-dir.
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    args: CHROMIUM_ARGS,
    headless: true,
    viewport: { width: 1280, height: 800 },
  });
  const leaks = [];
  await context.route('**/*', (route) => {
    const url = route.request().url();
    if (new URL(url).origin === origin) return route.continue();
    leaks.push(url);
    return route.abort();
  });
  context.on('websocket', (socket) => {
    if (!socket.url().startsWith(origin.replace('http:', 'ws:'))) leaks.push(socket.url());
  });
  return {
    context,
    leaks,
    close: async () => {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}
