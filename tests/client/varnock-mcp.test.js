// End-to-end tests: what only a real MCP client shows. The SDK's client
// drives the built varnock-mcp over stdio, with a review broker on a
// Unix-domain socket. The exact bytes of every answer are checked elsewhere.
//
//   VARNOCK_MCP_BINARY=... VARNOCK_VERSION=... node --test varnock-mcp.test.js

import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { ListToolsResultSchema, McpError } from '@modelcontextprotocol/sdk/types.js';

const { VARNOCK_MCP_BINARY, VARNOCK_VERSION } = process.env;
assert.ok(VARNOCK_MCP_BINARY && VARNOCK_VERSION, 'VARNOCK_MCP_BINARY and VARNOCK_VERSION must be set');

function makeTempDir(prefix) {
  return fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), prefix)));
}

// A review broker that keeps every proposal it receives and answers each
// with the decision `decide(proposal)` gives.
async function startBroker(socketPath, decide) {
  const broker = { proposals: [], sockets: new Set() };
  broker.server = net.createServer((socket) => {
    broker.sockets.add(socket);
    let pending = '';
    socket.setEncoding('utf8');
    socket.on('data', (chunk) => {
      const lines = (pending + chunk).split('\n');
      pending = lines.pop();
      for (const message of lines.map((line) => JSON.parse(line))) {
        if (message.type !== 'proposal') continue;
        broker.proposals.push(message);
        const decision = { type: 'decision', id: message.id, accepted: decide(message) };
        socket.write(`${JSON.stringify(decision)}\n`);
      }
    });
  });
  await new Promise((resolve) => broker.server.listen(socketPath, resolve));
  broker.server.unref();
  broker.close = () => {
    for (const socket of broker.sockets) socket.destroy();
    broker.server.close();
  };
  return broker;
}

// The server started in `workspace` through the SDK, the handshake done;
// `errors` collects what the client reports outside a request.
async function openSession(workspace, env = {}) {
  const transport = new StdioClientTransport({
    command: VARNOCK_MCP_BINARY, env, cwd: workspace, stderr: 'ignore',
  });
  const client = new Client({ name: 'varnock-e2e', version: '1.0.0' }, { capabilities: {} });
  const errors = [];
  client.onerror = (error) => errors.push(error);
  await client.connect(transport);
  return { client, errors };
}

function writeFile(filePath, explanationInMarkdown = 'why', content = 'new\n') {
  return { name: 'write_file', arguments: { path: filePath, content, explanationInMarkdown } };
}

function receipt(filePath, message) {
  return { content: [{ type: 'text', text: JSON.stringify({ received: true, path: filePath, message }) }] };
}

// A JSON-RPC error response surfaces as an McpError with code -32602.
async function assertToolError(promise, message) {
  await assert.rejects(promise, (error) => {
    assert.ok(error instanceof McpError, `expected McpError, got ${error}`);
    assert.equal(error.code, -32602);
    assert.equal(error.message, `MCP error -32602: ${message}`);
    return true;
  });
}

describe('with a review broker', { timeout: 60000 }, () => {
  let dir;
  let broker;
  let session;

  before(async () => {
    dir = makeTempDir('varnock-e2e-');
    fs.mkdirSync(path.join(dir, 'ws'));
    fs.writeFileSync(path.join(dir, 'ws', 'notes.txt'), 'old\n');
    broker = await startBroker(
      path.join(dir, 'broker.sock'),
      (proposal) => !proposal.payload.explanationInMarkdown.includes('please reject'),
    );
    session = await openSession(path.join(dir, 'ws'), { VARNOCK_SOCKET: path.join(dir, 'broker.sock') });
  });

  after(async () => {
    await session?.client.close();
    broker?.close();
    if (dir) fs.rmSync(dir, { recursive: true, force: true });
  });

  test('the handshake completes and names the server', () => {
    assert.deepEqual(session.client.getServerVersion(), { name: 'varnock-mcp', version: VARNOCK_VERSION });
    assert.deepEqual(session.client.getServerCapabilities(), { tools: {} });
  });

  test('tools/list passes the SDK schema and lists write_file', async () => {
    const result = await session.client.listTools();
    assert.ok(ListToolsResultSchema.safeParse(result).success);
    assert.deepEqual(result.tools.map((tool) => tool.name), ['write_file']);
  });

  test('a refused call surfaces as an MCP error -32602', async () => {
    await assertToolError(session.client.callTool(writeFile('../x')), 'path must stay inside the workspace');
  });

  test('an accepted review gives the receipt; a rejected one an MCP error', async () => {
    assert.deepEqual(
      await session.client.callTool(writeFile('notes.txt', '- why')),
      receipt('notes.txt', 'file written and accepted by reviewer'),
    );
    await assertToolError(
      session.client.callTool(writeFile('notes.txt', 'please reject')),
      'The request has been rejected.',
    );
    assert.deepEqual(broker.proposals.map((proposal) => proposal.payload.before), ['old\n', 'old\n']);
    assert.deepEqual(session.errors, []);
  });
});

test('without a broker, write_file answers with the not-written receipt', async () => {
  const workspace = makeTempDir('varnock-e2e-ws-');
  const session = await openSession(workspace);
  try {
    const result = await session.client.callTool(writeFile('notes.txt'));
    assert.deepEqual(result, receipt('notes.txt', 'not written: no review broker is connected'));
    assert.equal(fs.existsSync(path.join(workspace, 'notes.txt')), false);
    assert.deepEqual(session.errors, []);
  } finally {
    await session.client.close();
    fs.rmSync(workspace, { recursive: true, force: true });
  }
});
