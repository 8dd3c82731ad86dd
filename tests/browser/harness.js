// Starting the built varnock-review and varnock-mcp, and Debian's chromium,
// for the browser tests (and bench/desk's measure.js). Nothing here
// downloads a browser; every request that would leave the desk's origin is
// aborted and recorded.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdtempSync, realpathSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { request as httpRequest } from 'node:http';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const CHROMIUM_ARGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

// Collects a child's output as it comes (carriage returns from a terminal
// dropped). `printed(text)` resolves with the line holding `text` once it
// has come, even a line not ended yet, such as a question on a terminal;
// `printedLine(text)` waits for the line's end.
function watchOutput(stream) {
  let output = '';
  const waiters = new Set();
  stream.setEncoding('utf8');
  stream.on('data', (chunk) => {
    output += chunk.replace(/\r/g, '');
    for (const waiter of waiters) waiter();
  });
  const find = (text, ended) => new Promise((resolve) => {
    const check = () => {
      const at = output.indexOf(text);
      const end = output.indexOf('\n', at);
      if (at < 0 || (ended && end < 0)) return;
      waiters.delete(check);
      resolve(output.slice(output.lastIndexOf('\n', at) + 1, end < 0 ? undefined : end));
    };
    waiters.add(check);
    check();
  });
  return {
    printed: (text) => find(text, false),
    printedLine: (text) => find(text, true),
  };
}

function builtProgram(variable) {
  const path = process.env[variable];
  if (!path) throw new Error(`${variable} must name the built program`);
  return path;
}

// A fresh directory under the system's temp dir, by its real path.
export function makeTempDir(prefix) {
  return realpathSync(mkdtempSync(join(tmpdir(), prefix)));
}

// The command that runs `args` on a new pseudo-terminal with util-linux's
// script(1): standard input, output and the controlling terminal of the
// program are the terminal, and what the test writes to script's standard
// input is typed there.
function onTerminal(args) {
  const quoted = args.map((arg) => `'${arg.replaceAll("'", "'\\''")}'`).join(' ');
  return ['script', ['-qfec', quoted, '/dev/null']];
}

// The built varnock-review (VARNOCK_REVIEW) serving the desk with a socket
// in a fresh directory. Standard input is a pipe, so the desk alone answers,
// unless `terminal` puts it on a pseudo-terminal, where the terminal asks
// too. `journal` names a journal file; without it there is none. `rules`
// names a rules file. `state` is its XDG_STATE_HOME (where the desk's token
// is kept), a fresh directory unless given; `web` the desk's HOST:PORT, a
// free port unless given.
export async function startReviewer({ terminal = false, journal, rules, state, web } = {}) {
  const dir = makeTempDir('desk-reviewer-');
  const socket = join(dir, 's.sock');
  const args = ['--web', ...(web ? [web] : []), '--socket', socket,
    ...(journal ? ['--journal', journal] : ['--no-journal']), ...(rules ? ['--rules', rules] : [])];
  const program = builtProgram('VARNOCK_REVIEW');
  const env = { ...process.env, TERM: 'dumb', NO_COLOR: '1', XDG_STATE_HOME: state || dir };
  const [command, commandArgs] = terminal ? onTerminal([program, ...args]) : [program, args];
  const child = spawn(command, commandArgs, { stdio: ['pipe', 'pipe', 'inherit'], env });
  const output = watchOutput(child.stdout);
  const exited = new Promise((resolve) => child.on('exit', resolve));
  const failed = exited.then((code) => { throw new Error(`varnock-review exited with ${code}`); });
  failed.catch(() => {});  // a later exit, after the URL came, is no failure
  const line = await Promise.race([output.printedLine('Review desk: '), failed]);
  const url = line.slice(line.indexOf('Review desk: ') + 'Review desk: '.length);
  return {
    url,
    pid: child.pid,
    origin: new URL(url).origin,
    socket,
    printed: output.printed,
    // Types `text` on the terminal (with `terminal` only).
    type: (text) => child.stdin.write(text),
    stop: async () => {
      child.kill('SIGTERM');
      await exited;
      rmSync(dir, { recursive: true, force: true });
    },
  };
}

// A real varnock-mcp (VARNOCK_MCP) working in `workspace` and reviewed
// through `socket`, spoken to in JSON-RPC lines. `writeFile` resolves with
// the response to its tools/call; `kill` ends the process at once. With
// `hosted`, a shell runs the server as its child, as a host would, and
// `killHost` kills the shell alone: the server lives on under another
// parent, its pipes kept here (`pid` is then the shell's).
export async function startServer(workspace, socket, { hosted = false } = {}) {
  const program = builtProgram('VARNOCK_MCP');
  const [command, args] = hosted ? ['/bin/sh', ['-c', '"$0"; exit', program]] : [program, []];
  const child = spawn(command, args, {
    cwd: workspace,
    env: { ...process.env, VARNOCK_SOCKET: socket },
    stdio: ['pipe', 'pipe', 'pipe'],
  });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  const errors = watchOutput(child.stderr);
  const answers = new Map();
  const responses = [];
  createInterface({ input: child.stdout }).on('line', (line) => {
    const message = JSON.parse(line);
    responses.push(message);
    answers.get(message.id)?.(message);
  });
  let nextId = 0;
  const call = (method, params) => {
    const id = ++nextId;
    child.stdin.write(`${JSON.stringify({ jsonrpc: '2.0', id, method, params })}\n`);
    return new Promise((resolve) => answers.set(id, resolve));
  };
  await errors.printed('connected broker');
  await call('initialize', { protocolVersion: '2025-06-18', capabilities: {},
    clientInfo: { name: 'desk-browser-tests', version: '1' } });
  child.stdin.write('{"jsonrpc":"2.0","method":"notifications/initialized"}\n');
  return {
    pid: child.pid,
    // Every response line so far, parsed.
    responses,
    writeFile: (path, content, explanationInMarkdown) =>
      call('tools/call', { name: 'write_file', arguments: { path, content, explanationInMarkdown } }),
    kill: async () => {
      child.stdin.end();  // a server whose host was killed ends at the end of its input
      child.kill('SIGKILL');
      await exited;
    },
    killHost: async () => {
      child.kill('SIGKILL');
      await exited;
    },
  };
}

// A fresh browser whose every request outside `origin` (and the loopback
// origins a test allows) is aborted and listed in `leaks`.
export async function startBrowser(origin) {
  const allowed = new Set([origin]);
  const profile = mkdtempSync(join(tmpdir(), 'desk-chromium-'));
  // The profile directory is chromium's --user-data-dir.
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    args: CHROMIUM_ARGS,
    headless: true,
    viewport: { width: 1280, height: 800 },
  });
  // A wait for the page only guards against a hung test: on a busy machine
  // a step may take many times its usual time.
  context.setDefaultTimeout(120000);
  const leaks = [];
  await context.route('**/*', (route) => {
    const url = route.request().url();
    if (allowed.has(new URL(url).origin)) return route.continue();
    leaks.push(url);
    return route.abort();
  });
  context.on('websocket', (socket) => {
    if (!socket.url().startsWith(origin.replace('http:', 'ws:'))) leaks.push(socket.url());
  });
  return {
    context,
    leaks,
    // Lets the browser reach another server of the test's, on loopback.
    allow: (other) => {
      assert.match(other, /^http:\/\/127\.0\.0\.1:\d+$/);
      allowed.add(other);
    },
    close: async () => {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A raw request to the desk at `url`'s host, from outside the browser, on a
// connection of its own, with `headers`; a POST carries the answer "accept".
// Gives the status.
export function rawRequest(url, path, headers, method = 'GET') {
  const { hostname, port } = new URL(url);
  return new Promise((resolve, reject) => {
    const req = httpRequest({ host: hostname, port, path, method, headers, agent: false }, (res) => {
      res.resume();
      resolve(res.statusCode);
    });
    req.on('error', reject);
    req.end(method === 'POST' ? 'accept' : undefined);
  });
}
