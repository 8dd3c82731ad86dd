// End-to-end tests: what only a real MCP client shows. The SDK's client
// drives the built varnock-mcp over stdio, with a review broker on a
// Unix-domain socket. The exact bytes of every answer are checked elsewhere.
//
//   VARNOCK_MCP_BINARY=... VARNOCK_VERSION=... node --test varnock-mcp.test.js

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import {
  ListToolsResultSchema,
  SERVER_VERSION,
  assertToolError,
  makeTempDir,
  openSession,
  startBroker,
} from './support.js';

function writeFile(args) {
  return { name: 'write_file', arguments: args };
}

function receipt(filePath, message) {
  const text = JSON.stringify({ received: true, path: filePath, message });
  return { content: [{ type: 'text', text }] };
}

describe('with a review broker', { timeout: 60000 }, () => {
  let dir;
  let broker;
  let session;

  before(async () => {
    dir = makeTempDir('varnock-e2e-');
    const workspace = path.join(dir, 'ws');
    fs.mkdirSync(workspace);
    fs.writeFileSync(path.join(workspace, 'notes.txt'), 'old\n');
    // The reviewer rejects what it is told to reject.
    broker = await startBroker(
      path.join(dir, 'broker.sock'),
      (proposal) => !proposal.payload.explanationInMarkdown.includes('please reject'),
    );
    session = await openSession({ workspace, env: { VARNOCK_SOCKET: broker.socketPath } });
  });

  after(async () => {
    await session?.close();
    await broker?.close();
    if (dir) fs.rmSync(dir, { recursive: true, force: true });
  });

  test('the handshake completes and names the server', () => {
    assert.deepEqual(session.client.getServerVersion(), {
      name: 'varnock-mcp',
      version: SERVER_VERSION,
    });
    assert.deepEqual(session.client.getServerCapabilities(), { tools: {} });
  });

  test('tools/list passes the SDK schema and lists write_file', async () => {
    const result = await session.client.listTools();
    assert.ok(ListToolsResultSchema.safeParse(result).success);
    assert.deepEqual(
      result.tools.map((tool) => tool.name),
      ['write_file'],
    );
  });

  test('a refused call surfaces as an MCP error -32602', async () => {
    const call = writeFile({ path: '../x', content: 'x', explanationInMarkdown: 'why' });
    await assertToolError(session.client.callTool(call), 'path must stay inside the workspace');
  });

  test('an accepted review gives the receipt; a rejected one an MCP error', async () => {
    const call = (explanationInMarkdown) =>
      session.client.callTool(
        writeFile({ path: 'notes.txt', content: 'new\n', explanationInMarkdown }),
      );
    assert.deepEqual(
      await call('- why'),
      receipt('notes.txt', 'file written and accepted by reviewer'),
    );
    await assertToolError(call('please reject'), 'The request has been rejected.');
    assert.deepEqual(
      broker.proposals.map((proposal) => proposal.payload.before),
      ['old\n', 'old\n'],
    );
    assert.deepEqual(session.errors, []);
  });
});

test('without a broker, write_file answers with the not-written receipt', async () => {
  const workspace = makeTempDir('varnock-e2e-ws-');
  const session = await openSession({ workspace });
  try {
    const result = await session.client.callTool(
      writeFile({ path: 'notes.txt', content: 'hello\n', explanationInMarkdown: 'why' }),
    );
    assert.deepEqual(result, receipt('notes.txt', 'not written: no review broker is connected'));
    assert.equal(fs.existsSync(path.join(workspace, 'notes.txt')), false);
    assert.deepEqual(session.errors, []);
  } finally {
    await session.close();
    fs.rmSync(workspace, { recursive: true, force: true });
  }
});
