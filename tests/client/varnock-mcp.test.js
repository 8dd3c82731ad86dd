// End-to-end tests: what only a real MCP client shows. The SDK's client
// drives the built varnock-mcp over stdio, with a review broker on a
// Unix-domain socket. The exact bytes of every answer, and the answers
// without a broker, are checked at the wire (loop_wire, startup_wire).
//
//   VARNOCK_MCP_BINARY=... VARNOCK_VERSION=... node --test varnock-mcp.test.js

import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { after, before, test } from 'node:test';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { ListToolsResultSchema, McpError } from '@modelcontextprotocol/sdk/types.js';

const { VARNOCK_MCP_BINARY, VARNOCK_VERSION } = process.env;
assert.ok(VARNOCK_MCP_BINARY && VARNOCK_VERSION, 'VARNOCK_MCP_BINARY and VARNOCK_VERSION must be set');

// A review broker that keeps every proposal it receives and answers each
// with the decision `decide(proposal)` gives.
async function startBroker(socketPath, decide) {
  const broker = { proposals: [], sockets: new Set() };
  broker.server = net.createServer((socket) => {
    broker.sockets.add(socket);
    readline.createInterface({ input: socket }).on('line', (line) => {
      const message = JSON.parse(line);
      if (message.type !== 'proposal') return;
      broker.proposals.push(message);
      socket.write(`${JSON.stringify({ type: 'decision', id: message.id, accepted: decide(message) })}\n`);
    });
  });
  await new Promise((resolve) => broker.server.listen(socketPath, resolve));
  broker.close = () => {
    for (const socket of broker.sockets) socket.destroy();
    broker.server.close();
  };
  return broker;
}

function writeFile(filePath, explanationInMarkdown = 'why', content = 'new\n') {
  return { name: 'write_file', arguments: { path: filePath, content, explanationInMarkdown } };
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

// One session of the SDK's client with the server, in a workspace holding
// notes.txt, reviewed by a broker that rejects what asks for it;
// `errors` collects what the client reports outside a request.
let dir, broker, client;
const errors = [];
before(async () => {
  dir = fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'varnock-e2e-')));
  fs.mkdirSync(path.join(dir, 'ws'));
  fs.writeFileSync(path.join(dir, 'ws', 'notes.txt'), 'old\n');
  const socket = path.join(dir, 'broker.sock');
  broker = await startBroker(socket, (proposal) => !proposal.payload.explanationInMarkdown.includes('please reject'));
  client = new Client({ name: 'varnock-e2e', version: '1.0.0' }, { capabilities: {} });
  client.onerror = (error) => errors.push(error);
  await client.connect(new StdioClientTransport({
    command: VARNOCK_MCP_BINARY, env: { VARNOCK_SOCKET: socket }, cwd: path.join(dir, 'ws'), stderr: 'ignore',
  }));
});
after(async () => {
  await client?.close();
  broker?.close();
  if (dir) fs.rmSync(dir, { recursive: true, force: true });
});

test('the handshake names the server, and tools/list passes the SDK schema', async () => {
  assert.deepEqual(client.getServerVersion(), { name: 'varnock-mcp', version: VARNOCK_VERSION });
  assert.deepEqual(client.getServerCapabilities(), { tools: {} });
  const result = await client.listTools();
  assert.ok(ListToolsResultSchema.safeParse(result).success);
  assert.deepEqual(result.tools.map((tool) => tool.name), ['write_file']);
});

test('an accepted review gives the receipt; a rejected or refused call an MCP error -32602', async () => {
  assert.deepEqual(await client.callTool(writeFile('notes.txt', '- why')), {
    content: [{ type: 'text', text: JSON.stringify({
      received: true, path: 'notes.txt', message: 'file written and accepted by reviewer' }) }],
  });
  await assertToolError(client.callTool(writeFile('notes.txt', 'please reject')),
    'The request has been rejected.');
  await assertToolError(client.callTool(writeFile('../x')), 'path must stay inside the workspace');
  assert.deepEqual(broker.proposals.map((proposal) => proposal.payload.before), ['old\n', 'old\n']);
  assert.deepEqual(errors, []);
});
