// Starts the desk fixture program (DESK_FIXTURE, built as bench/desk_fixture)
// for measure.js and screenshot.js: its URL, and the lines it prints after
// that.
import { spawn } from 'node:child_process';
import { createInterface } from 'node:readline';

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
