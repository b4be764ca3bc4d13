// The page of infoservice-web. Every name and value comes from the daemon and may come from
// the network, so it enters the document only as text (textContent, text nodes, SVG
// attributes), never as markup. Bytes that are not UTF-8 arrive as the lone surrogates
// U+DC80..U+DCFF (the JSON of the server, as infoctl --json writes it) and are shown as \xNN.
'use strict';

(() => {
  const kSpanMs = 10 * 60 * 1000;
  const kFoldChars = 200;
  const kFoldLines = 4;
  const kRetryMs = 2000;
  const kStatsPrefix = 'stat.infocast.';
  const kFfsPrefix = 'info.ffs.';
  const kColours = ['#1f77b4', '#d62728', '#2ca02c', '#9467bd', '#ff7f0e', '#17becf', '#8c564b'];
  const svgNs = 'http://www.w3.org/2000/svg';

  const $ = (id) => document.getElementById(id);
  let config = { readOnly: false, tokenForReading: false, writeLimit: 10 };
  let filter = '*';
  const objects = new Map();  // name -> {value, size, truncated}, the ones the filter shows
  const ffs = new Map();      // info.ffs.* values, whatever the filter
  const stats = new Map();    // stat.infocast.* name -> [[time ms, value], ...]
  let loaded = false;         // the objects of the filter are in; events apply directly
  let buffered = [];          // events that arrived while they were loading
  let loadSerial = 0;

  // --- text -------------------------------------------------------------------------------

  const hex = (n) => '\\x' + n.toString(16).padStart(2, '0');
  // Byte escapes of one character, or null for a character shown as it is.
  function escapeOf(ch) {
    const c = ch.codePointAt(0);
    if (c >= 0xdc80 && c <= 0xdcff) return hex(c - 0xdc00);
    if ((c < 0x20 && c !== 9 && c !== 10) || c === 0x7f) return hex(c);
    return null;
  }
  function plainText(s) {
    let out = '';
    for (const ch of s) out += escapeOf(ch) ?? ch;
    return out;
  }
  // Appends s to el as text nodes, with the escapes marked.
  function appendText(el, s) {
    let plain = '';
    for (const ch of s) {
      const escaped = escapeOf(ch);
      if (escaped === null) {
        plain += ch;
        continue;
      }
      if (plain) el.append(document.createTextNode(plain));
      plain = '';
      const span = document.createElement('span');
      span.className = 'esc';
      span.textContent = escaped;
      el.append(span);
    }
    if (plain) el.append(document.createTextNode(plain));
  }

  // The size of the daemon's value: an escaped byte is one byte, the rest is UTF-8.
  function byteSize(s) {
    let size = 0;
    for (const ch of s) {
      const c = ch.codePointAt(0);
      size += (c >= 0xdc80 && c <= 0xdcff) || c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    return size;
  }

  // The service's expressions: a name, a prefix ending in ".*", or "*" alone.
  function matches(expression, name) {
    const n = expression.length;
    const wildcard = n >= 1 && name.length >= n && expression.endsWith('*') &&
      (n === 1 || expression[n - 2] === '.');
    return wildcard ? name.startsWith(expression.slice(0, -1)) : name === expression;
  }

  // --- server -----------------------------------------------------------------------------

  function authHeaders() {
    const token = $('token').value.trim();
    return token ? { Authorization: 'Bearer ' + token } : {};
  }
  async function getJson(path) {
    const response = await fetch(path, { headers: authHeaders(), cache: 'no-store' });
    const body = await response.json().catch(() => null);
    if (!response.ok) {
      const why = body && body.text ? `error ${body.error}: ${body.text}` : `HTTP ${response.status}`;
      throw new Error(why);
    }
    return body;
  }
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  function setStatus(text, kind) {
    $('status').textContent = text;
    $('status').className = 'status ' + kind;
  }

  // --- the tree ---------------------------------------------------------------------------

  const root = { children: new Map(), ul: $('tree'), li: null, parent: null };

  function ensureList(node) {
    if (!node.ul) {
      node.ul = document.createElement('ul');
      node.li.append(node.ul);
      node.li.classList.add('group');
    }
    return node.ul;
  }

  function makeNode(parent, key, name) {
    const node = { parent, key, name, children: new Map(), ul: null, hasValue: false };
    node.li = document.createElement('li');
    node.row = document.createElement('div');
    node.row.className = 'row';
    node.keyEl = document.createElement('span');
    node.keyEl.className = 'key';
    node.keyEl.textContent = plainText(key);
    node.keyEl.title = plainText(name);
    node.valueEl = document.createElement('span');
    node.valueEl.className = 'value';
    node.row.append(node.keyEl, node.valueEl);
    node.li.append(node.row);
    node.li.dataset.key = key;
    node.keyEl.addEventListener('click', () => {
      if (node.ul) node.li.classList.toggle('closed');
      else pick(node.name);
    });
    node.valueEl.addEventListener('click', (event) => {
      if (event.target === node.valueEl) pick(node.name);
    });
    // Objects arrive sorted, so the place is usually at the end: search from there.
    const list = ensureList(parent);
    let before = null;
    for (let li = list.lastElementChild; li && key < li.dataset.key; li = li.previousElementSibling) {
      before = li;
    }
    list.insertBefore(node.li, before);
    parent.children.set(key, node);
    return node;
  }

  function nodeFor(name, create) {
    let node = root;
    let path = '';
    for (const part of name.split('.')) {
      path = path ? path + '.' + part : part;
      let child = node.children.get(part);
      if (!child) {
        if (!create) return null;
        child = makeNode(node, part, path);
      }
      node = child;
    }
    return node;
  }

  function renderValue(node) {
    const entry = objects.get(node.name);
    const el = node.valueEl;
    el.replaceChildren();
    if (!entry) return;
    const value = entry.value;
    const lines = value.split('\n');
    const long = value.length > kFoldChars || lines.length > kFoldLines || entry.truncated;
    const shown = long && !node.open
      ? lines.slice(0, kFoldLines).join('\n').slice(0, kFoldChars) : value;
    appendText(el, shown);
    if (!long) return;
    const more = document.createElement('button');
    more.type = 'button';
    more.className = 'more';
    more.textContent = node.open && !entry.truncated ? 'fold' : `\u2026 ${entry.size} bytes`;
    more.addEventListener('click', () => unfold(node));
    el.append(more);
  }

  async function unfold(node) {
    const entry = objects.get(node.name);
    if (entry && entry.truncated) {
      try {
        const full = await getJson('/api/objects?expr=' + encodeURIComponent(node.name));
        if (node.name in full) {
          objects.set(node.name, { value: full[node.name], size: entry.size, truncated: false });
        }
      } catch (error) {
        $('filter-error').textContent = error.message;
      }
      node.open = true;
    } else {
      node.open = !node.open;
    }
    renderValue(node);
  }

  function showObject(name, flash) {
    const node = nodeFor(name, true);
    node.hasValue = true;
    renderValue(node);
    if (flash) {
      node.row.classList.remove('changed');
      void node.row.offsetWidth;  // restarts the animation
      node.row.classList.add('changed');
    }
  }

  function hideObject(name) {
    let node = nodeFor(name, false);
    if (!node) return;
    node.hasValue = false;
    node.valueEl.replaceChildren();
    while (node !== root && !node.hasValue && node.children.size === 0) {
      const parent = node.parent;
      node.li.remove();
      parent.children.delete(node.key);
      if (parent !== root && parent.children.size === 0 && parent.ul) {
        parent.ul.remove();
        parent.ul = null;
        parent.li.classList.remove('group', 'closed');
      }
      node = parent;
    }
  }

  function pick(name) {
    $('edit-name').value = name;
    const entry = objects.get(name);
    if (entry && !entry.truncated) $('edit-value').value = entry.value;
  }

  let countsPending = false;
  function updateCounts() {
    if (countsPending) return;
    countsPending = true;
    requestAnimationFrame(() => {
      countsPending = false;
      const families = new Map();
      for (const name of objects.keys()) {
        const family = name.split('.')[0];
        families.set(family, (families.get(family) || 0) + 1);
      }
      const spans = [...families.keys()].sort().map((family) => {
        const span = document.createElement('span');
        const b = document.createElement('b');
        b.textContent = plainText(family);
        span.append(b, ' ' + families.get(family));
        return span;
      });
      $('families').replaceChildren(...spans);
      $('count').textContent = `${objects.size} objects`;
    });
  }

  // --- events -----------------------------------------------------------------------------

  function applyEvent(event) {
    if (!matches(filter, event.name)) return;
    if (event.event === 'changed') {
      objects.set(event.name, { value: event.value, size: event.size, truncated: !!event.truncated });
      showObject(event.name, true);
    } else {
      objects.delete(event.name);
      hideObject(event.name);
    }
    updateCounts();
  }

  function onEvent(event) {
    if (event.event === 'resync') {
      loadAll();
      return;
    }
    if (event.name.startsWith(kStatsPrefix)) recordStat(event);
    if (event.name.startsWith(kFfsPrefix)) {
      if (event.event === 'changed') ffs.set(event.name, event.value);
      else ffs.delete(event.name);
      drawBudget();
    }
    if (loaded) applyEvent(event);
    else buffered.push(event);
  }

  // The objects of the filter; events that arrive meanwhile are applied after them.
  async function loadObjects() {
    const serial = ++loadSerial;
    loaded = false;
    buffered = [];
    let data;
    try {
      data = await getJson('/api/objects?expr=' + encodeURIComponent(filter));
      $('filter-error').textContent = '';
    } catch (error) {
      $('filter-error').textContent = error.message;
      data = {};
    }
    if (serial !== loadSerial) return;
    objects.clear();
    root.children.clear();
    $('tree').replaceChildren();
    for (const name of Object.keys(data).sort()) {
      objects.set(name, { value: data[name], size: byteSize(data[name]), truncated: false });
      showObject(name, false);
    }
    loaded = true;
    for (const event of buffered) applyEvent(event);
    buffered = [];
    updateCounts();
  }

  async function loadAll() {
    try {
      const history = await getJson('/api/stats');
      stats.clear();
      for (const [name, points] of Object.entries(history.series)) stats.set(name, points);
      const counters = await getJson('/api/objects?expr=' + encodeURIComponent(kFfsPrefix + '*'));
      ffs.clear();
      for (const [name, value] of Object.entries(counters)) ffs.set(name, value);
    } catch (error) {
      setStatus(error.message, 'down');
    }
    drawStats();
    drawBudget();
    await loadObjects();
  }

  // Server-Sent Events read through fetch, which can send the token (EventSource cannot).
  async function streamEvents() {
    for (;;) {
      try {
        const response = await fetch('/api/events', { headers: authHeaders(), cache: 'no-store' });
        if (response.status === 401) {
          setStatus('enter the token to read', 'down');
          $('token').focus();
          await sleep(kRetryMs);
          continue;
        }
        if (!response.ok) throw new Error('HTTP ' + response.status);
        setStatus('live', 'live');
        loaded = false;
        loadAll();
        const reader = response.body.getReader();
        const decoder = new TextDecoder();
        let text = '';
        for (;;) {
          const { done, value } = await reader.read();
          if (done) break;
          text += decoder.decode(value, { stream: true });
          let cut;
          while ((cut = text.indexOf('\n\n')) >= 0) {
            const block = text.slice(0, cut);
            text = text.slice(cut + 2);
            for (const line of block.split('\n')) {
              if (line.startsWith('data: ')) onEvent(JSON.parse(line.slice(6)));
            }
          }
        }
      } catch (error) {
        // The server went away or the stream was dropped; try again below.
      }
      setStatus('disconnected', 'down');
      await sleep(kRetryMs);
    }
  }

  // --- plots ------------------------------------------------------------------------------

  function svg(name, attributes, parent) {
    const el = document.createElementNS(svgNs, name);
    for (const [key, value] of Object.entries(attributes)) el.setAttribute(key, value);
    if (parent) parent.append(el);
    return el;
  }

  function recordStat(event) {
    if (event.event !== 'changed' || event.value.trim() === '') return;
    const value = Number(event.value);
    if (!Number.isFinite(value)) return;
    const now = Date.now();
    const points = stats.get(event.name) || [];
    points.push([now, value]);
    while (points.length && points[0][0] < now - kSpanMs) points.shift();
    stats.set(event.name, points);
    drawStatsSoon();
  }

  let drawPending = false;
  function drawStatsSoon() {
    if (drawPending) return;
    drawPending = true;
    setTimeout(() => {
      drawPending = false;
      drawStats();
    }, 250);
  }

  // One plot per counter (the last name components: totalpackets, totalbytes, ...), one line
  // per channel, each point the counter's increase per second since the point before.
  function drawStats() {
    const plots = new Map();
    for (const [name, points] of stats) {
      const parts = /^stat\.infocast\.([^.]+)\.(.+)$/.exec(name);
      if (!parts || parts[2] === 'time.total' || points.length < 2) continue;
      if (!plots.has(parts[2])) plots.set(parts[2], []);
      plots.get(parts[2]).push({ channel: parts[1], points });
    }
    const box = $('reception');
    box.replaceChildren();
    if (plots.size === 0) {
      const note = document.createElement('p');
      note.className = 'note';
      note.textContent = 'No reception statistics yet: the daemon publishes them every 2 s ' +
        'while it has an Infocast meta channel (-m).';
      box.append(note);
      return;
    }
    const now = Date.now();
    for (const counter of [...plots.keys()].sort()) {
      const title = document.createElement('div');
      title.className = 'plot-title';
      title.textContent = plainText(counter) + ' per second';
      box.append(title, plot(plots.get(counter), now));
    }
  }

  function plot(lines, now) {
    const width = 360;
    const height = 100;
    const left = 44;
    const bottom = 14;
    const rates = lines.map(({ channel, points }) => {
      const rate = [];
      for (let i = 1; i < points.length; ++i) {
        const seconds = (points[i][0] - points[i - 1][0]) / 1000;
        const delta = points[i][1] - points[i - 1][1];
        if (seconds > 0 && delta >= 0) rate.push([points[i][0], delta / seconds]);
      }
      return { channel, rate };
    });
    const top = Math.max(1, ...rates.flatMap(({ rate }) => rate.map((p) => p[1])));
    const x = (t) => left + (width - left - 4) * (1 - (now - t) / kSpanMs);
    const y = (v) => 4 + (height - bottom - 4) * (1 - v / top);
    const el = svg('svg', { viewBox: `0 0 ${width} ${height}`, role: 'img' });
    svg('line', { class: 'axis', x1: left, y1: y(0), x2: width - 4, y2: y(0) }, el);
    svg('line', { class: 'axis', x1: left, y1: 4, x2: left, y2: y(0) }, el);
    svg('text', { x: left - 4, y: 12, 'text-anchor': 'end' }, el).textContent = formatNumber(top);
    svg('text', { x: left - 4, y: y(0), 'text-anchor': 'end' }, el).textContent = '0';
    svg('text', { x: left, y: height - 2 }, el).textContent = '\u221210 min';
    svg('text', { x: width - 4, y: height - 2, 'text-anchor': 'end' }, el).textContent = 'now';
    rates.forEach(({ channel, rate }, i) => {
      const colour = kColours[i % kColours.length];
      const points = rate.filter((p) => now - p[0] <= kSpanMs)
        .map((p) => `${x(p[0]).toFixed(1)},${y(p[1]).toFixed(1)}`).join(' ');
      svg('polyline', { class: 'series', stroke: colour, points }, el);
      const label = svg('text', { x: left + 6, y: 14 + 11 * i, fill: colour }, el);
      label.textContent = 'channel ' + plainText(channel);
    });
    return el;
  }

  function formatNumber(n) {
    if (n >= 1e6) return (n / 1e6).toFixed(1) + 'M';
    if (n >= 1e3) return (n / 1e3).toFixed(1) + 'k';
    return String(Math.round(n * 10) / 10);
  }

  // The flash settings' writes in the current 24-hour period against the write limit.
  function drawBudget() {
    const box = $('budget');
    box.replaceChildren();
    const number = (name) => (ffs.has(name) ? Number(ffs.get(name)) : NaN);
    const count = number('info.ffs.periodwritecount');
    const start = number('info.ffs.periodtimestamp');
    const total = number('info.ffs.totalwritecount');
    const line = (text) => {
      const p = document.createElement('p');
      p.className = 'note';
      p.textContent = text;
      box.append(p);
    };
    if (Number.isNaN(count) && Number.isNaN(total)) {
      line('No write counters: the daemon runs without a flash settings file (-f).');
      return;
    }
    const nowSeconds = Date.now() / 1000;
    const running = start > 0 && nowSeconds - start < 86400;
    const used = running && Number.isFinite(count) ? count : 0;
    const limit = config.writeLimit;
    const el = svg('svg', { viewBox: '0 0 360 34', role: 'img' });
    svg('rect', { class: 'bar-back', x: 0, y: 4, width: 360, height: 16, rx: 3 }, el);
    const share = limit > 0 ? Math.min(1, used / limit) : 1;
    svg('rect', { class: used >= limit ? 'bar full' : 'bar', x: 0, y: 4, width: 360 * share,
      height: 16, rx: 3 }, el);
    svg('text', { x: 0, y: 32 }, el).textContent = `${used} of ${limit} writes in this period`;
    box.append(el);
    if (running) {
      const begin = new Date(start * 1000);
      const end = new Date((start + 86400) * 1000);
      line(`Period started ${begin.toLocaleString()}, ends ${end.toLocaleString()}.`);
    } else {
      line('No settings write in the last 24 hours: the next one starts a period.');
    }
    line(`Writes ever made: ${Number.isFinite(total) ? total : 'unknown'}.`);
  }

  // --- editing ----------------------------------------------------------------------------

  async function write(method) {
    const name = $('edit-name').value;
    const result = $('edit-result');
    if (!name) {
      result.className = 'result fail';
      result.textContent = 'a name is needed';
      return;
    }
    const path = '/api/objects/' + encodeURIComponent(name) + '?storage=' + $('edit-storage').value;
    const options = { method, headers: authHeaders() };
    if (method === 'PUT') options.body = $('edit-value').value;
    try {
      const response = await fetch(path, options);
      if (!response.ok) {
        const body = await response.json().catch(() => null);
        throw new Error(body ? `error ${body.error}: ${body.text}` : `HTTP ${response.status}`);
      }
      result.className = 'result ok';
      result.textContent = (method === 'PUT' ? 'set ' : 'unset ') + plainText(name);
    } catch (error) {
      result.className = 'result fail';
      result.textContent = error.message;
    }
  }

  async function start() {
    try {
      config = await getJson('/api/config');
    } catch (error) {
      setStatus(error.message, 'down');
    }
    if (config.readOnly) {
      $('set').disabled = true;
      $('unset').disabled = true;
      $('edit-result').textContent = 'The server is read-only.';
    }
    $('edit-form').addEventListener('submit', (event) => {
      event.preventDefault();
      write('PUT');
    });
    $('unset').addEventListener('click', () => write('DELETE'));
    $('filter').addEventListener('change', () => {
      filter = $('filter').value.trim() || '*';
      loadObjects();
    });
    setInterval(drawStats, 2000);
    streamEvents();
  }

  start();
})();
