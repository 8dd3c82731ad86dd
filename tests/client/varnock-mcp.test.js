// End-to-end tests: the MCP TypeScript SDK's client drives the built
// varnock-mcp over stdio, with a review broker on a Unix-domain socket.
//
//   VARNOCK_MCP_BINARY=/path/to/varnock-mcp node --test varnock-mcp.test.js

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import {
  ListToolsResultSchema,
  assertToolError,
  makeTempDir,
  openSession,
  startBroker,
  waitFor,
} from './support.js';

const THREAD_ID = 't-e2e';

const RECEIPT_ACCEPTED =
  '{"received":true,"path":"notes.txt","message":"file written and accepted by reviewer"}';
const REJECTED = 'The request has been rejected.';
const OUTSIDE = 'path must stay inside the workspace';
const EMPTY_CONTENT =
  'write_file rejected: content is empty. varnock_write_file does not create zero-byte ' +
  'files \u2014 supply the actual file contents, or if you genuinely meant to create an ' +
  'empty file, ask the user and use a shell command (`touch`) instead.';

const TOOL_DESCRIPTION =
  'Submit a full-file replacement for human review. The user sees the diff plus your ' +
  'explanation side-by-side and decides whether to accept.';
const PATH_DESCRIPTION = 'Absolute path of the file to create or overwrite.';

function writeFile(args) {
  return { name: 'write_file', arguments: args };
}

// The receipt a call gets when the server runs without a broker.
function unreviewedReceipt(filePath) {
  return JSON.stringify({
    received: true,
    path: filePath,
    message: 'not written: no review broker is connected',
  });
}

function textResult(text) {
  return { content: [{ type: 'text', text }] };
}

// One proposal line as the broker must see it: compact, members sorted.
function proposalLine(id, { after, before, explanationInMarkdown, path: filePath }) {
  const payload = { after, before, explanationInMarkdown, path: filePath };
  return JSON.stringify({ id, payload, type: 'proposal' });
}

describe('with a review broker', { timeout: 60000 }, () => {
  let dir;
  let workspace;
  let broker;
  let session;

  before(async () => {
    dir = makeTempDir('varnock-e2e-');
    workspace = path.join(dir, 'ws');
    fs.mkdirSync(workspace);
    broker = await startBroker(path.join(dir, 'broker.sock'), (proposal) => {
      // The reviewer in these tests rejects what it is told to reject.
      return !proposal.payload.explanationInMarkdown.includes('please reject');
    });
    session = await openSession({
      workspace,
      env: { VARNOCK_SOCKET: broker.socketPath, VARNOCK_THREAD_ID: THREAD_ID },
    });
  });

  after(async () => {
    await session?.close();
    await broker?.close();
    if (dir) fs.rmSync(dir, { recursive: true, force: true });
  });

  test('connect: initialize answered with 2025-06-18, then the initialized notification', async () => {
    const { client, sent, received } = session;
    assert.deepEqual(client.getServerVersion(), { name: 'varnock-mcp', version: '0.4.11' });
    assert.deepEqual(client.getServerCapabilities(), { tools: {} });
    assert.deepEqual(
      sent.slice(0, 2).map((message) => message.method),
      ['initialize', 'notifications/initialized'],
    );
    assert.equal(received[0].id, sent[0].id);
    assert.equal(received[0].result.protocolVersion, '2025-06-18');

    // The notification gets no answer: after one more request, every message
    // the server sent answers a request of the client's.
    await client.listTools();
    const requestIds = sent.filter((m) => 'id' in m).map((m) => m.id);
    assert.deepEqual(
      received.map((m) => m.id),
      requestIds,
    );
    assert.deepEqual(session.errors, []);
  });

  test('the broker hears the hello first, and the server reports the connection', async () => {
    const hello = await broker.firstLine;
    const pid = session.transport.pid;
    assert.equal(hello, `{"pid":${pid},"role":"main","threadId":"${THREAD_ID}","type":"hello"}`);
    assert.equal(broker.connections, 1);
    const diagnostic = `[varnock-mcp] connected broker ${broker.socketPath}\n`;
    await waitFor(() => session.stderr().includes(diagnostic), 'the connected-broker diagnostic');
    assert.equal(session.stderr(), diagnostic);
  });

  test('tools/list: one write_file tool that the SDK schemas accept', async () => {
    const result = await session.client.listTools();
    assert.ok(ListToolsResultSchema.safeParse(result).success);
    assert.equal(result.nextCursor, undefined);
    assert.equal(result.tools.length, 1);

    const [tool] = result.tools;
    assert.deepEqual(Object.keys(tool).sort(), ['description', 'inputSchema', 'name']);
    assert.equal(tool.name, 'write_file');
    assert.equal(tool.description, TOOL_DESCRIPTION);

    const schema = tool.inputSchema;
    assert.equal(schema.type, 'object');
    assert.deepEqual(schema.required, ['path', 'content', 'explanationInMarkdown']);
    assert.deepEqual(Object.keys(schema.properties), ['content', 'explanationInMarkdown', 'path']);
    for (const property of Object.values(schema.properties)) {
      assert.deepEqual(Object.keys(property), ['description', 'type']);
      assert.equal(property.type, 'string');
    }
    assert.equal(schema.properties.path.description, PATH_DESCRIPTION);
    // The two long descriptions carry dashes as UTF-8; their byte lengths pin them.
    assert.equal(Buffer.byteLength(schema.properties.content.description), 160);
    assert.equal(Buffer.byteLength(schema.properties.explanationInMarkdown.description), 843);
  });

  test('write_file accepted by the reviewer: the receipt, after one proposal', async () => {
    const seq = broker.proposals.length;
    const result = await session.client.callTool(
      writeFile({ path: 'notes.txt', content: 'hello\n', explanationInMarkdown: '- adds a greeting' }),
    );
    assert.deepEqual(result, textResult(RECEIPT_ACCEPTED));

    assert.equal(broker.proposals.length, seq + 1);
    const { raw, message } = broker.proposals[seq];
    assert.match(message.id, new RegExp(`^edit-[0-9]+-${seq}$`));
    assert.equal(
      raw,
      proposalLine(message.id, {
        after: 'hello\n',
        before: '',
        explanationInMarkdown: '- adds a greeting',
        path: 'notes.txt',
      }),
    );
    // Applying the edit is the broker's business: the server wrote nothing.
    assert.equal(fs.existsSync(path.join(workspace, 'notes.txt')), false);
  });

  test('write_file of an existing file proposes its present content as "before"', async () => {
    fs.writeFileSync(path.join(workspace, 'existing.txt'), 'old text\n');
    const absolute = path.join(workspace, 'existing.txt');
    const seq = broker.proposals.length;
    const result = await session.client.callTool(
      writeFile({ path: absolute, content: 'new text\n', explanationInMarkdown: '- rewrites' }),
    );
    assert.deepEqual(
      result,
      textResult(
        JSON.stringify({
          received: true,
          path: absolute,
          message: 'file written and accepted by reviewer',
        }),
      ),
    );
    const { message } = broker.proposals[seq];
    assert.match(message.id, new RegExp(`-${seq}$`));
    assert.deepEqual(message.payload, {
      after: 'new text\n',
      before: 'old text\n',
      explanationInMarkdown: '- rewrites',
      path: absolute,
    });
  });

  test('write_file rejected by the reviewer: error -32602', async () => {
    const seq = broker.proposals.length;
    await assertToolError(
      session.client.callTool(
        writeFile({ path: 'notes.txt', content: 'bye\n', explanationInMarkdown: 'please reject' }),
      ),
      REJECTED,
    );
    assert.equal(broker.proposals.length, seq + 1);
    assert.match(broker.proposals[seq].message.id, new RegExp(`-${seq}$`));
  });

  // Calls the server refuses itself; none of them reaches the broker.
  const refusals = [
    {
      name: 'a relative path leaving the workspace',
      call: writeFile({ path: '../outside.txt', content: 'x', explanationInMarkdown: 'why' }),
      message: OUTSIDE,
    },
    {
      name: 'an absolute path outside the workspace',
      call: writeFile({ path: '/etc/hosts', content: 'x', explanationInMarkdown: 'why' }),
      message: OUTSIDE,
    },
    {
      name: 'an empty path',
      call: writeFile({ path: ' ', content: 'x', explanationInMarkdown: 'why' }),
      message: 'path is required',
    },
    {
      name: 'empty content',
      call: writeFile({ path: 'notes.txt', content: '', explanationInMarkdown: 'why' }),
      message: EMPTY_CONTENT,
    },
    {
      name: 'a blank explanation',
      call: writeFile({ path: 'notes.txt', content: 'x', explanationInMarkdown: ' \n\t' }),
      message: 'explanation_in_markdown is required',
    },
    {
      name: 'no arguments at all',
      call: { name: 'write_file' },
      message: 'missing field `path`',
    },
    {
      name: 'arguments without content',
      call: writeFile({ path: 'notes.txt', explanationInMarkdown: 'why' }),
      message: 'missing field `content`',
    },
    {
      name: 'a path that is not a string',
      call: writeFile({ path: 5, content: 'x', explanationInMarkdown: 'why' }),
      message: 'invalid type: integer `5`, expected a string',
    },
    {
      name: 'another tool name',
      call: { name: 'Write_file', arguments: {} },
      message: 'unknown tool: Write_file',
    },
  ];

  test('refused calls: error -32602 with the server message, broker not asked', async (t) => {
    const before = broker.proposals.length;
    for (const { name, call, message } of refusals) {
      await t.test(name, () => assertToolError(session.client.callTool(call), message));
    }
    // A call after the refusals is the next one the broker sees.
    await session.client.callTool(
      writeFile({ path: 'after.txt', content: 'x', explanationInMarkdown: 'why' }),
    );
    assert.equal(broker.proposals.length, before + 1);
    assert.equal(broker.proposals[before].message.payload.path, 'after.txt');
    assert.deepEqual(session.errors, []);
  });
});

describe('without a review broker', { timeout: 60000 }, () => {
  let dir;
  before(() => {
    dir = makeTempDir('varnock-e2e-');
  });
  after(() => fs.rmSync(dir, { recursive: true, force: true }));

  const cases = [
    { name: 'VARNOCK_SOCKET unset', socket: undefined },
    { name: 'nothing listening at VARNOCK_SOCKET', socket: 'absent.sock' },
  ];
  for (const { name, socket } of cases) {
    test(`${name}: write_file answers with the unreviewed receipt`, async () => {
      const workspace = makeTempDir('varnock-e2e-ws-');
      const env = socket ? { VARNOCK_SOCKET: path.join(dir, socket) } : {};
      let session;
      try {
        session = await openSession({ workspace, env });
        const result = await session.client.callTool(
          writeFile({ path: 'notes.txt', content: 'hello\n', explanationInMarkdown: 'why' }),
        );
        assert.deepEqual(result, textResult(unreviewedReceipt('notes.txt')));
        assert.equal(fs.existsSync(path.join(workspace, 'notes.txt')), false);

        // The server's own checks still run.
        await assertToolError(
          session.client.callTool(
            writeFile({ path: 'notes.txt', content: '', explanationInMarkdown: 'why' }),
          ),
          EMPTY_CONTENT,
        );

        if (socket) {
          const prefix = `[varnock-mcp] broker connect failed ${env.VARNOCK_SOCKET}: `;
          await waitFor(() => session.stderr().includes('\n'), 'the connect-failed diagnostic');
          assert.ok(session.stderr().startsWith(prefix), session.stderr());
          assert.match(session.stderr(), / \(os error [0-9]+\)\n$/);
        } else {
          assert.equal(session.stderr(), '');
        }
        assert.deepEqual(session.errors, []);
      } finally {
        await session?.close();
        fs.rmSync(workspace, { recursive: true, force: true });
      }
    });
  }
});

describe('a broker that goes away', { timeout: 60000 }, () => {
  test('a call whose review is cut off fails with the server message', async () => {
    const dir = makeTempDir('varnock-e2e-');
    const workspace = path.join(dir, 'ws');
    fs.mkdirSync(workspace);
    const broker = await startBroker(path.join(dir, 'broker.sock'), () => 'close');
    let session;
    try {
      session = await openSession({ workspace, env: { VARNOCK_SOCKET: broker.socketPath } });
      await assertToolError(
        session.client.callTool(
          writeFile({ path: 'notes.txt', content: 'x', explanationInMarkdown: 'why' }),
        ),
        'broker closed connection before decision',
      );
      assert.equal(broker.proposals.length, 1);
      // The server lives on without its broker and still answers.
      const list = await session.client.listTools();
      assert.equal(list.tools[0].name, 'write_file');
    } finally {
      await session?.close();
      await broker.close();
      fs.rmSync(dir, { recursive: true, force: true });
    }
  });
});
