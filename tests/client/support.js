// Fixtures for the end-to-end tests: a review broker on a Unix-domain socket,
// temporary workspaces, and a varnock-mcp server started through the MCP
// TypeScript SDK's stdio client transport.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

// The SDK is loaded here rather than by a static import so that a missing
// `npm ci` ends the run with a message that says what to do.
let sdk;
try {
  sdk = {
    ...(await import('@modelcontextprotocol/sdk/client/index.js')),
    ...(await import('@modelcontextprotocol/sdk/client/stdio.js')),
    ...(await import('@modelcontextprotocol/sdk/types.js')),
  };
} catch (error) {
  throw new Error(
    'cannot load @modelcontextprotocol/sdk: run `npm ci` in tests/client first ' +
      `(${error.message})`,
  );
}
export const { Client, StdioClientTransport, McpError, ListToolsResultSchema } = sdk;

// The built server; ctest passes its path.
export const SERVER_BINARY = process.env.VARNOCK_MCP_BINARY;
if (!SERVER_BINARY) {
  throw new Error('VARNOCK_MCP_BINARY must name the built varnock-mcp program');
}
fs.accessSync(SERVER_BINARY, fs.constants.X_OK);

// A fresh directory under the system's temp dir, by its real path (the server
// compares absolute paths with the working directory the kernel reports).
export function makeTempDir(prefix) {
  return fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), prefix)));
}

// A review broker listening on `socketPath`. It keeps every line it receives
// (`lines`, raw text without the line feed) and the parsed proposals
// (`proposals`, each { raw, message }). For each proposal it asks `decide`,
// which returns true (accept), false (reject) or 'close' (drop the connection
// without a decision), and answers with one "decision" line.
export async function startBroker(socketPath, decide) {
  const broker = {
    socketPath,
    lines: [],
    proposals: [],
    connections: 0,
    decide,
  };
  const sockets = new Set();
  let firstLine;
  broker.firstLine = new Promise((resolve) => {
    firstLine = resolve;
  });

  const server = net.createServer((socket) => {
    broker.connections += 1;
    sockets.add(socket);
    socket.on('close', () => sockets.delete(socket));
    socket.on('error', () => {});
    let pending = '';
    socket.setEncoding('utf8');
    socket.on('data', (chunk) => {
      pending += chunk;
      let end;
      while ((end = pending.indexOf('\n')) >= 0) {
        const line = pending.slice(0, end);
        pending = pending.slice(end + 1);
        onLine(socket, line);
      }
    });
  });

  function onLine(socket, line) {
    broker.lines.push(line);
    if (broker.lines.length === 1) firstLine(line);
    const message = JSON.parse(line);
    if (message.type !== 'proposal') return;
    broker.proposals.push({ raw: line, message });
    const verdict = broker.decide(message);
    if (verdict === 'close') {
      socket.destroy();
      return;
    }
    const decision = { type: 'decision', id: message.id, accepted: verdict };
    socket.write(`${JSON.stringify(decision)}\n`);
  }

  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(socketPath, resolve);
  });
  // A test that fails before closing the broker must not keep the run alive.
  server.unref();
  broker.close = () =>
    new Promise((resolve) => {
      for (const socket of sockets) socket.destroy();
      server.close(() => resolve());
    });
  return broker;
}

// Starts the server in `workspace` through the SDK and completes the MCP
// handshake. `env` is the server's extra environment (VARNOCK_SOCKET and
// VARNOCK_THREAD_ID; the transport passes on only a few variables of its own).
// The session records every JSON-RPC message in both directions (`sent`,
// `received`), the server's standard error (`stderr()`) and every error the
// client reports outside a request (`errors`).
export async function openSession({ workspace, env = {} }) {
  const transport = new StdioClientTransport({
    command: SERVER_BINARY,
    args: [],
    env,
    cwd: workspace,
    stderr: 'pipe',
  });
  let stderr = '';
  transport.stderr.setEncoding('utf8');
  transport.stderr.on('data', (chunk) => {
    stderr += chunk;
  });

  const sent = [];
  const received = [];
  const send = transport.send.bind(transport);
  transport.send = (message, options) => {
    sent.push(message);
    return send(message, options);
  };
  // The client installs its own message handler on connect; record what
  // reaches it.
  let deliver;
  Object.defineProperty(transport, 'onmessage', {
    configurable: true,
    get: () => deliver,
    set: (handler) => {
      deliver = (message, extra) => {
        received.push(message);
        handler?.(message, extra);
      };
    },
  });

  const client = new Client({ name: 'varnock-e2e', version: '1.0.0' }, { capabilities: {} });
  const errors = [];
  client.onerror = (error) => errors.push(error);
  await client.connect(transport);

  return {
    client,
    transport,
    sent,
    received,
    errors,
    stderr: () => stderr,
    close: () => client.close(),
  };
}

// Asserts that `promise` (a tool call) fails the way the SDK reports a
// JSON-RPC error response: an McpError with code -32602 and the server's
// message after the SDK's "MCP error -32602: " prefix.
export async function assertToolError(promise, message) {
  await assert.rejects(promise, (error) => {
    assert.ok(error instanceof McpError, `expected McpError, got ${error}`);
    assert.equal(error.code, -32602);
    assert.equal(error.message, `MCP error -32602: ${message}`);
    return true;
  });
}

// Waits until `condition()` holds, polling the event loop; fails after `ms`.
export async function waitFor(condition, what, ms = 10000) {
  const deadline = Date.now() + ms;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}
