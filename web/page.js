// The page: takes a chosen or dropped file, has a worker list it, and shows
// the lines, a map of the file and the bytes of a chosen line; two files
// chosen together are compared. Every text from the file goes on the page
// through textContent, never as markup.
//
// The page holds no line it does not show. A file is listed by a worker of
// the program's (web/worker.js), which then holds what it printed, a buffer
// of text and typed arrays of its lines' columns, where the program wrote
// them, and answers the views (web/lines.js): the rows in view, what a line
// shows, a search. Once the lines are on the page it reads the file's tag
// records too, and holds them (web/records.js): the page shows the file at a
// glance and the tags view from them, and reads the XMP packets' properties
// for it (web/xmp.js). Another file chosen ends it. A listing (one file's
// results) is shown by views: the lines view, a virtual listbox, the maps
// and the tags; a choice in any of them shows its bytes in the one Bytes
// region.
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
const duration = (ms) => (ms < 1000 ? ms.toFixed(1) + ' ms' : (ms / 1000).toFixed(2) + ' s');

// ---- The workers ---------------------------------------------------------

// A worker started from a blob: of the script the page holds as the data
// block `id`: a page opened from disk may not start a worker from a file.
const scriptUrls = new Map();
function startWorker(id) {
  if (!scriptUrls.has(id)) {
    scriptUrls.set(id, URL.createObjectURL(new Blob([$(id).textContent], { type: 'text/javascript' })));
  }
  return new Worker(scriptUrls.get(id));
}

// The program's workers, one a job: the next is started once one is taken,
// so that a job finds its program compiled and ready. take() gives a ready
// worker; run() hands a job to one (its `transfer` buffers moved, not
// copied) and calls `heard` with each message until the job's last
// (`last(message)`), then ends the worker; stop() ends the jobs under way.
const programs = {
  next: null,
  jobs: 0,
  // Whether a listing reads a heavy moov ahead, in parts at once: always,
  // but for the runner's check that it changes nothing.
  readAhead: true,
  running: new Set(),
  start() {
    const worker = startWorker('program-worker');
    this.next = { worker, ready: new Promise((ready, failed) => {
      worker.onmessage = (event) => { if (event.data.kind === 'ready') ready(worker); };
      worker.onerror = (event) => { event.preventDefault(); failed(new Error(event.message || 'the program did not start')); };
    }) };
  },
  // Runs the program once on a made-up file in a worker of its own, which
  // then ends: the browser optimizes its busiest functions once, for every
  // worker of the page, which runs the same program.
  warm() {
    const worker = startWorker('program-worker');
    worker.onmessage = (event) => {
      if (event.data.kind === 'ready') worker.postMessage({ kind: 'warm' });
      else if (event.data.kind === 'warmed') worker.terminate();
    };
    worker.onerror = (event) => { event.preventDefault(); worker.terminate(); };
  },
  take() {
    if (!this.next) this.start();
    const { ready } = this.next;
    this.next = null;
    setTimeout(() => { if (!this.next) this.start(); }, 200);
    return ready;
  },
  async run({ transfer = [], ...job }, heard, last) {
    job.id = ++this.jobs;
    const worker = await this.take();
    return new Promise((done, failed) => {
      const end = () => {
        worker.terminate();
        this.running.delete(running);
      };
      const running = { stop: () => { end(); failed(new Error('stopped')); } };
      this.running.add(running);
      worker.onmessage = (event) => {
        heard(event.data);
        if (last(event.data)) { end(); done(event.data); }
      };
      // The program stopped (a fault, or memory it could not have).
      worker.onerror = (event) => { event.preventDefault(); end(); failed(new Error(event.message || 'unknown error')); };
      worker.postMessage(job, transfer);
    });
  },
  stop() {
    for (const running of [...this.running]) running.stop();
  },
};

// One file's results, held by the program's worker that listed it: the
// listing's questions go there (ask), and close() ends it.
class Listing {
  constructor(worker, listed) {
    this.worker = worker;
    this.file = listed.file;
    this.status = listed.status;
    this.ms = listed.ms;
    this.readMs = listed.readMs;
    this.stale = listed.stale;
    this.summary = listed.summary;
    this.firstRows = listed.rows;
    const [reads, read, mapReads, mapRead] = new Float64Array(listed.reads);
    this.reads = { reads, read, mapReads, mapRead };
    this.atoms = atomsOf(new Float64Array(listed.atoms), listed.file.size);
    this.asked = 0;
    this.answers = new Map();
    this.worker.onmessage = (event) => {
      const answer = this.answers.get(event.data.ask);
      if (answer) {
        this.answers.delete(event.data.ask);
        answer(event.data);
      } else if (event.data.kind === 'widest') {
        this.summary.widest = event.data.chars;
        if (current === this) lines.widen(event.data.chars);
      }
    };
    this.worker.onerror = (event) => {
      event.preventDefault();
      if (current === this) failed(new Error(event.message || 'unknown error'));
    };
  }

  // Asks the worker one question: its answer, as a promise.
  ask(kind, question = {}, transfer = []) {
    const ask = ++this.asked;
    return new Promise((answer) => {
      this.answers.set(ask, answer);
      this.worker.postMessage({ kind, ask, ...question }, transfer);
    });
  }

  // The tag records, read once: what records.js says of them, with the XMP
  // packets' properties added (read here, as the worker has no XML
  // parser). A rejection says why they cannot be read.
  records() {
    if (!this.read) {
      this.read = (async () => {
        const said = await this.ask('records');
        if (said.failed) throw new Error(said.failed);
        const { tags, damage } = Xmp.properties(said.packets);
        const all = await this.ask('addXmp', { tags, damage });
        if (all.failed) throw new Error(all.failed);
        return all;
      })();
    }
    return this.read;
  }
  // Lines [from, to) by index, as the terminal shows them.
  async texts(from, to) { return (await this.ask('texts', { from, to })).texts; }

  close() { this.worker.terminate(); }
}

// The top-level atoms from the program's four numbers each.
function atomsOf(numbers, end) {
  const atoms = [];
  for (let i = 0; i < numbers.length; i += 4) {
    const [pos, size, header, code] = numbers.subarray(i, i + 4);
    const type = header === 0 ? '' : String.fromCharCode(code >>> 24, (code >>> 16) & 255,
                                                         (code >>> 8) & 255, code & 255);
    atoms.push({ pos, declared: size, header, type, size: Math.min(size, end - pos),
                 bad: header === 0 || size < header || pos + size > end });
  }
  return atoms;
}

// Lists `file`: its Listing, or a rejection when the program stopped or
// was stopped (programs.stop()).
async function listFile(file) {
  const worker = await programs.take();
  return new Promise((done, failed) => {
    const running = { stop: () => { worker.terminate(); failed(new Error('stopped')); } };
    programs.running.add(running);
    const settle = () => programs.running.delete(running);
    worker.onmessage = (event) => {
      if (event.data.kind !== 'listed') return;
      settle();
      done(new Listing(worker, event.data));
    };
    worker.onerror = (event) => {
      event.preventDefault();
      settle();
      worker.terminate();
      failed(new Error(event.message || 'unknown error'));
    };
    worker.postMessage({ kind: 'list', file, id: ++programs.jobs, readAhead: programs.readAhead });
  });
}

// The damage a listing shows, in words: what the tag reader found
// (`records`, when read), atoms cut by the file's end or shorter than their
// headers, malformed lines, and the program's errors.
function damage(listing, records) {
  const said = records ? records.damage.map((d) => Tags.visible(d.what)) : [];
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
  const { malformed, bad, errors, firstError } = listing.summary;
  if (malformed) said.push(`${plural(malformed, 'malformed line')}, the first: ${bad[0].text.trim()}`);
  if (listing.status !== 0 && errors) said.push(`the listing stopped: ${firstError}`);
  if (records && records.status === 1) said.push(`the tags were read in part: ${Tags.visible(records.error)}`);
  return said;
}

// The notice above the map: for a file that is not an MP4 one, what it
// looks like instead, in place of any damage; else the damage, if any.
function notice(listing, records) {
  const box = $('notice');
  const said = damage(listing, records);
  const text = records && records.kind !== 'mp4' ? `${Tags.notMp4(records.kind, records.description)}.`
    : said.length ? `This file is damaged: ${said.join('; ')}.` : '';
  box.hidden = !text;
  box.textContent = text;
  return said;
}

// ---- The lines: a virtual listbox ----------------------------------------

// Only the rows in view are in the DOM, and only the rows near the view are
// on this side at all: the listing's worker hands them over when asked.
// The rest of the list is a spacer of the full height. Past kMostPixels the
// spacer stops growing and scrolling moves through the lines in proportion.
const kMostPixels = 8e6;

class LineList {
  constructor(element, onChoose) {
    this.element = element;
    this.spacer = element.querySelector('.spacer');
    this.rows = element.querySelector('.rows');
    this.onChoose = onChoose;
    this.listing = null;
    this.total = 0;      // the lines the filter lets through
    this.near = { from: 0, rows: [] };  // rows around the view, as handed over
    this.asking = null;  // the rows asked for and not yet handed over
    this.filters = 0;    // the number of the filter in force
    this.chosen = -1;    // index of the chosen line
    this.chosenText = '';  // its text, once its worker has said it
    this.at = -1;        // its position among the shown lines, or the next's
    this.on = false;     // whether the line at `at` is the chosen one
    this.painted = null; // called once the rows in view are on the page
    element.addEventListener('scroll', () => this.render());
    element.addEventListener('keydown', (event) => this.key(event));
    this.rows.addEventListener('click', (event) => {
      const row = event.target.closest('[role=option]');
      if (row) this.choosePosition(Number(row.dataset.position), 'pointer');
    });
    new ResizeObserver(() => this.measure()).observe(element);
  }

  // Shows `listing`'s lines, `total` of them, the widest `widest`
  // characters long; `painted` is called once the first are on the page.
  set(listing, total, widest, painted) {
    this.listing = listing;
    this.widest = widest;
    this.chosen = -1;
    this.at = -1;
    this.painted = painted;
    this.element.scrollTop = 0;
    this.filtered(total, -1, false, { from: 0, rows: listing.firstRows || [] });
  }

  // The lines the filter lets through are now `total`; the chosen line
  // stands at `at` among them, or (`on` false) the first after it; `near`
  // holds the rows around the view that are at hand already.
  filtered(total, at, on = false, near = { from: 0, rows: [] }) {
    this.total = total;
    this.filters += 1;
    this.near = near;
    this.asking = null;
    this.at = at;
    this.on = on;
    this.element.removeAttribute('aria-activedescendant');
    this.measure();
    if (this.chosen >= 0) this.reveal(at);
  }

  // Sets the width for the widest line, once the worker has measured it.
  widen(widest) {
    this.widest = widest;
    this.measure();
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
    const full = this.total * this.rowHeight;
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
    const full = this.total * this.rowHeight;
    const scale = this.height > view ? (full - view) / (this.height - view) : 1;
    return this.element.scrollTop * scale / this.rowHeight;
  }

  // Scrolls so that the line at `position` is in view, moving no further
  // than needed.
  reveal(position) {
    if (position < 0) return;
    const view = this.element.clientHeight;
    const full = this.total * this.rowHeight;
    const scale = this.height > view ? (full - view) / (this.height - view) : 1;
    const top = this.top();
    const rows = view / this.rowHeight;
    let want = top;
    if (position < top) want = position;
    else if (position + 1 > top + rows) want = position + 1 - rows;
    if (want !== top) this.element.scrollTop = want * this.rowHeight / scale;
    this.render();
  }

  // The row at `position`, if it is near the view.
  rowAt(position) {
    return this.near.rows[position - this.near.from] || null;
  }

  // The text of line `index`: the chosen one's, or a row's near the view.
  textOf(index) {
    const row = this.near.rows.find((near) => near.index === index);
    return row ? row.text : index === this.chosen ? this.chosenText : '';
  }

  // Asks for the rows of three views around `first`, unless asked already.
  fetch(first, visible) {
    const from = Math.max(0, first - visible);
    const count = 3 * visible;
    if (this.asking && this.asking.from <= first && this.asking.from + this.asking.count >= first + visible) {
      return this.asking.promise;
    }
    const filters = this.filters;
    const listing = this.listing;
    const promise = listing.ask('rows', { from, count }).then(({ rows }) => {
      if (filters !== this.filters || listing !== this.listing) return;
      this.near = { from, rows };
      if (this.asking && this.asking.promise === promise) this.asking = null;
      this.render();
    });
    this.asking = { from, count, promise };
    return promise;
  }

  render() {
    if (!this.listing) return;
    const view = this.element.clientHeight;
    const exact = this.top();
    const first = Math.floor(exact);
    const visible = Math.max(0, Math.min(this.total - first, Math.ceil(view / this.rowHeight) + 1));
    const have = visible === 0 || (this.rowAt(first) && this.rowAt(first + visible - 1));
    if (!have) this.fetch(first, Math.max(visible, 1));
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
      const line = i < visible && this.rowAt(first + i);
      row.hidden = !line;
      if (!line) return;
      const chosen = line.index === this.chosen;
      row.id = `line-${line.index}`;
      row.dataset.index = line.index;
      row.dataset.position = first + i;
      row.className = `line ${line.mark}${chosen ? ' chosen' : ''}`;
      row.textContent = line.text;
      row.setAttribute('aria-selected', chosen);
      row.setAttribute('aria-posinset', first + i + 1);
      row.setAttribute('aria-setsize', this.total);
      if (chosen) active = row.id;
    });
    if (active) this.element.setAttribute('aria-activedescendant', active);
    else this.element.removeAttribute('aria-activedescendant');
    if (have && this.painted) {
      const painted = this.painted;
      this.painted = null;
      painted();
    }
  }

  // Chooses the line at `position` among the shown lines.
  async choosePosition(position, how) {
    this.at = position;
    this.reveal(position);
    if (!this.rowAt(position)) await this.fetch(position, 1);
    const line = this.rowAt(position);
    if (!line || this.at !== position) return;
    this.chosen = line.index;
    this.on = true;
    this.render();
    this.onChoose(line.index, how);
  }

  // Chooses no line (a tag without one was chosen).
  unchoose() {
    this.chosen = -1;
    this.on = false;
    this.render();
  }

  // Chooses line `index` (from the map or the tags), shown or not.
  async choose(index, how) {
    const listing = this.listing;
    const { at, on } = await listing.ask('position', { index });
    if (listing !== this.listing) return;
    this.chosen = index;
    this.at = at;
    this.on = on;
    this.reveal(at);
    this.onChoose(index, how);
  }

  key(event) {
    const last = this.total - 1;
    if (last < 0) return;
    const page = Math.max(1, Math.floor(this.element.clientHeight / this.rowHeight) - 1);
    const now = this.at;
    const moves = {
      ArrowDown: this.on || now < 0 ? now + 1 : now, ArrowUp: now - 1, PageDown: now + page,
      PageUp: now - page, Home: 0, End: last,
    };
    if (!(event.key in moves)) return;
    event.preventDefault();
    this.choosePosition(Math.max(0, Math.min(last, moves[event.key])), 'key');
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
  const { children, marks, bad } = listing.summary;
  if (moov) {
    const inner = row(zoom, children.filter((range) => range.pos !== undefined).map((range) => ({
      pos: range.pos,
      size: Math.max(0, Math.min(range.size, end - range.pos)),
      label: range.type,
      classes: range.mark,
      title: named(range.type, range.size, range.pos),
      choose: () => lines.choose(range.index, 'map'),
    })), moov.pos, moov.pos + moov.size);
    for (const range of marks) {
      if (range.pos !== undefined) mark(inner, range.pos, range.size, range.mark, range.text.trim());
    }
    maps.push(inner);
  }
  for (const range of bad) {
    if (range.pos === undefined) continue;
    for (const map of maps) mark(map, range.pos, 0, 'bad', range.text.trim(), 0.5);
  }
}

// ---- Showing a listing and a choice --------------------------------------

let current = null;  // the listing shown
let download = null; // the object URL of its download

const lines = new LineList($('lines'), async (index, how) => {
  const listing = current;
  const { line } = await listing.ask('line', { index });
  if (listing !== current || lines.chosen !== index) return;
  lines.chosenText = line.text;
  chooseRange(line, how);
});

// Shows `listing` in the lines view and the maps; the listing shown before
// is closed unless `keep` holds it (a comparison's other file).
function show(listing, keep = []) {
  if (current && current !== listing && !keep.includes(current)) current.close();
  current = listing;
  const file = listing.file;
  $('name').textContent = file.name;
  titled(...keep.map((other) => other.file), file);
  if (download) URL.revokeObjectURL(download);
  download = null;
  const link = $('download');
  link.href = '#';
  link.download = file.name + '.txt';

  // The notice waits for the tag records, which say what the file is.
  $('notice').hidden = true;
  $('notice').textContent = '';
  TagView.stop();
  Cover.clear();
  Glance.reading($('glance'), file);

  $('result').hidden = false;
  document.body.dataset.tags = 'waiting';
  $('search').value = '';
  $('bad-only').setAttribute('aria-pressed', 'false');
  drawMaps(listing);
  bytes(null);
  const { read, reads, mapRead, mapReads } = listing.reads;
  say(`Listed ${file.name} in ${duration(listing.ms)}, ${duration(listing.readMs)} of it reading: ` +
      `read ${amount(read)} in ${plural(reads, 'read')} for the lines and ${amount(mapRead)} in ` +
      `${plural(mapReads, 'read')} for the map, from a file of ${amount(file.size)}; ` +
      `exit status ${listing.status}.`);
  if (listing.stale) stale(file);
  lines.set(listing, listing.summary.lineCount, listing.summary.widest, () => {
    if (current !== listing) return;
    state('listed');
    // The tags come once the lines are on the page, then what printing
    // takes.
    setTimeout(() => showTags(listing));
  });
  counted();
  $('tags').replaceChildren();
}

// Shows what the tag records of `listing` say: the notice, the file at a
// glance and the tags view. The worker reads them after the lines.
async function showTags(listing) {
  let records;
  try {
    records = await listing.records();
  } catch (error) {
    if (current !== listing) return;
    notice(listing, null);
    $('glance').hidden = true;
    TagView.fail($('tags'), `The tags cannot be read: ${error.message}`);
    document.body.dataset.tags = 'failed';
    printing.prepare(listing);
    return;
  }
  if (current !== listing) return;
  const problems = notice(listing, records);
  Glance.show($('glance'), listing.file, records, problems);
  if (records.status === 2) {
    TagView.fail($('tags'), `The tags cannot be read: ${Tags.visible(records.error)}`);
  } else {
    await TagView.show($('tags'), listing, records, chooseTag).painted;
    if (current !== listing) return;
  }
  if (!comparison.pair) {
    const [reads, read] = records.reads;
    say(`${$('status').textContent.replace(/\.$/, '')}; the tags in ${duration(records.ms)}, ` +
        (reads ? `${duration(records.readMs)} of it reading ${amount(read)} more in ${plural(reads, 'read')}.`
          : 'with no more reads.'));
  }
  document.body.dataset.tags = 'shown';
  printing.prepare(listing);
}

// What choosing a tag shows (the worker's answer): its line, where it has
// one, else its own bytes.
function chooseTag(answer) {
  const listing = current;
  if (answer.failed || !listing) return;
  if (answer.line !== undefined) {
    lines.choose(answer.line, 'pointer');
    return;
  }
  lines.unchoose();
  chooseRange(answer.range, 'pointer');
}

// "Download the output": the output's bytes as the worker holds them, put
// in a blob when first asked for.
$('download').addEventListener('click', async (event) => {
  if (download) return;
  event.preventDefault();
  const listing = current;
  const { blob } = await listing.ask('blob');
  if (listing !== current) return;
  download = URL.createObjectURL(blob);
  event.target.href = download;
  event.target.click();
});

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
  const total = current.summary.lineCount;
  $('count').textContent = lines.total === total ? plural(total, 'line')
    : `${count.format(lines.total)} of ${plural(total, 'line')}`;
}

// Narrows the lines to those holding the text searched for, and to the
// malformed ones: the listing's worker searches its bytes, and the list
// shows what it found. An answer that comes after a later question is
// dropped.
let searches = 0;
async function narrow() {
  const needle = $('search').value;
  const badOnly = $('bad-only').getAttribute('aria-pressed') === 'true';
  const listing = current;
  const number = ++searches;
  const found = await listing.ask('search', { needle, badOnly, chosen: lines.chosen });
  if (number !== searches || listing !== current) return;
  lines.filtered(found.count, lines.chosen >= 0 ? found.at : -1, found.on);
  counted();
  $('count').dataset.searched = number;
}
$('search').addEventListener('input', narrow);
$('bad-only').addEventListener('click', (event) => {
  const button = event.currentTarget;
  button.setAttribute('aria-pressed', String(button.getAttribute('aria-pressed') !== 'true'));
  narrow();
});

// ---- Two files compared ----------------------------------------------------

// The comparison on the page: its listings, the view on top of the page,
// and the number of the last one started, so that what comes of an earlier
// one is dropped.
const comparison = {
  pair: null,
  number: 0,
  view: new Compare.View($('compare'), { swap: () => swap(), stop: () => programs.stop() }),
};

// Which of two files is before: the one changed earlier; on a tie, the
// first chosen.
const ordered = ([a, b]) => (b.lastModified < a.lastModified ? [b, a] : [a, b]);

// Lists two files and compares them, the comparison on top.
async function compareFiles(files) {
  const number = ++comparison.number;
  const [first, second] = ordered(files);
  const view = comparison.view;
  view.begin(first, second);
  state('listing');
  say(`Reading ${first.name} and ${second.name}…`);
  const listed = [];
  try {
    for (const file of [first, second]) {
      view.progress(`Listing ${file.name}…`);
      const listing = await listFile(file);
      listed.push(listing);
      if (number !== comparison.number) throw new Error('replaced');
      // Its output is taken for the comparison, then its tags are read
      // while the other file is listed.
      listing.copied = listing.ask('copy');
      listing.records().catch(() => {});
    }
  } catch (error) {
    for (const listing of listed) listing.close();
    if (number === comparison.number) failed(error, view);
    return;
  }
  comparison.pair = { before: listed[0], after: listed[1] };
  show(listed[1], [listed[0]]);
  await run(number);
}

// Compares the pair's outputs and their tags, each in a program's worker of
// its own, at once: each is shown as it comes.
async function run(number) {
  const { before, after } = comparison.pair;
  const view = comparison.view;
  view.begin(before.file, after.file);
  view.progress('Comparing…', 0);
  const copies = await Promise.all([before, after].map((listing) => {
    const copied = listing.copied || listing.ask('copy');
    listing.copied = null;
    return copied;
  }));
  if (number !== comparison.number) return;
  const [firstText, secondText] = copies.map(({ text }) => ({ text }));
  const names = [before.file.name, after.file.name];
  const times = {};
  const said = () => {
    if (!times.lines || !times.tags) return;
    state('compared');
    say(`Compared ${names[0]} and ${names[1]}: the lines in ${duration(times.lines)}, and the tags in ` +
        `${duration(times.tags)} (read, compared and described), in workers at once.`);
  };
  const heard = (message) => {
    if (number !== comparison.number) return;
    if (message.kind === 'progress') {
      view.progress('Comparing the lines…', message.done);
    } else if (message.kind === 'compared') {
      times.lines = message.ms;
      view.lines(message.result, message.rows, async (from, to) => (await before.ask('patchLines', { from, to })).texts,
                 message.saved, Compare.diffName(...names));
      said();
    } else if (message.kind === 'failed') {
      view.stopped(`The comparison stopped: ${message.message}`);
    }
  };
  const ended = (message) => ['compared', 'tags', 'failed'].includes(message.kind);
  // The tags: each listing's worker prints its records, with the XMP
  // properties the page added (records.js); another worker compares the
  // prints; the listings' workers describe the tags that differ.
  const started = performance.now();
  const tags = async () => {
    const [first, second] = await Promise.all([before, after].map(async (listing) => {
      await listing.records();
      const printed = await listing.ask('tagPrints');
      if (printed.failed) throw new Error(printed.failed);
      return printed;
    }));
    if (number !== comparison.number) return;
    const found = await programs.run({ kind: 'compare-tags', first, second,
      transfer: [first, second].flatMap((side) => [side.identity.buffer, side.content.buffer, side.pictures.buffer]) },
    heard, ended);
    if (found.kind !== 'tags' || number !== comparison.number) return;
    const sides = [0, 1].map((k) => [...new Set(found.pairs.filter((id, at) => at % 2 === k && id >= 0))]);
    const [was, now] = await Promise.all([before, after].map((listing, k) => listing.ask('tagDescribe', { ids: sides[k] })));
    if (number !== comparison.number) return;
    const byId = (k, said) => new Map(sides[k].map((id, at) => [id, said.tags[at]]));
    times.tags = performance.now() - started;
    view.tags({ changes: Compare.described(found.pairs, byId(0, was), byId(1, now)), total: found.total });
    said();
  };
  try {
    await Promise.all([
      programs.run({ kind: 'compare', first: firstText, second: secondText, names, comparisons: Compare.comparisons,
                     transfer: [firstText.text.buffer, secondText.text.buffer] }, heard, ended),
      tags(),
    ]);
  } catch (error) {
    if (number === comparison.number) failed(error, view);
  }
}

// Swaps before and after, and compares them again.
function swap() {
  if (!comparison.pair) return;
  comparison.number += 1;
  programs.stop();
  const { before, after } = comparison.pair;
  comparison.pair = { before: after, after: before };
  show(before, [after]);
  run(++comparison.number);
}

// Says why a job ended early: stopped by a person, or the program stopped.
function failed(error, view) {
  const text = error.message === 'stopped' ? 'Stopped.' : `The reader stopped: ${error.message}`;
  if (view) view.stopped(text);
  say(text);
  state('failed');
}

// Ends the comparison shown, and its listings but `keep`.
function endComparison(keep) {
  comparison.number += 1;
  programs.stop();
  if (comparison.pair) {
    for (const listing of Object.values(comparison.pair)) if (listing !== keep) listing.close();
  }
  comparison.pair = null;
  comparison.view.end();
}

// ---- Printing ------------------------------------------------------------

// What a print holds in place of the views, which show only what is in
// view: every line and every tag as text, up to printing.most of each (a
// hundred pages), made once the listing is on the page, as printing cannot
// wait for a worker.
const printing = {
  most: 5000,
  async prepare(listing) {
    const box = $('print');
    box.dataset.ready = 'false';
    box.replaceChildren();
    const total = listing.summary.lineCount;
    const texts = await listing.texts(0, Math.min(total, this.most));
    const { tags = [], total: tagCount = 0 } = await listing.ask('tagTexts', { count: this.most });
    if (listing !== current) return;
    const element = Compare.element;
    box.append(element('h3', '', total > this.most
      ? `The first ${count.format(this.most)} of ${plural(total, 'line')} (the saved output holds them all)`
      : `The lines: ${plural(total, 'line')}`));
    box.append(element('pre', 'print-lines', texts.join('\n')));
    if (tags.length) {
      // One text, a tag a line, as a table of thousands of rows would take
      // long to make.
      box.append(element('h3', '', tagCount > tags.length
        ? `The first ${count.format(tags.length)} of ${plural(tagCount, 'tag')}`
        : `Tags: ${count.format(tagCount)}`));
      box.append(element('pre', 'print-tags', tags.map((tag, i) =>
        `${i === 0 || tags[i - 1].group !== tag.group ? `${tag.group}\n` : ''}  ${tag.label}  ${tag.key}  ${tag.value}`)
        .join('\n')));
    }
    box.dataset.ready = 'true';
  },
};

// ---- Copying the chosen line ---------------------------------------------

// Ctrl+C (Cmd+C) while the lines have focus copies the chosen line, its
// text as the console prints it on a terminal; text selected in the lines
// is copied as usual. The text is at hand: the chosen line's, as the
// listing's worker said it, or a row near the view.
function lineText(index) {
  return lines.textOf(index);
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

let takes = 0;
// One file is listed; two are compared.
async function take(files) {
  if (!files.length) return;
  const number = ++takes;
  TagView.stop();
  endComparison(null);
  $('stale').hidden = true;
  if (files.length > 1) {
    compareFiles([files[0], files[1]]);
    return;
  }
  const file = files[0];
  state('listing');
  say(`Reading ${file.name}…`);
  try {
    const listing = await listFile(file);
    if (number !== takes) { listing.close(); return; }
    show(listing);
  } catch (error) {
    if (number === takes) failed(error);
  }
}

// The input is emptied once its files are taken, so that choosing the same
// file again lists it again, read afresh.
$('file').addEventListener('change', (event) => {
  const input = event.target;
  take([...input.files]);
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
  take([...event.dataTransfer.files]);
});

programs.start();
programs.warm();
programs.next.ready.then(() => {
  say('Ready: choose or drop a file.');
  state('ready');
}, (error) => failed(error));
