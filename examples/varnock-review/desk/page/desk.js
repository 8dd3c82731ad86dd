// The review desk's page. Everything the agent wrote reaches the document
// as text nodes (textContent, createTextNode); the one exception is the
// explanation's HTML, which the server rendered from Markdown in cmark-gfm's
// safe mode, or escaped whole as plain text under a note when rendering it
// would cost too much.
'use strict';

// The secret token comes in the address on the first load; the address bar
// is cleared of it at once, and it is kept for this tab in sessionStorage,
// which belongs to this origin alone, port included. Every request for the
// queue carries it in a header, the event socket in its address. (The
// HttpOnly cookie the first load sets only fetches the page's own files: a
// cookie reaches every server on this host, whatever its port.)
const TOKEN = (() => {
  const fromAddress = new URLSearchParams(location.search).get('token');
  if (fromAddress) sessionStorage.setItem('desk-token', fromAddress);
  history.replaceState(null, '', '/');
  return sessionStorage.getItem('desk-token') || '';
})();

const FOLD_CHUNK = 1000;         // lines fetched per "show" of a fold
const FIRST_ROWS = 1500;         // rows drawn before the page may react again
const NARROW = '(max-width: 900px)';
const HIDDEN = /[\p{Cc}\p{Cf}\p{Zl}\p{Zp}\u115F\u1160\u3164\uFFA0\uFE00-\uFE0F\u{E0000}-\u{E007F}\u{E0100}-\u{E01EF}]/u;
const HIDDEN_ALL = new RegExp(HIDDEN.source, 'gu');

const desk = {
  pending: [],
  current: null,      // the number shown
  view: null,         // the proposal view from /api/proposals/N
  mode: 'changes',    // 'changes' | 'whole' | 'unified'
  withdrawn: new Set(),
  answered: new Map(),  // number -> what the person answered
  renderings: 0,        // counts diff drawings; a newer one stops an older
  notices: [],
};

const $ = (id) => document.getElementById(id);

function element(tag, attributes = {}, text) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

// Appends `text` to `parent`, writing each invisible or display-changing
// character (controls, format characters such as zero-width and bidi
// controls, tag characters, variation selectors, line and paragraph
// separators) as a visible marker like "⟨U+200B⟩", except the characters
// in `kept` (tabs, by default). Gives whether any marker was written.
function appendVisible(parent, text, kept = '\t') {
  let found = false;
  let start = 0;
  for (const match of text.matchAll(HIDDEN_ALL)) {
    if (kept.includes(match[0])) continue;
    if (match.index > start) parent.append(text.slice(start, match.index));
    const code = match[0].codePointAt(0).toString(16).toUpperCase().padStart(4, '0');
    parent.append(element('span', { class: 'hidden-char', title: 'hidden character' }, `⟨U+${code}⟩`));
    start = match.index + match[0].length;
    found = true;
  }
  if (start < text.length) parent.append(text.slice(start));
  return found;
}

async function request(path, options = {}) {
  const response = await fetch(path, {
    credentials: 'same-origin', cache: 'no-store', ...options,
    headers: { ...options.headers, 'X-Desk-Token': TOKEN },
  });
  const body = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(body.error || `HTTP ${response.status}`);
  return body;
}

// ---- the queue and the history ----

// "pid N", and the thread when the server names one (hosts often do not).
function describeServer(server) {
  return `pid ${server.pid}${server.thread_id ? ` · thread ${server.thread_id}` : ''}`;
}

function serverKey(server) {
  return `${server.workspace}\u0000${server.pid}\u0000${server.thread_id}`;
}

function renderQueue() {
  const queue = $('queue');
  queue.replaceChildren();
  const groups = new Map();
  for (const proposal of desk.pending) {
    const key = serverKey(proposal.server);
    if (!groups.has(key)) groups.set(key, []);
    groups.get(key).push(proposal);
  }
  for (const proposals of groups.values()) {
    const { server } = proposals[0];
    const group = element('section', { class: 'group' });
    const heading = element('h3');
    appendVisible(heading, `${server.workspace} · ${describeServer(server)}`);
    group.append(heading);
    for (const proposal of proposals) {
      const button = element('button', { type: 'button', 'data-number': proposal.number });
      appendVisible(button, `#${proposal.number} ${proposal.path}`);
      if (proposal.number === desk.current) button.setAttribute('aria-current', 'true');
      button.addEventListener('click', () => show(proposal.number));
      group.append(button);
    }
    queue.append(group);
  }
}

function renderHistory(history) {
  const list = $('history');
  list.replaceChildren();
  for (const decision of history) {
    const item = element('li');
    appendVisible(item, `#${decision.number} ${decision.outcome}: ${decision.path}`);
    if (decision.time) item.title = decision.time;
    list.append(item);
  }
}

async function refresh() {
  const state = await request('/api/state');
  desk.pending = state.pending;
  renderHistory(state.history);
  const stillPending = desk.pending.some((p) => p.number === desk.current);
  if (desk.current !== null && !stillPending && !desk.withdrawn.has(desk.current) &&
      !desk.answered.has(desk.current)) {
    setOutcome(`#${desk.current} was answered elsewhere.`);
    desk.answered.set(desk.current, 'elsewhere');
    updateButtons();
  }
  renderQueue();
  if (desk.current === null || (!stillPending && desk.answered.has(desk.current))) {
    const next = desk.pending.find((p) => !desk.withdrawn.has(p.number));
    if (next) await show(next.number);
    else if (desk.current === null) showNothing();
  }
}

function showNothing() {
  $('proposal').hidden = true;
  $('empty').hidden = false;
}

function setOutcome(text) {
  $('outcome').textContent = text;
}

// ---- one proposal ----

async function show(number) {
  let view;
  try {
    view = await request(`/api/proposals/${number}`);
  } catch (error) {
    setOutcome(`#${number} cannot be shown: ${error.message}`);
    return;
  }
  desk.current = number;
  desk.view = view;
  $('empty').hidden = true;
  $('proposal').hidden = false;
  renderMeta(view.proposal);
  renderExplanation(view.explanation_html);
  renderDiff();
  renderQueue();
  updateButtons();
}

function renderMeta(proposal) {
  const notices = [];
  const path = $('path');
  path.replaceChildren();
  if (appendVisible(path, proposal.path)) notices.push('hidden characters in the path');
  const facts = $('facts');
  facts.replaceChildren();
  const fact = (name, value) => {
    facts.append(element('dt', {}, name));
    const dd = element('dd');
    appendVisible(dd, value);
    facts.append(dd);
  };
  if (proposal.target && proposal.target !== proposal.path) fact('Target', proposal.target);
  fact('Workspace', proposal.server.workspace);
  fact('Server', describeServer(proposal.server));
  fact('Size', `${proposal.before_size} → ${proposal.after_size} bytes`);
  if (proposal.new_file) notices.push('new file');
  notices.push(...proposal.notices);
  desk.notices = notices;
  renderNotices([]);
}

// The reviewer's notices and the page's own, each once (both find hidden
// characters).
function renderNotices(extra) {
  const list = $('notices');
  list.replaceChildren();
  for (const notice of new Set([...desk.notices, ...extra])) {
    const item = element('li');
    appendVisible(item, notice);
    list.append(item);
  }
}

function renderExplanation(html) {
  const region = $('explanation');
  // The one place HTML is inserted: cmark-gfm's safe-mode output, or the
  // escaped text under a note.
  region.innerHTML = html;
  for (const link of region.querySelectorAll('a[href]')) {
    link.rel = 'noopener noreferrer';
    link.target = '_blank';
  }
  if (markHiddenText(region)) desk.notices.push('hidden characters in the explanation');
}

// Rewrites each text node under `root` that holds hidden characters with
// visible markers; gives whether there was any.
function markHiddenText(root) {
  const walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT);
  const found = [];
  while (walker.nextNode()) {
    if (HIDDEN.test(walker.currentNode.data.replace(/[\t\n]/g, ''))) found.push(walker.currentNode);
  }
  for (const node of found) {
    const holder = document.createDocumentFragment();
    appendVisible(holder, node.data, '\t\n');
    node.replaceWith(holder);
  }
  return found.length > 0;
}

function updateButtons() {
  const number = desk.current;
  const closed = desk.withdrawn.has(number) || desk.answered.has(number);
  $('accept').disabled = closed;
  $('reject').disabled = closed;
  $('proposal').classList.toggle('withdrawn', desk.withdrawn.has(number));
}

async function answer(accept) {
  const number = desk.current;
  if (number === null || desk.withdrawn.has(number) || desk.answered.has(number)) return;
  const word = accept ? 'accept' : 'reject';
  desk.answered.set(number, word);
  updateButtons();
  try {
    const result = await request(`/api/proposals/${number}/answer`, { method: 'POST', body: word });
    setOutcome(result.decided
      ? `#${number} ${accept ? 'accepted' : 'rejected'}.`
      : `#${number} was no longer pending: another answer or its server's departure came first.`);
  } catch (error) {
    desk.answered.delete(number);
    updateButtons();
    setOutcome(`#${number}: the answer was not taken (${error.message}).`);
  }
}

function markWithdrawn(number) {
  desk.withdrawn.add(number);
  if (number === desk.current) {
    setOutcome(`#${number} was withdrawn: its server went away. It can no longer be accepted.`);
    updateButtons();
  }
}

// ---- the diff ----

function unifiedWanted() {
  return desk.mode === 'unified' || window.matchMedia(NARROW).matches;
}

// Draws the first rows of the diff at once and the rest in one more step,
// so that a large change is readable and the buttons usable at once. Each
// hunk is a block the browser lays out only when it comes near the view
// (content-visibility in desk.css), which keeps scrolling smooth.
function renderDiff() {
  const generation = ++desk.renderings;
  const unified = unifiedWanted();
  const body = element('div', { class: unified ? 'diff unified' : 'diff' });
  $('changes').replaceChildren(body);
  const sink = { body, unified, hidden: false };
  const blocks = desk.view.diff.blocks;
  let next = 0;
  const draw = (limit) => {
    if (generation !== desk.renderings) return;
    sink.body = document.createDocumentFragment();
    for (let rows = 0; next < blocks.length && rows < limit; ++next) {
      const block = blocks[next];
      if (block.fold) sink.body.append(foldRow(block.fold, sink));
      else rows += appendHunk(block.hunk, sink);
    }
    body.append(sink.body);
    sink.body = body;
    if (next < blocks.length) setTimeout(() => draw(Infinity), 0);
    else finishDiff(body, sink);
  };
  draw(FIRST_ROWS);
  performance.mark(`desk-shown-${desk.current}`);
}

function finishDiff(body, sink) {
  const extra = [];
  if (sink.hidden) extra.push('hidden characters in the new text');
  const diff = desk.view.diff;
  if (diff.old_ends_with_newline !== diff.new_ends_with_newline) {
    extra.push(diff.new_ends_with_newline ? 'newline added at end of file' : 'no newline at end of the new text');
  }
  renderNotices(extra);
  if (desk.mode === 'whole') observeFolds(body, sink);
  performance.mark(`desk-drawn-${desk.current}`);
}

function numberCell(value) {
  return element('span', { class: 'no' }, value === null ? '' : String(value));
}

// A text cell with the given highlighted [begin, end) spans (UTF-16 units).
function textCell(kind, text, spans) {
  const cell = element('span', { class: kind });
  if (text === null) return { cell, hidden: false };
  let hidden = false;
  let at = 0;
  for (let i = 0; spans && i < spans.length; i += 2) {
    hidden = appendVisible(cell, text.slice(at, spans[i])) || hidden;
    const mark = element('mark');
    hidden = appendVisible(mark, text.slice(spans[i], spans[i + 1])) || hidden;
    cell.append(mark);
    at = spans[i + 1];
  }
  hidden = appendVisible(cell, text.slice(at)) || hidden;
  return { cell, hidden };
}

// One side-by-side row: old number, old text, new number, new text.
function sideRow(sink, oldNo, oldText, newNo, newText, spans) {
  const row = element('div', { class: 'row' });
  const oldCell = textCell(oldNo === null ? 'empty' : (newNo === null || spans ? 'del' : 'same'),
                           oldText, spans && spans[0]);
  const newCell = textCell(newNo === null ? 'empty' : (oldNo === null || spans ? 'add' : 'same'),
                           newText, spans && spans[1]);
  sink.hidden = sink.hidden || newCell.hidden;
  row.append(numberCell(oldNo), oldCell.cell, numberCell(newNo), newCell.cell);
  return row;
}

// One unified row: both numbers, a sign, the text.
function unifiedRow(sink, kind, oldNo, newNo, text, spans) {
  const row = element('div', { class: 'row' });
  const cls = kind === '-' ? 'del' : kind === '+' ? 'add' : 'same';
  const cell = textCell(cls, text, spans);
  if (kind !== '-') sink.hidden = sink.hidden || cell.hidden;
  row.append(numberCell(oldNo), numberCell(newNo), element('span', { class: 'kind' }, kind === '=' ? ' ' : kind), cell.cell);
  return row;
}

function appendHunk(hunk, sink) {
  let oldNo = hunk.old;
  let newNo = hunk.new;
  const rows = [];
  for (const row of hunk.rows) {
    const kind = row[0];
    if (sink.unified) {
      if (kind === '=') rows.push(unifiedRow(sink, '=', oldNo++, newNo++, row[1]));
      else if (kind === '-') rows.push(unifiedRow(sink, '-', oldNo++, null, row[1]));
      else if (kind === '+') rows.push(unifiedRow(sink, '+', null, newNo++, row[1]));
      else {
        rows.push(unifiedRow(sink, '-', oldNo++, null, row[1], row[3]));
        rows.push(unifiedRow(sink, '+', null, newNo++, row[2], row[4]));
      }
    } else if (kind === '=') rows.push(sideRow(sink, oldNo++, row[1], newNo++, row[1]));
    else if (kind === '-') rows.push(sideRow(sink, oldNo++, row[1], null, null));
    else if (kind === '+') rows.push(sideRow(sink, null, null, newNo++, row[1]));
    else rows.push(sideRow(sink, oldNo++, row[1], newNo++, row[2], [row[3], row[4]]));
  }
  const block = element('div', { class: 'hunk' });
  if (rows.length) {
    rows[0].classList.add('hunk-start');
    rows[0].tabIndex = -1;
  }
  block.append(...rows);
  sink.body.append(block);
  return rows.length;
}

function foldRow(fold, sink) {
  const row = element('div', { class: 'fold' });
  const button = element('button', { type: 'button' }, `show ${fold.count} lines`);
  button.addEventListener('click', () => expandFold(row, fold, sink));
  row.append(button);
  row.fold = fold;
  return row;
}

// Replaces a fold row by its first lines (at most FOLD_CHUNK) and a fold
// for the rest.
async function expandFold(row, fold, sink) {
  if (row.loading) return;
  row.loading = true;
  const count = Math.min(fold.count, FOLD_CHUNK);
  let lines;
  try {
    lines = await request(`/api/proposals/${desk.current}/lines?from=${fold.new}&count=${count}`);
  } catch (error) {
    row.loading = false;
    setOutcome(`Lines could not be loaded: ${error.message}`);
    return;
  }
  const block = element('div', { class: 'hunk' });
  block.append(...lines.map((text, i) => sink.unified
    ? unifiedRow(sink, '=', fold.old + i, fold.new + i, text)
    : sideRow(sink, fold.old + i, text, fold.new + i, text)));
  const rows = [block];
  if (fold.count > lines.length && lines.length > 0) {
    const rest = { old: fold.old + lines.length, new: fold.new + lines.length, count: fold.count - lines.length };
    const restRow = foldRow(rest, sink);
    rows.push(restRow);
    if (sink.observer) sink.observer.observe(restRow);
  }
  row.replaceWith(...rows);
}

// The whole-file view: folds open themselves as they scroll into sight, a
// chunk at a time, so a large file never becomes a row per line at once.
function observeFolds(body, sink) {
  sink.observer = new IntersectionObserver((entries) => {
    for (const entry of entries) {
      if (!entry.isIntersecting) continue;
      sink.observer.unobserve(entry.target);
      expandFold(entry.target, entry.target.fold, sink);
    }
  }, { root: $('changes'), rootMargin: '400px' });
  for (const row of body.querySelectorAll('.fold')) sink.observer.observe(row);
}

function setMode(mode) {
  desk.mode = mode;
  for (const name of ['changes', 'whole', 'unified']) {
    $(`view-${name}`).setAttribute('aria-pressed', String(name === mode));
  }
  if (desk.view) renderDiff();
}

// Moves to the next (step 1) or previous (-1) change and focuses it.
function moveToChange(step) {
  const starts = [...$('changes').querySelectorAll('.hunk-start')];
  if (!starts.length) return;
  const index = starts.indexOf(document.activeElement);
  const next = index < 0 ? (step > 0 ? 0 : starts.length - 1)
    : Math.max(0, Math.min(starts.length - 1, index + step));
  starts[next].focus();
  starts[next].scrollIntoView({ block: 'center' });
}

// ---- events ----

function connectEvents() {
  const socket = new WebSocket(`ws://${location.host}/events?token=${encodeURIComponent(TOKEN)}`);
  socket.addEventListener('open', () => {
    $('connection').textContent = 'Connected.';
    refresh();
  });
  socket.addEventListener('message', (message) => {
    const event = JSON.parse(message.data);
    performance.mark(`desk-${event.event}-${event.number}`);
    if (event.event === 'withdrawn') markWithdrawn(event.number);
    refresh();
  });
  socket.addEventListener('close', () => {
    $('connection').textContent = 'Disconnected from the reviewer; retrying…';
    setTimeout(connectEvents, 1000);
  });
}

function onKey(event) {
  if (event.ctrlKey || event.metaKey || event.altKey) return;
  if (event.target.closest && event.target.closest('input, textarea, select')) return;
  const actions = {
    a: () => answer(true),
    r: () => answer(false),
    j: () => moveToChange(1),
    k: () => moveToChange(-1),
  };
  const action = actions[event.key];
  if (!action || $('proposal').hidden) return;
  event.preventDefault();
  action();
}

$('accept').addEventListener('click', () => answer(true));
$('reject').addEventListener('click', () => answer(false));
for (const name of ['changes', 'whole', 'unified']) {
  $(`view-${name}`).addEventListener('click', () => setMode(name));
}
window.matchMedia(NARROW).addEventListener('change', () => desk.view && renderDiff());
document.addEventListener('keydown', onKey);
if (TOKEN) {
  connectEvents();
} else {
  $('connection').textContent = 'This tab has no token: open the address varnock-review printed.';
}
