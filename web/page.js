// The page: takes a chosen or dropped file, has the worker list it, and
// shows the lines, a map of the file and the bytes of a chosen line. Every
// text from the file goes on the page through textContent, never as markup.
//
// A listing (one file's results) is shown by views: the lines view, a
// virtual listbox, and the maps; a choice in any of them shows its bytes in
// the one Bytes region.
'use strict';

const $ = (id) => document.getElementById(id);
const state = (name) => { document.body.dataset.state = name; };
const say = (text) => { $('status').textContent = text; };
const count = new Intl.NumberFormat('en');
const plural = (n, word) => `${count.format(n)} ${word}${n === 1 ? '' : 's'}`;

// Sizes as people read them: 1536 -> "1.5 KiB".
function amount(bytes) {
  const units = ['bytes', 'KiB', 'MiB', 'GiB', 'TiB', 'PiB', 'EiB'];
  let unit = 0;
  while (bytes >= 1024 && unit < units.length - 1) { bytes /= 1024; unit += 1; }
  return unit === 0 ? plural(bytes, 'byte') : `${bytes.toFixed(bytes < 10 ? 1 : 0)} ${units[unit]}`;
}

// ---- The worker ----------------------------------------------------------

// The worker runs the compiled program. It starts from a blob: of the
// program's script, which the page holds as a data block: a page opened
// from disk may not start a worker from a file.
const reader = {
  worker: null,
  ready: false,
  asked: 0,       // the number of the last file handed over
  waiting: null,  // the file chosen before the worker was ready
  start() {
    const text = new Blob([$('worker').textContent], { type: 'text/javascript' });
    const url = URL.createObjectURL(text);
    this.worker = new Worker(url);
    URL.revokeObjectURL(url);
    this.ready = false;
    this.worker.onmessage = (event) => {
      if (event.data.kind !== 'ready') {
        // Only the last file chosen is shown; those before it are dropped.
        if (event.data.id === this.asked) show(listingOf(event.data));
        return;
      }
      this.ready = true;
      if (this.waiting) {
        this.list(this.waiting);
      } else {
        say('Ready: choose or drop a file.');
        state('ready');
      }
    };
    // The program stopped (a fault, or memory it could not have): say so,
    // and start a fresh one for the next file.
    this.worker.onerror = (event) => {
      event.preventDefault();
      say(`The reader stopped${this.file ? ' on ' + this.file.name : ''}: ${event.message || 'unknown error'}`);
      state('failed');
      this.start();
    };
  },
  list(file) {
    this.file = file;
    if (!this.ready) {
      this.waiting = file;
      return;
    }
    this.waiting = null;
    this.asked += 1;
    state('listing');
    $('stale').hidden = true;
    say(`Reading ${file.name}…`);
    this.worker.postMessage({ file, id: this.asked });
  },
};

// ---- One file's results --------------------------------------------------

const decoder = new TextDecoder();

// What line `index` is, from the numbers the program hands over for it
// (Tags.kinds): its depth for the map (1 for moov's children, 2 below),
// its kind (an atom the map marks, "bad" for a malformed spot, "error" for
// a line of standard error) and its atom's type.
function lineInfo(about, index) {
  const at = index * Tags.perLine;
  const kind = Tags.kinds[about[at]];
  const code = about[at + 1];
  const type = code ? String.fromCharCode(code >>> 24, (code >>> 16) & 255, (code >>> 8) & 255, code & 255) : '';
  const marked = kind === 'malformed' ? 'bad' : kind === 'ilst' || kind === 'Xtra' ? kind
    : type === 'moov' || type === 'udta' ? type : '';
  return { depth: kind === 'moov' || kind === 'none' ? 0 : kind === 'child' ? 1 : 2, kind: marked, type };
}

// What the worker handed over, as the views use it: the lines (standard
// output, then standard error) with the file range of each, and the
// top-level atoms.
function listingOf(result) {
  const file = result.file;
  const lines = decoder.decode(result.shown).split('\n');
  lines.pop();
  const outCount = lines.length;
  const errors = decoder.decode(result.errShown).split('\n');
  errors.pop();
  lines.push(...errors);

  const info = lines.map((_, index) => {
    if (index >= outCount) return { depth: 0, kind: 'error' };
    return index * Tags.perLine < result.about.length ? lineInfo(result.about, index) : { depth: 0, kind: '' };
  });
  const range = (index) => {
    const pos = index < outCount ? result.lines[index * 2] : NaN;
    if (Number.isNaN(pos)) return null;
    return { pos, size: result.lines[index * 2 + 1], text: lines[index], index, ...info[index] };
  };

  const atoms = [];
  for (let i = 0; i < result.atoms.length; i += 4) {
    const [pos, size, header, code] = result.atoms.subarray(i, i + 4);
    const type = header === 0 ? '' : String.fromCharCode(code >>> 24, (code >>> 16) & 255,
                                                         (code >>> 8) & 255, code & 255);
    atoms.push({ pos, declared: size, header, type, size: Math.min(size, file.size - pos),
                 bad: header === 0 || size < header || pos + size > file.size });
  }
  return { file, lines, info, range, atoms, out: result.out, about: result.about, values: result.values, status: result.status,
           ms: result.ms, stats: result.stats, stale: result.stale };
}

// The damage a listing shows, in words: atoms cut by the file's end or
// shorter than their headers, malformed lines, and the program's errors.
function damage(listing) {
  const said = [];
  const end = listing.file.size;
  for (const atom of listing.atoms) {
    const at = `at offset ${count.format(atom.pos)}`;
    if (atom.header === 0) {
      said.push(`${amount(end - atom.pos)} ${at}, at the end of the file, hold no whole atom header`);
    } else if (atom.declared < atom.header && atom.declared !== 0) {
      said.push(`${atom.type} ${at} declares ${plural(atom.declared, 'byte')}, fewer than its ` +
                `${atom.header}-byte header`);
    } else if (atom.pos + atom.declared > end) {
      said.push(`truncated: ${atom.type} declares ${plural(atom.declared, 'byte')}; ` +
                `the file ends ${plural(end - atom.pos, 'byte')} into it`);
    }
  }
  const bad = listing.info.filter((line) => line.kind === 'bad').length;
  if (bad) {
    const first = listing.info.findIndex((line) => line.kind === 'bad');
    said.push(`${plural(bad, 'malformed line')}, the first: ${listing.lines[first].trim()}`);
  }
  const errors = listing.info.filter((line) => line.kind === 'error').length;
  if (listing.status !== 0 && errors) {
    said.push(`the listing stopped: ${listing.lines[listing.lines.length - errors]}`);
  }
  return said;
}

// ---- The lines: a virtual listbox ----------------------------------------

// Only the rows in view are in the DOM; the rest of the list is a spacer of
// the full height. Past kMostPixels the spacer stops growing and scrolling
// moves through the lines in proportion.
const kMostPixels = 8e6;

class LineList {
  constructor(element, onChoose) {
    this.element = element;
    this.spacer = element.querySelector('.spacer');
    this.rows = element.querySelector('.rows');
    this.onChoose = onChoose;
    this.lines = [];
    this.classes = [];
    this.shown = [];   // indexes of the lines that the filter lets through
    this.chosen = -1;  // index of the chosen line
    element.addEventListener('scroll', () => this.render());
    element.addEventListener('keydown', (event) => this.key(event));
    this.rows.addEventListener('click', (event) => {
      const row = event.target.closest('[role=option]');
      if (row) this.choose(Number(row.dataset.index), 'pointer');
    });
    new ResizeObserver(() => this.measure()).observe(element);
  }

  // Sets the lines, with a class for each (its kind), and the widest line's
  // length in characters.
  set(lines, classes, widest) {
    this.lines = lines;
    this.classes = classes;
    this.widest = widest;
    this.chosen = -1;
    this.element.scrollTop = 0;
    this.filter(null);
  }

  // Lets through only the lines whose indexes `keep` returns true for (all
  // when null).
  filter(keep) {
    this.shown = [];
    for (let i = 0; i < this.lines.length; i++) if (!keep || keep(i)) this.shown.push(i);
    this.element.removeAttribute('aria-activedescendant');
    this.measure();
    if (this.chosen >= 0) this.reveal(this.position(this.chosen));
  }

  // Row height and character width from the style, which can change with
  // the width of the window.
  measure() {
    const style = getComputedStyle(this.element);
    this.rowHeight = parseFloat(style.getPropertyValue('--row')) || 20;
    if (!this.probe) {
      this.probe = document.createElement('div');
      this.probe.className = 'line probe';
      this.probe.textContent = '0'.repeat(100);
      this.rows.append(this.probe);
    }
    this.probe.hidden = false;
    this.charWidth = this.probe.scrollWidth / 100 || 8;
    this.probe.hidden = true;
    const full = this.shown.length * this.rowHeight;
    this.height = Math.min(full, kMostPixels);
    const width = Math.min(kMostPixels, Math.ceil(this.widest * this.charWidth + 2 * this.rowHeight));
    this.spacer.style.height = this.height + 'px';
    // A short output takes the height of its lines, a long one the most
    // the style allows.
    this.element.style.height = this.height + this.element.offsetHeight - this.element.clientHeight + 'px';
    this.spacer.style.width = width + 'px';
    this.rows.style.width = width + 'px';
    this.render();
  }

  // The line position at the top of the view, as a fraction.
  top() {
    const view = this.element.clientHeight;
    const full = this.shown.length * this.rowHeight;
    const scale = this.height > view ? (full - view) / (this.height - view) : 1;
    return this.element.scrollTop * scale / this.rowHeight;
  }

  // Scrolls so that the line at `position` is in view, moving no further
  // than needed.
  reveal(position) {
    if (position < 0) return;
    const view = this.element.clientHeight;
    const full = this.shown.length * this.rowHeight;
    const scale = this.height > view ? (full - view) / (this.height - view) : 1;
    const top = this.top();
    const rows = view / this.rowHeight;
    let want = top;
    if (position < top) want = position;
    else if (position + 1 > top + rows) want = position + 1 - rows;
    if (want !== top) this.element.scrollTop = want * this.rowHeight / scale;
    this.render();
  }

  render() {
    const view = this.element.clientHeight;
    const exact = this.top();
    const first = Math.floor(exact);
    const visible = Math.min(this.shown.length - first, Math.ceil(view / this.rowHeight) + 1);
    this.rows.style.transform = `translateY(${this.element.scrollTop - (exact - first) * this.rowHeight}px)`;
    const rows = [...this.rows.children].filter((row) => row !== this.probe);
    while (rows.length < visible) {
      const row = document.createElement('div');
      row.setAttribute('role', 'option');
      this.rows.append(row);
      rows.push(row);
    }
    let active = '';
    rows.forEach((row, i) => {
      row.hidden = i >= visible;
      if (row.hidden) return;
      const index = this.shown[first + i];
      const chosen = index === this.chosen;
      row.id = `line-${index}`;
      row.dataset.index = index;
      row.className = `line ${this.classes[index]}${chosen ? ' chosen' : ''}`;
      row.textContent = this.lines[index];
      row.setAttribute('aria-selected', chosen);
      row.setAttribute('aria-posinset', first + i + 1);
      row.setAttribute('aria-setsize', this.shown.length);
      if (chosen) active = row.id;
    });
    if (active) this.element.setAttribute('aria-activedescendant', active);
    else this.element.removeAttribute('aria-activedescendant');
  }

  // Where line `index` is among the shown lines, or the first after it.
  position(index) {
    let low = 0;
    let high = this.shown.length;
    while (low < high) {
      const mid = (low + high) >> 1;
      if (this.shown[mid] < index) low = mid + 1; else high = mid;
    }
    return low;
  }

  choose(index, how) {
    this.chosen = index;
    this.reveal(this.position(index));
    this.onChoose(index, how);
  }

  key(event) {
    const last = this.shown.length - 1;
    if (last < 0) return;
    const page = Math.max(1, Math.floor(this.element.clientHeight / this.rowHeight) - 1);
    const now = this.chosen < 0 ? -1 : this.position(this.chosen);
    const on = this.chosen >= 0 && this.shown[now] === this.chosen;
    const moves = {
      ArrowDown: on ? now + 1 : now, ArrowUp: now - 1, PageDown: now + page,
      PageUp: now - page, Home: 0, End: last,
    };
    if (!(event.key in moves)) return;
    event.preventDefault();
    this.choose(this.shown[Math.max(0, Math.min(last, moves[event.key]))], 'key');
  }
}

// ---- The maps ------------------------------------------------------------

// Widths for segments of the given sizes that fill 100 (percent) in
// proportion, none narrower than `least`: those below it are set to it and
// the rest shared again among the others, until none is below.
function widths(sizes, least) {
  const fixed = sizes.map(() => false);
  let out = sizes.map(() => least);
  for (;;) {
    const room = 100 - least * fixed.filter(Boolean).length;
    const total = sizes.reduce((sum, size, i) => sum + (fixed[i] ? 0 : size), 0);
    let again = false;
    out = sizes.map((size, i) => {
      if (fixed[i]) return least;
      const width = total > 0 ? size / total * room : room / sizes.length;
      if (width < least && room > 0) { fixed[i] = true; again = true; }
      return width;
    });
    if (!again) return out;
  }
}

// The narrowest a segment is drawn, in pixels: a finger's target.
const kLeastSegment = 26;

// A row of the map: segments laid out over [from, to) of the file, each a
// button named by its type, size and offset, and the mapping from file
// positions to percent of the row's width. Left and right move between the
// segments; Tab enters and leaves the row at the one last chosen.
function row(element, segments, from, to) {
  element.replaceChildren();
  const room = element.parentElement.clientWidth || 600;
  element.style.width = `max(100%, ${segments.length * kLeastSegment}px)`;
  const least = Math.min(100 / segments.length, Math.max(1.5, 100 * kLeastSegment / room));
  const share = widths(segments.map((s) => s.size), least);
  let left = 0;
  const placed = segments.map((segment, i) => {
    const placedSegment = { ...segment, left, width: share[i] };
    left += share[i];
    const box = document.createElement('button');
    box.type = 'button';
    box.className = 'segment ' + segment.classes;
    box.style.left = placedSegment.left + '%';
    box.style.width = placedSegment.width + '%';
    box.tabIndex = i === 0 ? 0 : -1;
    box.title = segment.title;
    box.setAttribute('aria-label', segment.title);
    box.textContent = segment.label;
    box.onclick = () => {
      for (const other of element.querySelectorAll('.segment')) other.tabIndex = -1;
      box.tabIndex = 0;
      segment.choose();
    };
    element.append(box);
    return placedSegment;
  });
  element.onkeydown = (event) => {
    const boxes = [...element.querySelectorAll('.segment')];
    const now = boxes.indexOf(document.activeElement);
    const step = { ArrowRight: 1, ArrowLeft: -1 }[event.key];
    if (now < 0 || !step || !boxes[now + step]) return;
    event.preventDefault();
    boxes[now].tabIndex = -1;
    boxes[now + step].tabIndex = 0;
    boxes[now + step].focus();
  };
  // A position as percent of the row: inside the segment that holds it.
  const x = (pos) => {
    if (pos <= from) return 0;
    if (pos >= to) return 100;
    const segment = placed.find((s) => pos < s.pos + s.size) || placed[placed.length - 1];
    const within = segment.size > 0 ? (pos - segment.pos) / segment.size : 0;
    return segment.left + Math.min(1, Math.max(0, within)) * segment.width;
  };
  return { element, x, from, to };
}

// Marks [pos, pos + size) on a row, at least `least` percent wide.
function mark(map, pos, size, classes, title, least = 0.4) {
  if (pos + size < map.from || pos > map.to) return null;
  const left = map.x(pos);
  const width = Math.max(least, map.x(Math.min(pos + size, map.to)) - left);
  const box = document.createElement('div');
  box.className = 'mark ' + classes;
  box.style.left = Math.min(left, 100 - least) + '%';
  box.style.width = width + '%';
  if (title) box.title = title;
  map.element.append(box);
  return box;
}

// An atom's name for a reader: "moov, 4,677 bytes at offset 24".
const named = (type, size, pos) => `${type}, ${plural(size, 'byte')} at offset ${count.format(pos)}`;

let maps = [];
let chosenMarks = [];

function drawMaps(listing) {
  const end = listing.file.size;
  const atoms = listing.atoms;
  const top = row($('map'), atoms.map((atom) => ({
    pos: atom.pos,
    size: atom.size,
    label: atom.type || '…',
    // A malformed atom keeps its colour over a red edge; bytes that hold
    // no whole header are hatched.
    classes: [atom.type === 'moov' || atom.type === 'mdat' ? atom.type : '', atom.bad ? 'bad' : '',
              atom.type ? '' : 'rest'].join(' '),
    title: named(atom.type || 'bytes with no whole header', atom.declared, atom.pos) +
           (atom.bad ? ', malformed' : ''),
    choose: () => chooseRange({ pos: atom.pos, size: atom.declared, text: atom.type || 'bytes left over' }),
  })), 0, end);
  maps = [top];
  $('map-caption').textContent = `The file, ${amount(end)}: ${plural(atoms.length, 'top-level atom')}`;

  // Where the moov lies: the question of whether playback can start before
  // the whole file has arrived.
  const moov = atoms.find((atom) => atom.type === 'moov');
  const mdat = atoms.find((atom) => atom.type === 'mdat');
  const start = $('start');
  if (!moov) {
    start.textContent = 'No moov atom at the top level.';
  } else if (!mdat) {
    start.textContent = `moov at offset ${count.format(moov.pos)}; no mdat at the top level.`;
  } else if (moov.pos < mdat.pos) {
    start.textContent = `moov at the front (offset ${count.format(moov.pos)}, before mdat): fast start, ` +
      'a player can begin while the rest of the file arrives.';
  } else {
    start.textContent = `moov at the back (offset ${count.format(moov.pos)}, after mdat): no fast start, ` +
      'a player must fetch the end of the file before it can begin.';
  }
  start.className = 'start ' + (!moov || !mdat ? '' : moov.pos < mdat.pos ? 'front' : 'back');

  // Inside moov: its children as segments, udta, ilst and Xtra marked over
  // them, and every malformed spot.
  const zoom = $('zoom');
  zoom.hidden = !moov;
  $('zoom-caption').textContent = !moov ? '' : moov.declared === moov.size
    ? `Inside moov, ${amount(moov.size)}`
    : `Inside moov: ${plural(moov.declared, 'byte')} declared, ${plural(moov.size, 'byte')} in the file`;
  const located = [];
  for (let i = 0; i < listing.lines.length; i++) {
    if (listing.info[i].kind || listing.info[i].depth === 1) {
      const range = listing.range(i);
      if (range) located.push(range);
    }
  }
  if (moov) {
    const children = located.filter((range) => range.depth === 1);
    const inner = row(zoom, children.map((range) => ({
      pos: range.pos,
      size: Math.max(0, Math.min(range.size, end - range.pos)),
      label: range.type,
      classes: range.kind,
      title: named(range.type, range.size, range.pos),
      choose: () => lines.choose(range.index, 'map'),
    })), moov.pos, moov.pos + moov.size);
    for (const range of located) {
      if (range.depth > 1 && range.kind && range.kind !== 'bad') {
        mark(inner, range.pos, range.size, range.kind, range.text.trim());
      }
    }
    maps.push(inner);
  }
  for (const range of located.filter((r) => r.kind === 'bad').slice(0, 1000)) {
    for (const map of maps) mark(map, range.pos, 0, 'bad', range.text.trim(), 0.5);
  }
}

// ---- Showing a listing and a choice --------------------------------------

let current = null;  // the listing shown
let download = null; // the object URL of its download

const lines = new LineList($('lines'), (index, how) => {
  const range = current.range(index);
  chooseRange(range || { text: current.lines[index] }, how);
});

// Two files chosen together: the first is listed and kept, then the second
// is listed and shown with the two compared.
const pair = { files: null, before: null };

function show(listing) {
  if (pair.files && !pair.before) {
    pair.before = listing;
    reader.list(pair.files[1]);
    return;
  }
  current = listing;
  const file = listing.file;
  $('name').textContent = file.name;
  titled(...(pair.before ? [pair.before.file] : []), file);
  if (download) URL.revokeObjectURL(download);
  download = URL.createObjectURL(new Blob([listing.out], { type: 'text/plain' }));
  const link = $('download');
  link.href = download;
  link.download = file.name + '.txt';

  const said = damage(listing);
  const notice = $('notice');
  notice.hidden = said.length === 0;
  notice.textContent = said.length ? `This file is damaged: ${said.join('; ')}.` : '';

  $('result').hidden = false;
  let widest = 0;
  for (const text of listing.lines) widest = Math.max(widest, text.length);
  lines.set(listing.lines, listing.info.map((line) => line.kind), widest);
  $('search').value = '';
  $('bad-only').setAttribute('aria-pressed', 'false');
  counted();
  drawMaps(listing);
  bytes(null);

  const [reads, read, mapReads, mapRead] = listing.stats;
  say(`Listed ${file.name} in ${listing.ms < 1000 ? listing.ms.toFixed(1) + ' ms' : (listing.ms / 1000).toFixed(2) + ' s'}: ` +
      `read ${amount(read)} in ${plural(reads, 'read')} for the lines and ${amount(mapRead)} in ` +
      `${plural(mapReads, 'read')} for the map, from a file of ${amount(file.size)}; ` +
      `exit status ${listing.status}.`);
  if (listing.stale) stale(file);
  // The tags and the comparison come once the lines are on the page.
  const before = pair.before;
  pair.files = pair.before = null;
  $('tags').replaceChildren();
  $('compare').hidden = !before;
  setTimeout(() => {
    if (current !== listing) return;
    TagView.show($('tags'), listing, (line) => lines.choose(line, 'pointer'));
    if (before) TagView.compare($('compare'), before, listing);
  });
  state('listed');
}

// Says that `file` can no longer be read, and offers to choose it again.
function stale(file) {
  $('stale-text').textContent = `${file.name} has changed or been removed since it was chosen, ` +
    'so its bytes can no longer be read.';
  $('stale').hidden = false;
}

// ---- The Bytes region ----------------------------------------------------

// The bytes of a range in hex, 16 a row, each row with its offset in the
// file and its printable ASCII. As with the lines, only the rows in view are
// in the DOM, past kMostPixels in proportion; their bytes are read from the
// File in slices as they come into view, one read at a time, a few screens
// around the view at once.
class HexView {
  constructor(element) {
    this.element = element;
    this.spacer = element.querySelector('.spacer');
    this.rows = element.querySelector('.rows');
    this.count = 0;
    this.rowHeight = 18;
    this.height = 0;
    this.asked = 0;  // the number of the last range shown
    element.addEventListener('scroll', () => this.render());
    new ResizeObserver(() => this.render()).observe(element);
  }

  // Shows `size` bytes of `file` from `pos`; `failed(error)` is called when
  // they cannot be read.
  show(file, pos, size, failed) {
    this.asked += 1;
    Object.assign(this, { file, pos, size, failed, held: null, reading: false });
    this.count = Math.ceil(size / 16);
    this.digits = String(pos + Math.max(0, size - 1)).length;
    this.rowHeight = parseFloat(getComputedStyle(this.element).getPropertyValue('--row')) || 18;
    this.height = Math.min(this.count * this.rowHeight, kMostPixels);
    this.spacer.style.height = this.height + 'px';
    this.spacer.style.width = `calc(${this.digits + 67}ch + 1.5rem)`;
    this.element.scrollTop = 0;
    this.render();
  }

  render() {
    const view = this.element.clientHeight;
    const full = this.count * this.rowHeight;
    const scale = this.height > view ? (full - view) / (this.height - view) : 1;
    const exact = this.element.scrollTop * scale / this.rowHeight;
    const first = Math.min(Math.floor(exact), Math.max(0, this.count - 1));
    const visible = Math.max(0, Math.min(this.count - first, Math.ceil(view / this.rowHeight) + 1));
    this.rows.style.transform = `translateY(${this.element.scrollTop - (exact - first) * this.rowHeight}px)`;
    while (this.rows.children.length < visible) this.rows.append(document.createElement('div'));
    while (this.rows.children.length > visible) this.rows.lastChild.remove();
    let missing = false;
    [...this.rows.children].forEach((row, i) => {
      const at = (first + i) * 16;
      const held = this.held;
      const chunk = held && at >= held.from && at < held.from + held.bytes.length
        ? held.bytes.subarray(at - held.from, at - held.from + 16) : null;
      const offset = String(this.pos + at).padStart(this.digits);
      if (!chunk) missing = true;
      row.textContent = !chunk ? offset : offset + '  ' +
        Array.from(chunk, (b) => b.toString(16).padStart(2, '0')).join(' ').padEnd(48) + ' ' +
        Array.from(chunk, (b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.')).join('');
    });
    if (missing) this.read(first, visible);
  }

  // Reads the rows from `first` on, `visible` of them, with as many again
  // before and twice as many after, unless a read is under way: the rows
  // are shown again once it ends, and read again if still missing.
  async read(first, visible) {
    if (this.reading) return;
    this.reading = true;
    const asked = this.asked;
    const from = Math.max(0, first - visible) * 16;
    const to = Math.min(this.size, (first + 3 * visible) * 16);
    let bytes;
    try {
      bytes = new Uint8Array(await this.file.slice(this.pos + from, this.pos + to).arrayBuffer());
    } catch (error) {
      if (asked === this.asked) this.failed(error);
      return;
    }
    if (asked !== this.asked) return;
    this.reading = false;
    this.held = { from, bytes };
    // A file cut short since it was listed gives fewer bytes: the rows past
    // them stay without bytes rather than asking again.
    if (bytes.length < to - from) this.size = from + bytes.length;
    this.render();
  }
}

const hex = new HexView($('hex'));

// The Bytes region's heading, which says (politely, to a screen reader)
// what the region now shows, and its rows.
function bytes(label, file = null, pos = 0, size = 0, failed = null) {
  $('range').textContent = label ? `Bytes: ${label}` : 'Bytes: choose a line';
  $('bytes').setAttribute('aria-label', label ? `Bytes: ${label.slice(0, 120)}` : 'Bytes: no line chosen');
  hex.show(file, pos, size, failed);
}

// Shows a range: outlined on each map, and its bytes in hex. After a tap,
// the region is brought into view (below the lines on a phone).
let chosen = null;  // the last range chosen: only it fills the Bytes region
function chooseRange(range, how) {
  chosen = range;
  const listing = current;
  const file = listing.file;
  for (const box of chosenMarks) box.remove();
  const text = range.text.trim();
  const label = text.length > 200 ? text.slice(0, 200) + '…' : text;
  if (how === 'pointer' || how === 'map') {
    const region = $('bytes').getBoundingClientRect();
    if (region.bottom > innerHeight || region.top < 0) $('bytes').scrollIntoView({ block: 'nearest' });
  }
  if (range.pos === undefined) {
    chosenMarks = [];
    bytes(`${label}: this line shows no bytes of the file`);
    return;
  }
  chosenMarks = maps.map((map) => mark(map, range.pos, range.size, 'pick', '', 0.6)).filter(Boolean);
  const past = range.pos + range.size - file.size;
  const where = `${label}: ${plural(range.size, 'byte')} at offset ${count.format(range.pos)}` +
    (past > 0 ? `, ${plural(past, 'byte')} of them past the end of the file` : '');
  const shown = Math.max(0, Math.min(range.size, file.size - range.pos));
  bytes(where, file, range.pos, shown, (error) => {
    if (listing !== current || range !== chosen) return;
    bytes(`${where}. They cannot be read: ${error.message}`);
    stale(file);
  });
}

// ---- Search --------------------------------------------------------------

function counted() {
  const total = lines.lines.length;
  $('count').textContent = lines.shown.length === total ? plural(total, 'line')
    : `${count.format(lines.shown.length)} of ${plural(total, 'line')}`;
}

let lower = null;  // the lines in lower case, made at the first search
function narrow() {
  const needle = $('search').value.toLowerCase();
  const badOnly = $('bad-only').getAttribute('aria-pressed') === 'true';
  if (needle && (!lower || lower.source !== current)) {
    lower = current.lines.map((text) => text.toLowerCase());
    lower.source = current;
  }
  lines.filter(!needle && !badOnly ? null
    : (i) => (!badOnly || current.info[i].kind === 'bad') && (!needle || lower[i].includes(needle)));
  counted();
}
$('search').addEventListener('input', narrow);
$('bad-only').addEventListener('click', (event) => {
  const button = event.currentTarget;
  button.setAttribute('aria-pressed', String(button.getAttribute('aria-pressed') !== 'true'));
  narrow();
});

// ---- Copying the chosen line ---------------------------------------------

// Ctrl+C (Cmd+C) while the lines have focus copies the chosen line, its
// text as the console prints it on a terminal; text selected in the lines
// is copied as usual.
function lineText(index) {
  return current.lines[index];
}
document.addEventListener('copy', (event) => {
  const list = $('lines');
  const selection = getSelection();
  if (document.activeElement !== list || lines.chosen < 0 || !current) return;
  if (!selection.isCollapsed && list.contains(selection.anchorNode)) return;
  event.clipboardData.setData('text/plain', lineText(lines.chosen));
  event.preventDefault();
});

// ---- The tab's title -----------------------------------------------------

// Names the files shown: "song.m4a — boxwalk", or "before.m4a → after.m4a
// — boxwalk" for two compared.
function titled(...files) {
  document.title = `${files.map((file) => file.name).join(' → ')} — boxwalk`;
}

// ---- Choosing a file -----------------------------------------------------

// One file is listed; two are compared, the first as before and the second
// as after.
function take(files) {
  if (!files.length) return;
  TagView.stop();
  pair.files = files.length > 1 ? [files[0], files[1]] : null;
  pair.before = null;
  reader.list(files[0]);
}

// The input is emptied once its files are taken, so that choosing the same
// file again lists it again, read afresh.
$('file').addEventListener('change', (event) => {
  const input = event.target;
  take(input.files);
  input.value = '';
});
$('again').addEventListener('click', () => $('file').click());
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  $('drop').classList.add('over');
});
document.addEventListener('dragleave', () => $('drop').classList.remove('over'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  $('drop').classList.remove('over');
  take(event.dataTransfer.files);
});

reader.start();
