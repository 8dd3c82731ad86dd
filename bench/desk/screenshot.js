// Takes docs/desk.png: the desk of the built varnock-review as a person sees
// it, with a realistic proposal from one real varnock-mcp and a second from
// another project waiting behind it. Uses the browser tests' harness (npm ci
// in tests/browser first).
// Run: VARNOCK_REVIEW=... VARNOCK_MCP=... node bench/desk/screenshot.js [path]
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { makeTempDir, startBrowser, startReviewer, startServer } from '../../tests/browser/harness.js';

const output = process.argv[2] || fileURLToPath(new URL('../../docs/desk.png', import.meta.url));

// A C file whose total overflowed and whose reader took an empty buffer.
function records(fixed) {
  const weights = Array.from({ length: 60 }, (_, i) => `  total += weight_${i + 1};\n`).join('');
  return '#include <stdio.h>\n#include <string.h>\n\n' +
    '/* Reads one record; gives its length or -1. */\n' +
    'static int read_record(FILE *in, char *buffer, size_t size) {\n' +
    (fixed ? '  if (size == 0 || fgets(buffer, (int)size, in) == NULL) return -1;\n'
      : '  if (fgets(buffer, size, in) == NULL) return -1;\n') +
    '  return (int)strlen(buffer);\n}\n\nint main(void) {\n' +
    (fixed ? '  long total = 0;\n' : '  int total = 0;\n') + weights +
    (fixed ? '  printf("%ld\\n", total);\n  return total > 0 ? 0 : 1;\n}\n'
      : '  printf("%d\\n", total);\n  return 0;\n}\n');
}

const explanation = "## Why\n\nThe total overflowed `int` for large inputs, and a zero-sized buffer reached `fgets`.\n\n| Change | Effect |\n|---|---|\n| `long total` | no overflow up to 2^63 |\n| `size == 0` check | no call with an empty buffer |\n\n- [x] builds\n- [ ] ~~benchmarked~~\n\nSee https://example.org/notes for the record format.\n";

const reviewer = await startReviewer();
const projects = makeTempDir('desk-screenshot-');
const servers = [];
const browser = await startBrowser(reviewer.origin);
try {
  for (const name of ['records', 'demo']) mkdirSync(join(projects, name, 'src'), { recursive: true });
  writeFileSync(join(projects, 'records', 'src', 'records.c'), records(false));
  writeFileSync(join(projects, 'demo', 'README.md'), "# Demo\n\nOld words here.\n");
  const page = browser.context.pages()[0] || await browser.context.newPage();
  await page.setViewportSize({ width: 1200, height: 720 });
  await page.goto(reviewer.url);
  servers.push(await startServer(join(projects, 'records'), reviewer.socket));
  servers.push(await startServer(join(projects, 'demo'), reviewer.socket));
  servers[0].writeFile('src/records.c', records(true), explanation);
  await page.getByRole('heading', { name: 'src/records.c' }).waitFor();
  servers[1].writeFile('README.md', "# Demo\n\nNew words here.\n", "Refreshes the *README*.");
  await page.locator('#queue button[data-number="2"]').waitFor();
  await page.screenshot({ path: output });
  console.log(`wrote ${output}`);
} finally {
  await browser.close();
  for (const server of servers) await server.kill();
  await reviewer.stop();
}
