
'use strict';
// The report page: reads the hits from the JSON data block and shows them
// grouped where they stand (export, component, table and field, element).
// Every text from the export or the strings is set as text, never as markup.
(function () {
  const D = JSON.parse(document.getElementById('report-data').textContent);
  const S = D.strings;
  const enabled = S.map(() => true);
  const many = D.exports.length > 1;
  const FEW = 3;  // exports told one by one in the header; more go in a table
  const OUTCOMES = {
    completed: 'completed',
    export_not_opened: 'failed: the export could not be opened',
    read_error: 'failed: a read error stopped it',
    log_incomplete: 'failed: the log is incomplete',
    out_of_memory: 'failed: out of memory',
    interrupted: 'interrupted',
  };
  // The controls of text direction, shown as marks instead of obeyed: text
  // from an export must not turn round what the page shows.
  const CONTROLS = {
    '\u061c': 'ALM', '\u200e': 'LRM', '\u200f': 'RLM', '\u202a': 'LRE', '\u202b': 'RLE', '\u202c': 'PDF',
    '\u202d': 'LRO', '\u202e': 'RLO', '\u2066': 'LRI', '\u2067': 'RLI', '\u2068': 'FSI', '\u2069': 'PDI',
  };
  const CONTROL = /[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/g;
  const NONE = ['', '(no library, form or other component)', '(no table or field)', '(no element)'];
  const ROWS_AT_ONCE = 500;    // rows of a table shown before "Show more"
  const GROUPS_AT_ONCE = 200;  // groups of a list likewise
  let filter = '';

  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }
  function num(n) { return n.toLocaleString('en-US'); }
  // Each string's own look: sixteen colours, plain, hatched and dotted.
  function look(k) { return 's' + (k % 16) + ' p' + (Math.floor(k / 16) % 3); }
  function swatch(k) { return el('span', 'swatch ' + look(k)); }
  // Appends text from the export or the strings: its direction controls as
  // marks, the rest as text.
  function appendText(parent, s) {
    let at = 0;
    for (const m of s.matchAll(CONTROL)) {
      if (m.index > at) parent.append(s.slice(at, m.index));
      const mark = el('span', 'ctl', CONTROLS[m[0]]);
      mark.title = 'U+' + m[0].charCodeAt(0).toString(16).toUpperCase().padStart(4, '0');
      parent.append(mark);
      at = m.index + m[0].length;
    }
    if (at < s.length) parent.append(s.slice(at));
    return parent;
  }
  // Text from the export or the strings, apart from the page's own text
  // around it (whatever its direction).
  function iso(s, cls) { return appendText(el('bdi', cls), s); }
  // The same where only plain text goes (the title).
  function plain(s) { return '\u2068' + s.replace(CONTROL, (c) => '[' + CONTROLS[c] + ']') + '\u2069'; }
  function stringName(k) { return iso(S[k] === '' ? "''" : S[k], 'string-name'); }
  // A component or a table and field: labels and values in turn.
  function labelText(pairs) {
    const parts = [];
    for (let i = 0; i < pairs.length; i += 2) parts.push(pairs[i] + pairs[i + 1]);
    return parts.join('  ');
  }

  // ---- The model: a tree per export, hits on the element leaves. A
  // component's or table's label is its labels and values in turn.
  function child(node, label, level) {
    const key = JSON.stringify(label);
    let c = node.byKey.get(key);
    if (!c) {
      c = { label, level, children: [], byKey: new Map(), hits: [], parent: node };
      node.byKey.set(key, c);
      node.children.push(c);
    }
    return c;
  }
  // Each export's hits in export order, for the views of their elements.
  const rowsOf = D.exports.map(() => []);
  const roots = D.exports.map((x, xi) => {
    const root = { label: x.name, level: 0, children: [], byKey: new Map(), hits: [], parent: null, x };
    const rows = rowsOf[xi];
    const leaves = x.groups.map(([c, t, e]) => {
      const leaf = child(child(child(root, c, 1), t, 2), e, 3);
      leaf.context = [many ? x.name : '', labelText(c), labelText(t), e].join('\n').toLowerCase();
      return leaf;
    });
    for (const row of x.hits) {
      const segs = row.slice(4);
      const data = segs.map((s) => (typeof s === 'string' ? s : s[1])).join('');
      const hit = { element_line: row[1], export_line: row[2], strings: row[3], segs, lower: data.toLowerCase(), x: xi, at: rows.length };
      rows.push(hit);
      leaves[row[0]].hits.push(hit);
    }
    return root;
  });

  // ---- What the filter and the toggles keep: counts per node.
  function keeps(leaf, hit) {
    if (!hit.strings.some((k) => enabled[k])) return false;
    return !filter || leaf.context.includes(filter) || hit.lower.includes(filter);
  }
  function count(node) {
    node.counts = new Map();
    node.shown = 0;
    if (node.level === 3) {
      node.visible = node.hits.filter((h) => keeps(node, h));
      node.shown = node.visible.length;
      for (const h of node.visible) for (const k of h.strings) if (enabled[k]) node.counts.set(k, (node.counts.get(k) || 0) + 1);
      return;
    }
    for (const c of node.children) {
      count(c);
      node.shown += c.shown;
      for (const [k, n] of c.counts) node.counts.set(k, (node.counts.get(k) || 0) + n);
    }
  }

  // ---- Rendering.
  function perString(counts) {
    const span = el('span', 'per-string');
    const keys = [...counts.keys()].sort((a, b) => a - b);
    keys.slice(0, 6).forEach((k, i) => {
      if (i) span.append(' \u00b7 ');
      span.append(swatch(k), ' ', stringName(k), ' ' + num(counts.get(k)));
    });
    if (keys.length > 6) span.append(' \u00b7 ' + (keys.length - 6) + ' more strings');
    return span;
  }
  function summaryOf(node) {
    const s = el('summary');
    s.dataset.count = String(node.shown);
    s.dataset.counts = [...node.counts].sort((a, b) => a[0] - b[0]).map(([k, n]) => k + ':' + n).join(',');
    let label;
    if (node.label.length === 0) {
      label = el('span', 'label none', NONE[node.level]);
    } else if (typeof node.label === 'string') {
      label = el('span', 'label');
      label.append(iso(node.label));
    } else {
      label = el('span', 'label');
      for (let i = 0; i < node.label.length; i += 2) label.append(i ? '  ' : '', node.label[i], iso(node.label[i + 1]));
    }
    s.append(el('span', 'count', num(node.shown)), label, perString(node.counts));
    return s;
  }
  function marked(segs) {
    const td = el('td', 'data');
    const line = el('bdi');
    for (const s of segs) {
      if (typeof s === 'string') appendText(line, s);
      else if (enabled[s[0]]) line.append(appendText(el('mark', look(s[0])), s[1]));
      else appendText(line, s[1]);
    }
    td.append(line);
    return td;
  }

  // ---- A hit's view: the lines of its element around it, up to the reach
  // before and after it. The lines that are no hits are read from their
  // own block when a view is first opened, never at load; the hits of the
  // element are the rows themselves. Each line is kept once, in export
  // order: a window is found by its export line, then walked while the
  // element's line numbers step by one and no break says another element
  // begins.
  let LINES = null;
  function linesOf(xi) {
    if (!LINES) {
      LINES = JSON.parse(document.getElementById('report-lines').textContent)
        .map((l) => ({ near: l.near, breaks: new Set(l.breaks) }));
    }
    return LINES[xi];
  }
  // The first of the lines (triples: export line, element line, text) at
  // or after export line n.
  function firstAt(near, n) {
    let lo = 0, hi = near.length / 3;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (near[3 * mid] < n) lo = mid + 1; else hi = mid;
    }
    return lo;
  }
  // The window of hit h: its lines in order, hits as their rows, the
  // others as {export_line, element_line, text}.
  function windowOf(h) {
    const { near, breaks } = linesOf(h.x);
    const rows = rowsOf[h.x];
    const [before, after] = D.exports[h.x].reach;
    const count = near.length / 3;
    const lineAt = (k) => ({ export_line: near[3 * k], element_line: near[3 * k + 1], text: near[3 * k + 2] });
    const out = [];
    // Back: the later of the line and the hit before the one reached.
    let k = firstAt(near, h.export_line) - 1, r = h.at - 1, from = h.export_line;
    for (let n = 1; n <= before && !breaks.has(from); ++n) {
      const line = k >= 0 ? near[3 * k] : -1, hit = r >= 0 ? rows[r].export_line : -1;
      if (line < 0 && hit < 0) break;
      const item = line > hit ? lineAt(k) : rows[r];
      if (item.element_line !== h.element_line - n) break;
      if (line > hit) --k; else --r;
      out.push(item);
      from = item.export_line;
    }
    out.reverse();
    out.push(h);
    // On: the earlier of the line and the hit after the one reached.
    k = firstAt(near, h.export_line + 1);
    r = h.at + 1;
    for (let n = 1; n <= after; ++n) {
      const line = k < count ? near[3 * k] : Infinity, hit = r < rows.length ? rows[r].export_line : Infinity;
      if (line === Infinity && hit === Infinity) break;
      const item = line < hit ? lineAt(k) : rows[r];
      if (item.element_line !== h.element_line + n || breaks.has(item.export_line)) break;
      if (line < hit) ++k; else ++r;
      out.push(item);
    }
    return out;
  }
  function viewRow(h) {
    const tr = el('tr', 'view');
    const td = el('td', 'lines');
    td.colSpan = 4;
    const table = el('table', 'lines');
    for (const item of windowOf(h)) {
      const line = el('tr', item === h ? 'line is-hit this' : item.segs ? 'line is-hit' : 'line');
      let text;
      if (item.segs) {
        text = marked(item.segs);
        text.className = 'text';
      } else {
        text = el('td', 'text');
        text.append(iso(item.text));
      }
      line.append(el('td', 'num', String(item.element_line)), el('td', 'num', String(item.export_line)), text);
      table.append(line);
    }
    td.append(table);
    tr.append(td);
    return tr;
  }
  // The toggle of a hit's view: the view is made on its first opening.
  function viewToggle(h, tr) {
    const td = el('td', 'toggle');
    const b = el('button', 'view-toggle', '\u25b8');
    b.type = 'button';
    b.title = 'The lines around it in its element';
    b.setAttribute('aria-expanded', 'false');
    let view = null;
    b.addEventListener('click', () => {
      const open = b.getAttribute('aria-expanded') !== 'true';
      if (open && !view) tr.after((view = viewRow(h)));
      if (view) view.hidden = !open;
      b.setAttribute('aria-expanded', String(open));
      b.textContent = open ? '\u25be' : '\u25b8';
    });
    td.append(b);
    return td;
  }
  function hitsTable(leaf) {
    const table = el('table', 'hits');
    const head = el('tr');
    head.append(el('th', 'toggle'), el('th', 'num', 'line in element'), el('th', 'num', 'line in export'), el('th', '', 'data'));
    table.append(head);
    let at = 0;
    const more = el('button', 'more');
    const addRows = () => {
      const end = Math.min(leaf.visible.length, at + ROWS_AT_ONCE);
      for (; at < end; ++at) {
        const h = leaf.visible[at];
        const tr = el('tr', 'hit');
        const [before, after] = D.exports[h.x].reach;
        tr.append(before + after > 0 ? viewToggle(h, tr) : el('td', 'toggle'), el('td', 'num', String(h.element_line)),
                  el('td', 'num', String(h.export_line)), marked(h.segs));
        table.append(tr);
      }
      more.hidden = at >= leaf.visible.length;
      more.textContent = 'Show ' + num(Math.min(ROWS_AT_ONCE, leaf.visible.length - at)) + ' more of ' +
                         num(leaf.visible.length - at);
    };
    more.addEventListener('click', addRows);
    addRows();
    const box = el('div');
    box.append(table, more);
    return box;
  }
  // Appends an element for each item, GROUPS_AT_ONCE at a time: a long
  // list gets a button for the next ones, so that a page of many groups
  // opens at once.
  function appendSome(box, items, make) {
    let at = 0;
    const more = el('button', 'more');
    const next = () => {
      const end = Math.min(items.length, at + GROUPS_AT_ONCE);
      const part = [];
      for (; at < end; ++at) part.push(make(items[at]));
      more.before(...part);
      more.hidden = at >= items.length;
      more.textContent = 'Show ' + num(Math.min(GROUPS_AT_ONCE, items.length - at)) + ' more groups of ' +
                         num(items.length - at);
    };
    more.addEventListener('click', next);
    box.append(more);
    next();
  }
  function groupElement(node, open) {
    const d = el('details', 'group level-' + node.level);
    d.append(summaryOf(node));
    const box = el('div', 'children');
    d.append(box);
    let built = false;
    d.build = () => {
      if (built) return;
      built = true;
      if (node.level === 3) box.append(hitsTable(node));
      else appendSome(box, node.children.filter((c) => c.shown > 0), (c) => groupElement(c, open));
    };
    d.addEventListener('toggle', () => { if (d.open) d.build(); });
    if (open) { d.build(); d.open = true; }
    return d;
  }
  const allHits = D.exports.reduce((n, x) => n + x.hits.length, 0);
  const tree = el('main', 'tree');
  const status = el('span', 'status');
  function render() {
    let shown = 0, groups = 0;
    for (const r of roots) { count(r); shown += r.shown; groups += r.children.length; }
    const open = shown <= 300 && groups <= 40;  // few: all open; many: folded
    tree.replaceChildren();
    if (many) appendSome(tree, roots.filter((r) => r.shown > 0 || !filter), (r) => groupElement(r, open || roots.length <= 3));
    else if (roots.length) appendSome(tree, roots[0].children.filter((c) => c.shown > 0), (c) => groupElement(c, open));
    if (!roots.length) tree.append(el('p', 'none', 'No export was searched.'));
    else if (shown === 0) tree.append(el('p', 'none', allHits === 0 ? 'No hits.' : 'No hit is left by the filter.'));
    status.textContent = 'Showing ' + num(shown) + ' of ' + num(allHits) + ' hits';
  }
  // Opens every group (building what was not built yet), or folds them.
  function setAll(open) {
    if (!open) { for (const d of tree.querySelectorAll('details')) d.open = false; return; }
    for (let rest; (rest = tree.querySelectorAll('details:not([open]), button.more:not([hidden])')).length;)
      for (const e of rest) {
        if (e.tagName === 'BUTTON') { while (!e.hidden) e.click(); }
        else { e.build(); e.open = true; }
      }
  }

  // ---- The header: exports, strings, when, outcome, counts.
  function outcome(x) {
    const text = el('span', x.outcome === 'completed' ? '' : 'outcome-failed');
    if (x.failure) text.append('failed: ', iso(x.failure));
    else text.append(OUTCOMES[x.outcome] || x.outcome);
    return text;
  }
  function hitsOf(x) { return x.hits.length + x.omitted; }
  // Past a few exports: how they went in a line, and a table of them that
  // opens on demand, in the order given.
  function exportsTable() {
    const failed = D.exports.filter((x) => x.outcome !== 'completed').length;
    const d = el('details', 'exports');
    d.append(el('summary', '', num(D.exports.length) + ' exports: ' + num(D.exports.length - failed) + ' completed, ' +
                 num(failed) + ' failed'));
    let built = false;
    d.addEventListener('toggle', () => {
      if (built || !d.open) return;
      built = true;
      const table = el('table', 'exports');
      const head = el('tr');
      for (const [name, cls] of [['#', 'num'], ['export', ''], ['size', 'num'], ['lines', 'num'], ['outcome', ''], ['hits', 'num']])
        head.append(el('th', cls, name));
      table.append(head);
      D.exports.forEach((x, i) => {
        const tr = el('tr', 'export');
        const name = el('td', 'name');
        name.append(iso(x.name));
        const result = el('td');
        result.append(outcome(x));
        tr.append(el('td', 'num', String(i + 1)), name, el('td', 'num', x.size === null ? '' : num(x.size)),
                  el('td', 'num', num(x.lines)), result, el('td', 'num', num(hitsOf(x))));
        table.append(tr);
      });
      d.append(table);
    });
    return d;
  }
  function header() {
    const h = el('header');
    const h1 = el('h1');
    h1.append('reposearch: ');
    const none = D.exports.length === 0;
    if (many || none) h1.append(el('span', 'name', none ? 'no export searched' : D.exports.length + ' exports'));
    else h1.append(iso(D.exports[0].name, 'name'));
    h.append(h1);
    document.title = 'reposearch: ' + (none ? 'no export searched' : many ? D.exports.length + ' exports' : plain(D.exports[0].name));
    const facts = el('dl', 'facts');
    const fact = (name, value, cls) => { facts.append(el('dt', '', name)); const dd = el('dd', cls); dd.append(value); facts.append(dd); };
    if (D.exports.length > FEW) {
      fact('Exports', exportsTable());
    } else {
      for (const x of D.exports) {
        fact('Export', iso(x.name, 'name'));
        if (x.size !== null) fact('Size', num(x.size) + ' bytes');
        fact('Lines', num(x.lines));
        fact('Searched', x.started || 'not searched');
        fact('Outcome', outcome(x));
      }
    }
    if (none) fact('Exports', 'none');
    const strings = el('span');
    S.forEach((s, k) => { if (k) strings.append(', '); strings.append(stringName(k)); });
    fact('Strings', strings);
    if (D.word) fact('Words', 'whole words only');
    if (D.limits) {  // where hits counted, as the log's header says it
      const limits = el('span');
      D.limits.forEach((line, k) => { if (k) limits.append(el('br')); limits.append(iso(line, 'limit')); });
      fact('Limits', limits);
    }
    h.append(facts);

    // The count of each string over all exports, as bars.
    const totals = S.map((_, k) => D.exports.reduce((n, x) => n + (x.counts[k] || 0), 0));
    const order = S.map((_, k) => k);
    if (S.length > 40) order.sort((a, b) => totals[b] - totals[a]);
    const chart = el('div', 'chart');
    chart.setAttribute('role', 'table');
    chart.setAttribute('aria-label', 'Lines found per string');
    const top = Math.max(1, ...totals);
    for (const k of order.slice(0, 40)) {
      const bar = el('div', 'bar ' + look(k));
      bar.style.width = (100 * totals[k] / top) + '%';
      const name = iso(S[k] === '' ? "''" : S[k], 'text');
      const n = el('span', 'total', num(totals[k]));
      n.dataset.string = String(k);
      n.dataset.count = String(totals[k]);
      chart.append(name, bar, n);
    }
    h.append(chart);
    if (S.length > 40) h.append(el('p', 'notice', 'The chart shows the 40 strings found most often of ' + num(S.length) + '.'));
    const omitted = D.exports.reduce((n, x) => n + x.omitted, 0);
    if (omitted > 0)
      h.append(el('p', 'notice omitted', 'This page holds ' + num(allHits) + ' hits; ' + num(omitted) +
                   ' more are only in the log' + (many ? 's' : '') + '.'));
    if (none) h.append(el('p', 'notice', 'No export was searched.'));
    for (const folder of D.empty_folders || []) {
      const p = el('p', 'notice empty-folder');
      p.append('The folder ', iso(folder), ' holds no .xml file.');
      h.append(p);
    }
    return h;
  }

  // ---- The controls: filter, a toggle per string, open and fold all.
  function controls() {
    const c = el('div', 'controls');
    const input = el('input');
    input.type = 'search';
    input.id = 'filter';
    input.placeholder = 'Filter: context or data holds...';
    input.setAttribute('aria-label', 'Keep the hits whose context or data hold this text');
    let timer = 0;
    input.addEventListener('input', () => {
      clearTimeout(timer);
      timer = setTimeout(() => { filter = input.value.toLowerCase(); render(); }, 120);
    });
    input.addEventListener('keydown', (e) => { if (e.key === 'Escape') { input.value = ''; filter = ''; render(); } });
    c.append(input);
    S.forEach((s, k) => {
      const label = el('label', 'toggle');
      const box = el('input');
      box.type = 'checkbox';
      box.checked = true;
      box.dataset.string = String(k);
      box.addEventListener('change', () => { enabled[k] = box.checked; render(); });
      label.append(box, swatch(k), stringName(k));
      c.append(label);
    });
    const openAll = el('button', '', 'Open all');
    openAll.id = 'open-all';
    openAll.addEventListener('click', () => setAll(true));
    const foldAll = el('button', '', 'Fold all');
    foldAll.id = 'fold-all';
    foldAll.addEventListener('click', () => setAll(false));
    c.append(openAll, foldAll, status);
    document.addEventListener('keydown', (e) => {
      if (e.key === '/' && document.activeElement !== input) { e.preventDefault(); input.focus(); }
    });
    return c;
  }

  document.body.append(header(), controls(), tree);
  render();
  window.addEventListener('beforeprint', () => setAll(true));
  // Ready once the first frame is drawn: the time since the page was asked
  // for, for the tests and the benchmark.
  requestAnimationFrame(() => setTimeout(() => {
    document.documentElement.dataset.ready = String(Math.round(performance.now()));
  }));
})();
