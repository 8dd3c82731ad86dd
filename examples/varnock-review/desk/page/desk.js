// The review desk's page. Everything the agent wrote reaches the document
// as text nodes (textContent, createTextNode); the one exception is the
// explanation's HTML, which the server rendered from Markdown in cmark-gfm's
// safe mode, or escaped whole as plain text under a note when rendering it
// would cost too much. Syntax colours (colours.js) come as runs of a class
// over the text, never as HTML.
'use strict';

// The secret token comes in the address on the first load; the address bar
// is cleared of it at once, and it is kept in this page's memory alone.
// Whatever the origin stores (sessionStorage, IndexedDB) is read by the
// next page on this origin, and while the reviewer is down another local
// user may serve that page from its port: the browser reloads a tab by
// itself when it restores a session or a discarded tab. A reloaded tab
// therefore has no token and asks for the address again. Requests for the
// queue carry not the token but a key made from it for the reviewer's run,
// in a header (the event socket in its address), and only once the server
// on the port has proved that it holds the same token (see proveDesk):
// while the reviewer is down, any local user may take its port.
// The desk sets and reads no cookie: a cookie reaches every server on this
// host, whatever its port.
const TOKEN = (() => {
  const fromAddress = new URLSearchParams(location.search).get('token') || '';
  history.replaceState(null, '', '/');
  return fromAddress;
})();

// An answer counts only once its proposal has been on screen this long in a
// visible page; an earlier one was meant for what was there before.
const READING_TIME = 500;
const FOLD_CHUNK = 1000;         // lines fetched per "show" of a fold
const FIRST_ROWS = 1500;         // rows drawn, across hunks, before the page may react again
const NARROW = '(max-width: 900px)';
const HIDDEN = /[\p{Cc}\p{Cf}\p{Zl}\p{Zp}\u115F\u1160\u3164\uFFA0\uFE00-\uFE0F\u{E0000}-\u{E007F}\u{E0100}-\u{E01EF}]/u;
const HIDDEN_ALL = new RegExp(HIDDEN.source, 'gu');

const desk = {
  pending: [],
  current: null,      // the number shown
  past: null,         // the past decision shown instead (from /api/history), read-only
  recent: [],         // this run's decisions, shown when the journal cannot be read
  view: null,         // the proposal view from /api/proposals/N
  mode: 'changes',    // 'changes' | 'whole' | 'unified'
  withdrawn: new Set(),
  answered: new Map(),  // number -> what the person answered
  renderings: 0,        // counts diff drawings; a newer one stops an older
  sink: null,           // the diff drawing under way: where it stands in the model
  notices: [],
  seenSince: null,      // since when the current proposal is on screen in a visible page
  pageNotices: [],    // what the page found itself in the shown diff
  pastAsked: 0,       // counts past decisions asked for; only the last is shown
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
  if (!link.key) throw new Error('not connected to the reviewer');
  const response = await fetch(path, {
    credentials: 'same-origin', cache: 'no-store', ...options,
    headers: { ...options.headers, 'X-Desk-Token': link.key },
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

// The tab's title counts what waits, so it shows among other tabs.
function renderTitle() {
  const count = desk.pending.length;
  document.title = count ? `(${count}) Review desk` : 'Review desk';
}

// Browser notifications are offered by a button, never asked for on load;
// one is shown for each proposal that arrives while the tab is hidden. It
// says where the edit goes, never what it holds.
function offerNotifications() {
  const button = $('notify');
  if (!('Notification' in window) || Notification.permission !== 'default') return;
  button.hidden = false;
  button.addEventListener('click', async () => {
    await Notification.requestPermission();
    button.hidden = Notification.permission !== 'default';
  });
}

function notifyArrival(number) {
  if (!document.hidden || !('Notification' in window) || Notification.permission !== 'granted') {
    return;
  }
  const proposal = desk.pending.find((p) => p.number === number);
  if (!proposal) return;
  const project = proposal.server.workspace.split('/').pop();
  new Notification('A proposed edit waits for your review', {
    body: `${project}: ${proposal.path}`.replace(HIDDEN_ALL, '\uFFFD'),
    tag: `proposal-${number}`,
  });
}

function renderQueue() {
  renderTitle();
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

// The history is the journal's, across runs of the reviewer, searched by
// path and workspace; without a journal, this run's decisions.
async function loadHistory() {
  const search = $('history-search').value;
  try {
    const found = await request(`/api/history?limit=50&search=${encodeURIComponent(search)}`);
    renderPast(found.decisions);
  } catch {
    renderHistory(desk.recent);
  }
}

function pastOutcome(decision) {
  let text = decision.decision;
  if (decision.rule) text += ` by rule ${decision.rule}`;
  if (decision.reverted) text += ', reverted since';
  return text;
}

function renderPast(decisions) {
  const list = $('history');
  list.replaceChildren();
  for (const decision of decisions) {
    const item = element('li');
    const button = element('button', { type: 'button', 'data-entry': decision.entry });
    appendVisible(button, `${decision.time} · ${decision.workspace} · ${decision.path} — ${pastOutcome(decision)}`);
    if (desk.past && desk.past.entry === decision.entry) button.setAttribute('aria-current', 'true');
    button.addEventListener('click', () => showPast(decision));
    item.append(button);
    list.append(item);
  }
}

async function refresh() {
  const state = await request('/api/state');
  desk.pending = state.pending;
  desk.recent = state.history;
  const stillPending = desk.pending.some((p) => p.number === desk.current);
  if (desk.current !== null && !stillPending && !desk.withdrawn.has(desk.current) &&
      !desk.answered.has(desk.current)) {
    setOutcome(`#${desk.current} was answered elsewhere.`);
    desk.answered.set(desk.current, 'elsewhere');
    updateButtons();
  }
  renderQueue();
  const closed = desk.answered.has(desk.current) || desk.withdrawn.has(desk.current);
  if (desk.past === null && (desk.current === null || (!stillPending && closed))) {
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
    if (!view.proposal || !view.diff) throw new Error('its view could not be read');
  } catch (error) {
    setOutcome(`#${number} cannot be shown: ${error.message}`);
    return;
  }
  desk.current = number;
  desk.past = null;
  desk.view = view;
  $('empty').hidden = true;
  $('proposal').hidden = false;
  renderMeta(view.proposal);
  renderExplanation(view.explanation_html);
  renderDiff();
  renderQueue();
  updateButtons();
  startReading();
}

// A past decision's change, in the same view as a proposal's but with
// nothing to answer; an accepted edit can be reverted unless the list,
// which reads the reverts, says it was.
async function showPast(listed) {
  const asked = ++desk.pastAsked;
  let view;
  try {
    view = await request(`/api/history/${listed.entry}`);
  } catch (error) {
    if (asked === desk.pastAsked) setOutcome(`That decision cannot be shown: ${error.message}`);
    return;
  }
  if (asked !== desk.pastAsked) return;
  const decision = { ...view.decision, reverted: listed.reverted, revertible: listed.revertible };
  desk.current = null;
  desk.past = decision;
  desk.view = view.diff ? { proposal: { path: decision.path }, diff: view.diff } : null;
  $('empty').hidden = true;
  $('proposal').hidden = false;
  renderPastMeta(decision, view.notices || []);
  $('explanation').replaceChildren(element('p', { class: 'hint' }, 'Explanations are not kept in the history.'));
  if (desk.view) renderDiff();
  else {
    if (desk.sink) stopWatching(desk.sink);
    desk.sink = null;
    $('changes').replaceChildren(element('p', { class: 'diff-failure', role: 'status' },
      `The change cannot be shown: ${view.missing}.`));
  }
  renderQueue();
  loadHistory();
  updateButtons();
}

function renderPastMeta(decision, notices) {
  const path = $('path');
  path.replaceChildren();
  appendVisible(path, decision.path);
  const facts = $('facts');
  facts.replaceChildren();
  const fact = (name, value) => {
    if (!value) return;
    facts.append(element('dt', {}, name));
    const dd = element('dd');
    appendVisible(dd, value);
    facts.append(dd);
  };
  fact('Time', decision.time);
  fact('Workspace', decision.workspace);
  if (decision.target !== decision.path) fact('Target', decision.target);
  fact('Outcome', pastOutcome(decision));
  fact('Rule', decision.rule);
  fact('Reason', decision.reason);
  desk.notices = decision.new_file ? ['new file', ...notices] : notices;
  renderNotices([]);
}

async function revert() {
  const decision = desk.past;
  if (!decision || !decision.revertible) return;
  $('revert').disabled = true;
  try {
    await request(`/api/history/${decision.entry}/revert`, { method: 'POST', body: 'revert' });
    decision.revertible = false;
    decision.reverted = true;
    setOutcome(`Reverted: ${decision.path} ${decision.new_file ? 'is removed again' : 'has its earlier text back'}.`);
    renderPastMeta(decision, []);
  } catch (error) {
    setOutcome(`Not reverted: ${error.message}.`);
  }
  updateButtons();
  loadHistory();
}

// The reading time starts when a proposal is on screen in a visible page,
// and starts again whenever the page becomes visible.
function startReading() {
  desk.seenSince = document.visibilityState === 'visible' ? performance.now() : null;
}

function readLongEnough() {
  return desk.seenSince !== null && performance.now() - desk.seenSince >= READING_TIME;
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
  desk.pageNotices = extra;
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
  $('accept').hidden = desk.past !== null;
  $('reject').hidden = desk.past !== null;
  $('revert').hidden = !(desk.past && desk.past.revertible);
  document.querySelector('.actions .hint').hidden = desk.past !== null;
  $('revert').disabled = false;
  $('proposal').classList.toggle('withdrawn', desk.withdrawn.has(number));
}

async function answer(accept) {
  const number = desk.current;
  if (number === null || desk.withdrawn.has(number) || desk.answered.has(number)) return;
  if (!readLongEnough()) {
    setOutcome(`That answer came before #${number} could be read, so it is not taken.`);
    return;
  }
  const word = accept ? 'accept' : 'reject';
  desk.answered.set(number, word);
  updateButtons();
  try {
    // The run the view came from: a reviewer started again numbers afresh,
    // and refuses an answer meant for the earlier run's proposal.
    const run = encodeURIComponent(desk.view?.run || '');
    const result = await request(`/api/proposals/${number}/answer?run=${run}`, { method: 'POST', body: word });
    setOutcome(result.decided
      ? `#${number} ${accept ? 'accepted' : 'rejected'}.`
      : `#${number} was no longer pending: another answer or its server's departure came first.`);
  } catch (error) {
    desk.answered.delete(number);
    updateButtons();
    setOutcome(`#${number}: the answer was not taken (${error.message}).`);
  }
}

// A withdrawn proposal on screen makes way for the next pending one, as an
// answered one does (refresh moves on).
function markWithdrawn(number) {
  desk.withdrawn.add(number);
  if (number === desk.current) {
    setOutcome(`#${number} was withdrawn: its server went away. It can no longer be accepted.`);
    updateButtons();
  }
}

// The reviewer added a notice to waiting proposal `number` (its agent's
// host has gone, say): when it is the one shown, its notices are shown
// anew, with what the page found itself.
async function reshowNotices(number) {
  const view = await request(`/api/proposals/${number}`).catch(() => null);
  if (!view || number !== desk.current) return;
  for (const notice of view.proposal.notices) {
    if (!desk.notices.includes(notice)) desk.notices.push(notice);
  }
  renderNotices(desk.pageNotices);
  startReading();
}

// ---- the diff ----

function unifiedWanted() {
  return desk.mode === 'unified' || window.matchMedia(NARROW).matches;
}

// Draws the change a page of the model at a time: the first page comes with
// the proposal, and the next is fetched when the end of what is drawn comes
// near the view (or j goes past the last change drawn). A page is drawn
// FIRST_ROWS rows a step, so that a large change is readable and the buttons
// usable at once, and the page reacts between steps. Each piece of a hunk is
// a block the browser lays out only when it comes near the view
// (content-visibility in desk.css), which keeps scrolling smooth.
function renderDiff() {
  if (desk.sink) stopWatching(desk.sink);
  const unified = unifiedWanted();
  const body = element('div', { class: unified ? 'diff unified' : 'diff' });
  $('changes').replaceChildren(body);
  const { diff } = desk.view;
  const sink = {
    body, unified, generation: ++desk.renderings, number: desk.current, hidden: false,
    base: desk.past ? `/api/history/${desk.past.entry}` : `/api/proposals/${desk.current}`,
    oldNo: 0, newNo: 0, drawn: 0, total: diff.total, next: null, loading: null, more: null,
    language: languageOf(desk.view.proposal.path), colouring: [],
  };
  desk.sink = sink;
  if (desk.mode === 'whole') sink.observer = foldObserver(sink);
  const drawn = drawPage(diff, sink);
  performance.mark(`desk-shown-${desk.current}`);
  drawn.then((complete) => complete && performance.mark(`desk-drawn-${sink.number}`));
}

function current(sink) {
  return sink.generation === desk.renderings;
}

function stopWatching(sink) {
  if (sink.observer) sink.observer.disconnect();
  if (sink.endObserver) sink.endObserver.disconnect();
}

// Draws the blocks of `page`, FIRST_ROWS rows a step; resolves with whether
// it drew them all (not when a newer drawing took over, or it failed).
function drawPage(page, sink) {
  const at = { block: 0, row: 0 };
  return new Promise((resolve) => {
    const step = () => {
      if (!current(sink)) return resolve(false);
      try {
        if (!drawBlocks(page.blocks, at, sink, FIRST_ROWS)) return setTimeout(step, 0);
        sink.next = page.next;
        renderDiffNotices(sink);
        watchEnd(sink);
        resolve(true);
      } catch (error) {
        showDiffFailure(sink, error);
        resolve(false);
      }
    };
    step();
  });
}

// Draws blocks from `at` ({ block, row }) on, at most `limit` rows, and
// moves `at` past them; gives whether it reached the end of `blocks`.
function drawBlocks(blocks, at, sink, limit) {
  const fragment = document.createDocumentFragment();
  let drawn = 0;
  while (at.block < blocks.length && drawn < limit) {
    const block = blocks[at.block];
    if (block.fold) {
      fragment.append(foldRow(block.fold, sink));
      ++at.block;
      ++drawn;
      continue;
    }
    const { hunk } = block;
    if (at.row === 0) [sink.oldNo, sink.newNo] = [hunk.old, hunk.new];
    const end = Math.min(hunk.rows.length, at.row + limit - drawn);
    fragment.append(hunkPiece(hunk, at.row, end, sink));
    drawn += end - at.row;
    [at.block, at.row] = end < hunk.rows.length ? [at.block, end] : [at.block + 1, 0];
  }
  sink.body.append(fragment);
  sink.drawn += drawn;
  return at.block >= blocks.length;
}

// Rows [from, end) of `hunk` as one block. The first row of a hunk starts a
// change (for j and k), unless the hunk goes on from the page before.
function hunkPiece(hunk, from, end, sink) {
  const continued = from > 0 || hunk.continues;
  const block = element('div', { class: continued ? 'hunk continued' : 'hunk' });
  for (let i = from; i < end; ++i) appendRow(block, hunk.rows[i], sink);
  if (!continued && block.firstElementChild) {
    block.firstElementChild.classList.add('hunk-start');
    block.firstElementChild.tabIndex = -1;
  }
  return block;
}

// One row of the model; a cut line's row ends with the byte length of each
// line that was cut (null for one that was not).
function appendRow(block, row, sink) {
  const [kind] = row;
  if (sink.unified) {
    if (kind === '=') block.append(unifiedRow(sink, '=', sink.oldNo++, sink.newNo++, row[1], null, row[2]));
    else if (kind === '-') block.append(unifiedRow(sink, '-', sink.oldNo++, null, row[1], null, row[2]));
    else if (kind === '+') block.append(unifiedRow(sink, '+', null, sink.newNo++, row[1], null, row[2]));
    else {
      block.append(unifiedRow(sink, '-', sink.oldNo++, null, row[1], row[3], row[5]));
      block.append(unifiedRow(sink, '+', null, sink.newNo++, row[2], row[4], row[6]));
    }
  } else if (kind === '=') block.append(sideRow(sink, sink.oldNo++, row[1], sink.newNo++, row[1], null, [row[2], row[2]]));
  else if (kind === '-') block.append(sideRow(sink, sink.oldNo++, row[1], null, null, null, [row[2]]));
  else if (kind === '+') block.append(sideRow(sink, null, null, sink.newNo++, row[1], null, [null, row[2]]));
  else block.append(sideRow(sink, sink.oldNo++, row[1], sink.newNo++, row[2], [row[3], row[4]], [row[5], row[6]]));
}

// The notices of what the page found in the drawn part of the change.
function renderDiffNotices(sink) {
  const extra = [];
  if (sink.hidden) extra.push('hidden characters in the new text');
  const { diff } = desk.view;
  if (diff.old_ends_with_newline !== diff.new_ends_with_newline) {
    extra.push(diff.new_ends_with_newline ? 'newline added at end of file' : 'no newline at end of the new text');
  }
  renderNotices(extra);
}

// While the model has more, a marker after what is drawn fetches the next
// page when it comes near the view.
function watchEnd(sink) {
  if (sink.next === null || sink.next === undefined) return;
  if (!sink.more) {
    sink.more = element('div', { class: 'more' });
    sink.endObserver = new IntersectionObserver((entries) => {
      if (entries.some((entry) => entry.isIntersecting)) loadMore(sink);
    }, { root: $('changes'), rootMargin: '800px' });
  }
  sink.more.textContent = `${sink.drawn} of ${sink.total} rows drawn; more as you scroll…`;
  sink.body.append(sink.more);
  sink.endObserver.unobserve(sink.more);
  sink.endObserver.observe(sink.more);
}

// Fetches and draws the next page of the model, one at a time; resolves
// with whether one was drawn.
function loadMore(sink) {
  if (!sink.loading && sink.next !== null && current(sink)) {
    sink.loading = (async () => {
      try {
        sink.more.textContent = 'loading more of the change…';
        const page = await request(`${sink.base}/diff?from=${sink.next}`);
        if (!current(sink)) return false;
        sink.more.remove();
        return await drawPage(page, sink);
      } catch (error) {
        if (current(sink)) showDiffFailure(sink, error);
        return false;
      } finally {
        sink.loading = null;
      }
    })();
  }
  return sink.loading || Promise.resolve(false);
}

// Says, after what is drawn, why the (rest of the) change cannot be shown.
function showDiffFailure(sink, error) {
  sink.next = null;
  if (sink.more) sink.more.remove();
  const what = sink.drawn ? 'The rest of the change' : 'The change';
  sink.body.append(element('p', { class: 'diff-failure', role: 'alert' },
    `${what} cannot be shown: ${error.message}`));
}

function numberCell(value) {
  return element('span', { class: 'no' }, value === null ? '' : String(value));
}

// A text cell with the given changed [begin, end) spans (UTF-16 units), in
// marks; `length`, when given, is the byte length of the line the text was
// cut from. The cell is drawn plain, and coloured later when `sink` has a
// language.
function textCell(kind, text, spans, length, sink) {
  const cell = element('span', { class: kind });
  if (text === null) return { cell, hidden: false };
  const hidden = fillText(cell, { text, spans, length, runs: null });
  if (sink.language && text) colourLater(sink, { cell, text, spans, length });
  return { cell, hidden };
}

// Writes `line.text` into `cell`: its changed spans in marks, the parts in
// its coloured runs (or none) in spans of their class, then the cut note.
// Gives whether a hidden character was written as a marker.
function fillText(cell, line) {
  const { text, spans, length } = line;
  const runs = line.runs || [];
  const state = { at: 0, run: 0, hidden: false };
  for (let i = 0; spans && i < spans.length; i += 2) {
    appendColoured(cell, text, spans[i], runs, state);
    const mark = element('mark');
    appendColoured(mark, text, spans[i + 1], runs, state);
    cell.append(mark);
  }
  appendColoured(cell, text, text.length, runs, state);
  if (length !== null && length !== undefined) {
    cell.append(element('span', { class: 'cut' }, `⟨cut: the line has ${length} bytes⟩`));
  }
  return state.hidden;
}

// Appends text[state.at, to) to `parent`, each part within one of `runs`
// ([begin, end, class], in order) in a span of its class; moves `state`
// (where the text and the runs stand, and whether a marker was written).
function appendColoured(parent, text, to, runs, state) {
  while (state.at < to) {
    const run = runs[state.run];
    if (run && run[1] <= state.at) {
      ++state.run;
      continue;
    }
    const inside = run && run[0] <= state.at;
    const end = Math.min(to, run ? run[inside ? 1 : 0] : to);
    const holder = inside ? element('span', { class: run[2] }) : parent;
    state.hidden = appendVisible(holder, text.slice(state.at, end)) || state.hidden;
    if (inside) parent.append(holder);
    state.at = end;
  }
}

// Colours the cells of `sink` drawn plain, the earliest drawn first, while
// the page is idle: drawing, scrolling and the buttons never wait for
// colours, and only drawn lines are coloured.
function colourLater(sink, line) {
  sink.colouring.push(line);
  if (sink.colouring.length === 1) requestIdleCallback((deadline) => colourSome(sink, deadline));
}

function colourSome(sink, deadline) {
  let done = 0;
  let last = { text: null, runs: null };
  while (done < sink.colouring.length && current(sink) && deadline.timeRemaining() > 0) {
    const line = sink.colouring[done++];
    if (!line.cell.isConnected) continue;
    // Both sides of an unchanged row hold the same text.
    const runs = line.text === last.text ? last.runs : colourRuns(line.text, sink.language);
    last = { text: line.text, runs };
    if (!runs || runs.length === 0) continue;
    const coloured = document.createDocumentFragment();
    fillText(coloured, { ...line, runs });
    line.cell.replaceChildren(coloured);
  }
  if (!current(sink)) return;
  sink.colouring.splice(0, done);
  if (sink.colouring.length) requestIdleCallback((next) => colourSome(sink, next));
  else performance.mark(`desk-coloured-${sink.number}`);
}

// One side-by-side row: old number, old text, new number, new text; `spans`
// and `lengths` are of the old and the new side.
function sideRow(sink, oldNo, oldText, newNo, newText, spans, lengths = []) {
  const row = element('div', { class: 'row' });
  const oldCell = textCell(oldNo === null ? 'empty' : (newNo === null || spans ? 'del' : 'same'),
                           oldText, spans && spans[0], lengths[0], sink);
  const newCell = textCell(newNo === null ? 'empty' : (oldNo === null || spans ? 'add' : 'same'),
                           newText, spans && spans[1], lengths[1], sink);
  sink.hidden = sink.hidden || newCell.hidden;
  row.append(numberCell(oldNo), oldCell.cell, numberCell(newNo), newCell.cell);
  return row;
}

// One unified row: both numbers, a sign, the text.
function unifiedRow(sink, kind, oldNo, newNo, text, spans, length) {
  const row = element('div', { class: 'row' });
  const cls = kind === '-' ? 'del' : kind === '+' ? 'add' : 'same';
  const cell = textCell(cls, text, spans, length, sink);
  if (kind !== '-') sink.hidden = sink.hidden || cell.hidden;
  row.append(numberCell(oldNo), numberCell(newNo), element('span', { class: 'kind' }, kind === '=' ? ' ' : kind), cell.cell);
  return row;
}

// A fold says how many of its lines one press shows.
function foldRow(fold, sink) {
  const row = element('div', { class: 'fold' });
  const label = fold.count > FOLD_CHUNK ? `show ${FOLD_CHUNK} of ${fold.count} lines` : `show ${fold.count} lines`;
  const button = element('button', { type: 'button' }, label);
  button.addEventListener('click', () => expandFold(row, fold, sink));
  row.append(button);
  row.fold = fold;
  if (sink.observer) sink.observer.observe(row);
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
    lines = await request(`${sink.base}/lines?from=${fold.new}&count=${count}`);
  } catch (error) {
    row.loading = false;
    setOutcome(`Lines could not be loaded: ${error.message}`);
    return;
  }
  const block = element('div', { class: 'hunk' });
  lines.forEach((text, i) => block.append(sink.unified
    ? unifiedRow(sink, '=', fold.old + i, fold.new + i, text)
    : sideRow(sink, fold.old + i, text, fold.new + i, text)));
  row.replaceWith(block);
  if (fold.count > lines.length && lines.length > 0) {
    const rest = { old: fold.old + lines.length, new: fold.new + lines.length, count: fold.count - lines.length };
    block.after(foldRow(rest, sink));
  }
}

// The whole-file view: folds open themselves as they scroll into sight, a
// chunk at a time, so a large file never becomes a row per line at once.
function foldObserver(sink) {
  const observer = new IntersectionObserver((entries) => {
    for (const entry of entries) {
      if (!entry.isIntersecting) continue;
      observer.unobserve(entry.target);
      expandFold(entry.target, entry.target.fold, sink);
    }
  }, { root: $('changes'), rootMargin: '400px' });
  return observer;
}

function setMode(mode) {
  desk.mode = mode;
  for (const name of ['changes', 'whole', 'unified']) {
    $(`view-${name}`).setAttribute('aria-pressed', String(name === mode));
  }
  if (desk.view) renderDiff();
}

// Moves to the next (step 1) or previous (-1) change drawn and focuses it.
// Past the last change drawn it draws the next page of the model first;
// when that brings no new change, it shows the end of what is drawn.
async function moveToChange(step) {
  const sink = desk.sink;
  const changes = () => [...$('changes').querySelectorAll('.hunk-start')];
  let starts = changes();
  const index = starts.indexOf(document.activeElement);
  const last = index < 0 ? starts.length === 0 : index === starts.length - 1;
  if (step > 0 && last && sink && sink.next !== null) {
    await loadMore(sink);
    if (sink !== desk.sink) return;
    starts = changes();
    if (starts.length === 0 || index === starts.length - 1) {
      sink.body.lastElementChild?.scrollIntoView({ block: 'end' });
      return;
    }
  }
  if (!starts.length) return;
  const next = index < 0 ? (step > 0 ? 0 : starts.length - 1)
    : Math.max(0, Math.min(starts.length - 1, index + step));
  starts[next].focus();
  starts[next].scrollIntoView({ block: 'center' });
}

// ---- events ----

// A reviewer started again numbers its proposals afresh, so once the event
// socket was lost, what the tab knew by number (shown, answered, withdrawn)
// no longer holds: it is dropped, and the state is read anew. A past
// decision on screen stays: its journal entry names it in any run.
function forgetNumbers() {
  desk.withdrawn.clear();
  desk.answered.clear();
  if (desk.past !== null) return;
  desk.current = null;
  desk.view = null;
  if (desk.sink) stopWatching(desk.sink);
  desk.sink = null;
  desk.renderings += 1;
  setOutcome('');
  showNothing();
}

// Whether the server on this port is the desk whose token the tab holds:
// it must answer a fresh nonce with the HMAC-SHA256 of
// "varnock-review desk HOST NONCE RUN" under the token, which only the desk
// can make, RUN naming this run of the reviewer. The token itself is never
// sent: what the tab sends is the run's key, the HMAC of
// "varnock-review tab HOST RUN", which the desk accepts in that run alone.
// A request the browser sends again once the reviewer has stopped (it
// retries one whose connection closed unanswered) may reach whatever holds
// the port next; the key it carries opens no later run. Without Web Crypto
// (a page not on the loopback address, served over plain HTTP) there is
// nothing to check with, and the token is sent. Requests go out only while
// the event socket is open to a server that proved itself, and after what
// the tab knew of an earlier run is dropped. proveDesk gives the key, or ''
// for a server that proved nothing.
const link = { key: '' };

function hex(bytes) {
  return Array.from(new Uint8Array(bytes), (b) => b.toString(16).padStart(2, '0')).join('');
}

async function proveDesk() {
  if (!crypto.subtle) return TOKEN;
  const nonce = hex(crypto.getRandomValues(new Uint8Array(32)));
  const response = await fetch(`/proof?nonce=${nonce}`, { cache: 'no-store', credentials: 'omit' });
  const { proof, run } = await response.json().catch(() => ({}));
  if (typeof run !== 'string') return '';
  const encode = (text) => new TextEncoder().encode(text);
  const secret = await crypto.subtle.importKey('raw', encode(TOKEN), { name: 'HMAC', hash: 'SHA-256' },
    false, ['sign']);
  const sign = async (text) => hex(await crypto.subtle.sign('HMAC', secret, encode(text)));
  if (proof !== await sign(`varnock-review desk ${location.host} ${nonce} ${run}`)) return '';
  return sign(`varnock-review tab ${location.host} ${run}`);
}

function retryEvents(message) {
  link.key = '';
  $('connection').textContent = message;
  setTimeout(() => connectEvents(true), 1000);
}

// The socket is tried again every second for as long as the tab is open,
// with the same token: a reviewer started again on the same port with its
// kept token lets the tab back in, and nothing else on that port hears it.
async function connectEvents(lost = false) {
  const key = await proveDesk().catch(() => null);
  if (key === null) return retryEvents('Disconnected from the reviewer; retrying…');
  if (!key) {
    return retryEvents('The server on this port does not hold this tab\'s token (it was replaced, or another '
      + 'program holds the port), so the token is not sent to it; retrying…');
  }
  const socket = new WebSocket(`ws://${location.host}/events?token=${encodeURIComponent(key)}`);
  socket.addEventListener('open', () => {
    $('connection').textContent = 'Connected.';
    if (lost) forgetNumbers();
    link.key = key;
    // The history after the state: without a journal it is the state's.
    refresh().finally(loadHistory);
  });
  socket.addEventListener('message', (message) => {
    const event = JSON.parse(message.data);
    performance.mark(`desk-${event.event}-${event.number}`);
    if (event.event === 'withdrawn') markWithdrawn(event.number);
    if (event.event === 'changed' && event.number === desk.current) reshowNotices(event.number);
    refresh().then(() => event.event === 'queued' && notifyArrival(event.number)).finally(() => {
      if (event.event !== 'queued' && event.event !== 'changed') loadHistory();
    });
  });
  socket.addEventListener('close', () => retryEvents('Disconnected from the reviewer; retrying…'));
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
  // A held key repeats: a repeat never answers.
  if (event.repeat && (event.key === 'a' || event.key === 'r')) return;
  action();
}

$('accept').addEventListener('click', () => answer(true));
$('reject').addEventListener('click', () => answer(false));
$('revert').addEventListener('click', revert);
let searching = null;
$('history-search').addEventListener('input', () => {
  clearTimeout(searching);
  searching = setTimeout(loadHistory, 200);
});
for (const name of ['changes', 'whole', 'unified']) {
  $(`view-${name}`).addEventListener('click', () => setMode(name));
}
window.matchMedia(NARROW).addEventListener('change', () => desk.view && renderDiff());
document.addEventListener('keydown', onKey);
document.addEventListener('visibilitychange', () => {
  if (desk.view) startReading();
});
if (TOKEN) {
  offerNotifications();
  connectEvents();
} else {
  $('connection').textContent = 'This tab has no token (a reloaded tab forgets it, so that no other '
    + 'program on this port can read it): run varnock-review open, or open the address varnock-review printed.';
}
