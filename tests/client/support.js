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

// The built server and its version; ctest passes both.
export const SERVER_BINARY = process.env.VARNOCK_MCP_BINARY;
export const SERVER_VERSION = process.env.VARNOCK_VERSION;
if (!SERVER_BINARY || !SERVER_VERSION) {
  throw new Error('VARNOCK_MCP_BINARY and VARNOCK_VERSION must name the built varnock-mcp');
}
fs.accessSync(SERVER_BINARY, fs.constants.X_OK);

// A fresh directory under the system's temp dir, by its real path.
export function makeTempDir(prefix) {
  return fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), prefix)));
}

// A review broker listening on `socketPath` that keeps every proposal it
// receives (`proposals`, parsed) and answers each with the decision
// `decide(proposal)` gives (true accepts).
export async function startBroker(socketPath, decide) {
  const broker = { socketPath, proposals: [] };
  const sockets = new Set();
  const server = net.createServer((socket) => {
    sockets.add(socket);
    socket.on('close', () => sockets.delete(socket));
    socket.on('error', () => {});
    let pending = '';
    socket.setEncoding('utf8');
    socket.on('data', (chunk) => {
      const lines = (pending + chunk).split('\n');
      pending = lines.pop();
      for (const line of lines) {
        const message = JSON.parse(line);
        if (message.type !== 'proposal') continue;
        broker.proposals.push(message);
        const decision = { type: 'decision', id: message.id, accepted: decide(message) };
        socket.write(`${JSON.stringify(decision)}\n`);
      }
    });
  });
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
// handshake. `env` is the server's extra environment. `errors` collects
// every error the client reports outside a request.
export async function openSession({ workspace, env = {} }) {
  const transport = new StdioClientTransport({
    command: SERVER_BINARY,
    args: [],
    env,
    cwd: workspace,
    stderr: 'ignore',
  });
  const client = new Client({ name: 'varnock-e2e', version: '1.0.0' }, { capabilities: {} });
  const errors = [];
  client.onerror = (error) => errors.push(error);
  await client.connect(transport);
  return { client, errors, close: () => client.close() };
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
