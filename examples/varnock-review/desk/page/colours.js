// Syntax colours for the rows the desk draws, found by highlight.js (served
// from the desk, before this file). The language comes from the file's name
// alone, never from its content. Each line is coloured on its own, so a
// construct that spans lines (a block comment, say) may take the wrong
// colours; and only its first COLOUR_LIMIT characters, the rest staying
// plain. highlight.js answers in HTML, which is never inserted: it is read
// back into runs of a class over a stretch of the line, kept only when the
// text it holds is the line exactly, and the page builds the row from text
// nodes as before.
'use strict';

const COLOUR_LIMIT = 2000;   // characters of a line coloured; a longer line goes on plain
// Names highlight.js does not know whole and whose extension says nothing.
const LANGUAGE_BY_NAME = { 'cmakelists.txt': 'cmake' };
// An opening span with its classes, a closing one, an escape, or text.
const MARKUP = /<span class="([\w -]*)">|<\/span>|&(amp|lt|gt|quot|#x27);|[^<&]+/y;
const ESCAPED = { amp: '&', lt: '<', gt: '>', quot: '"', '#x27': "'" };

if (window.hljs) hljs.configure({ hideUpgradeWarningAcceptNoSupportOrSecurityUpdates: true });

// The highlight.js language for a file at `path`, by its extension (as an
// alias highlight.js knows: "cc", "py", "html") or its whole name
// ("Makefile", "Dockerfile"); null when there is none or no highlight.js.
function languageOf(path) {
  if (!window.hljs) return null;
  const name = path.slice(path.lastIndexOf('/') + 1).toLowerCase();
  const dot = name.lastIndexOf('.');
  const known = (candidate) => candidate && hljs.getLanguage(candidate) ? candidate : null;
  return known(LANGUAGE_BY_NAME[name]) || (dot > 0 ? known(name.slice(dot + 1)) : known(name));
}

// Whether `at` falls between the two halves of a surrogate pair in `text`.
function splitsPair(text, at) {
  return /[\uD800-\uDBFF]/.test(text.charAt(at - 1)) && /[\uDC00-\uDFFF]/.test(text.charAt(at));
}

// The coloured runs of `text` in `language`, [begin, end, class] in UTF-16
// units, none splitting a character; null when highlight.js fails or what
// it gives does not hold the text exactly.
function colourRuns(text, language) {
  let length = Math.min(text.length, COLOUR_LIMIT);
  if (splitsPair(text, length)) ++length;
  let html;
  try {
    html = hljs.highlight(language, text.slice(0, length), true).value;
  } catch {
    return null;
  }
  return readRuns(html, text, length);
}

// Reads highlight.js's HTML for text[0, length) back into runs of the
// innermost highlight.js class.
function readRuns(html, text, length) {
  const runs = [];
  const open = [];
  let at = 0;
  MARKUP.lastIndex = 0;
  while (MARKUP.lastIndex < html.length) {
    const match = MARKUP.exec(html);
    if (!match) return null;
    const [token, classes, escape] = match;
    if (classes !== undefined) open.push(classes.split(' ').find((name) => name.startsWith('hljs-')));
    else if (token === '</span>') open.pop();
    else {
      const piece = escape ? ESCAPED[escape] : token;
      if (!text.startsWith(piece, at)) return null;
      const style = open.findLast((name) => name !== undefined);
      if (style) addRun(runs, text, at, at + piece.length, style);
      at += piece.length;
    }
  }
  return at === length && open.length === 0 ? runs : null;
}

// Adds [begin, end) in `style` to `runs`, joined to the last run when they
// meet in the same style. Each end that falls inside a surrogate pair moves
// past it, so that no run splits a character.
function addRun(runs, text, begin, end, style) {
  const last = runs[runs.length - 1];
  const from = Math.max(splitsPair(text, begin) ? begin + 1 : begin, last ? last[1] : 0);
  const to = splitsPair(text, end) ? end + 1 : end;
  if (last && last[2] === style && last[1] === from) last[1] = Math.max(last[1], to);
  else if (from < to) runs.push([from, to, style]);
}
