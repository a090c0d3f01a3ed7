// The page: takes a chosen or dropped file, has the worker list it, and
// shows the lines, a map of the file and the bytes of a chosen line. Every
// text from the file goes on the page through textContent, never as markup.
'use strict';

const $ = (id) => document.getElementById(id);
const state = (name) => { document.body.dataset.state = name; };

// The worker runs the compiled program; it starts from a blob: of the
// program's own script text (boxwalk.js defines boxwalkWorker), as a page
// opened from disk may not start a worker from a file.
let worker = null;
let waiting = null;  // the file chosen before the worker was ready

function startWorker() {
  const text = new Blob(['(', boxwalkWorker.toString(), ')()'], { type: 'text/javascript' });
  const url = URL.createObjectURL(text);
  worker = new Worker(url);
  URL.revokeObjectURL(url);
  worker.ready = false;
  worker.onmessage = (event) => {
    if (event.data.kind === 'ready') {
      worker.ready = true;
      if (waiting) {
        list(waiting);
      } else {
        say('Ready: choose or drop a file.');
        state('ready');
      }
    } else {
      show(event.data);
    }
  };
  // The program stopped (a fault, or memory it could not have): say so, and
  // start a fresh one for the next file.
  worker.onerror = (event) => {
    event.preventDefault();
    say('The reader stopped' + (listing ? ' on ' + listing.name : '') + ': ' +
        (event.message || 'unknown error'));
    state('failed');
    startWorker();
  };
}

let listing = null;  // the File last chosen
let current = null;  // the File shown

function list(file) {
  listing = file;
  if (!worker.ready) {
    waiting = file;
    return;
  }
  waiting = null;
  state('listing');
  say('Reading ' + file.name + '…');
  worker.postMessage({ file });
}

function say(text) { $('status').textContent = text; }

// Sizes as people read them: 1536 -> "1.5 KiB".
function amount(bytes) {
  const units = ['bytes', 'KiB', 'MiB', 'GiB', 'TiB', 'PiB', 'EiB'];
  let unit = 0;
  while (bytes >= 1024 && unit < units.length - 1) { bytes /= 1024; unit += 1; }
  return (unit === 0 ? bytes : bytes.toFixed(bytes < 10 ? 1 : 0)) + ' ' + units[unit];
}

const decoder = new TextDecoder();
const kinds = ['moov', 'udta', 'ilst', 'Xtra'];

// What a line of the output is, from its text: its depth (two spaces a
// level) and its kind (an atom the map marks, or "bad" for a malformed spot).
function lineKind(text) {
  const body = text.trimStart();
  const word = body.slice(0, 4);
  return {
    depth: (text.length - body.length) / 2,
    kind: body.startsWith('[malformed') ? 'bad' : (kinds.includes(word) && body[4] === ' ' ? word : ''),
  };
}

let download = null;  // the object URL of the download

function show(result) {
  // The result of the file this listing was for: another may have been
  // chosen since, and is listed next.
  const file = result.file;
  current = file;
  const lines = decoder.decode(result.shown).split('\n');
  lines.pop();
  const errors = decoder.decode(result.errShown).split('\n');
  errors.pop();

  $('name').textContent = file.name;
  if (download) URL.revokeObjectURL(download);
  download = URL.createObjectURL(new Blob([result.out], { type: 'text/plain' }));
  const link = $('download');
  link.href = download;
  link.download = file.name + '.txt';

  const output = $('output');
  output.replaceChildren();
  const located = [];
  lines.forEach((text, index) => {
    const line = document.createElement('span');
    line.className = 'line';
    line.textContent = text;
    const pos = result.lines[index * 2];
    if (!Number.isNaN(pos)) {
      const { depth, kind } = lineKind(text);
      const range = { pos, size: result.lines[index * 2 + 1], depth, kind, line, text };
      line.classList.add('located');
      if (kind) line.classList.add(kind);
      line.onclick = () => choose(range);
      line.range = range;
      located.push(range);
    }
    output.append(line);
  });
  for (const text of errors) {
    const line = document.createElement('span');
    line.className = 'line error';
    line.textContent = text;
    output.append(line);
  }

  const atoms = [];
  for (let i = 0; i < result.atoms.length; i += 4) {
    const [pos, size, header, code] = result.atoms.subarray(i, i + 4);
    const type = header === 0 ? '' : String.fromCharCode(code >>> 24, (code >>> 16) & 255,
                                                         (code >>> 8) & 255, code & 255);
    const bad = header === 0 || size < header || pos + size > file.size;
    atoms.push({ pos, size: Math.min(size, file.size - pos), declared: size, type, bad });
  }
  drawMaps(file, atoms, located);

  const [reads, bytes] = result.stats;
  say(`Listed in ${result.ms.toFixed(1)} ms: ${reads} read${reads === 1 ? '' : 's'}, ${amount(bytes)} of ` +
      `${amount(file.size)}. Exit status ${result.status}.`);
  $('result').hidden = false;
  $('range').textContent = 'Choose a line';
  $('hex').textContent = '';
  state('listed');
}

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

// A row of the map: segments laid out over [from, to) of the file, and the
// mapping from file positions to percent of the row's width.
function row(element, segments, from, to) {
  element.replaceChildren();
  const share = widths(segments.map((s) => s.size), Math.min(1.5, 100 / segments.length));
  let left = 0;
  const placed = segments.map((segment, i) => {
    const placedSegment = { ...segment, left, width: share[i] };
    left += share[i];
    const box = document.createElement('div');
    box.className = 'segment ' + segment.classes;
    box.style.left = placedSegment.left + '%';
    box.style.width = placedSegment.width + '%';
    box.title = segment.title;
    box.textContent = segment.label;
    if (segment.range) box.onclick = () => choose(segment.range);
    element.append(box);
    return placedSegment;
  });
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

let maps = [];
let chosenMarks = [];

function drawMaps(file, atoms, located) {
  const end = file.size;
  const top = row($('map'), atoms.map((atom) => ({
    pos: atom.pos,
    size: atom.size,
    label: atom.type || '…',
    // A malformed atom keeps its colour over a red edge; bytes that hold
    // no whole header are hatched.
    classes: [atom.type === 'moov' || atom.type === 'mdat' ? atom.type : '', atom.bad ? 'bad' : '',
              atom.type ? '' : 'rest'].join(' '),
    title: `${atom.type || 'no whole header'} @ ${atom.pos}, size ${atom.declared}` +
           (atom.bad ? ' (malformed)' : ''),
    range: { pos: atom.pos, size: atom.declared, text: atom.type || 'bytes left over' },
  })), 0, end);
  maps = [top];
  $('map-caption').textContent = `The file, ${amount(end)}: ${atoms.length} top-level atom` +
    (atoms.length === 1 ? '' : 's');

  // Where the moov lies: the question of whether playback can start before
  // the whole file has arrived.
  const moov = atoms.find((atom) => atom.type === 'moov');
  const mdat = atoms.find((atom) => atom.type === 'mdat');
  const start = $('start');
  if (!moov) {
    start.textContent = 'No moov atom at the top level.';
  } else if (!mdat) {
    start.textContent = `moov @ ${moov.pos}; no mdat at the top level.`;
  } else if (moov.pos < mdat.pos) {
    start.textContent = `moov at the front (@ ${moov.pos}, before mdat): fast start, ` +
      'a player can begin while the rest of the file arrives.';
  } else {
    start.textContent = `moov at the back (@ ${moov.pos}, after mdat): no fast start, ` +
      'a player must fetch the end of the file before it can begin.';
  }
  start.className = 'start ' + (!moov || !mdat ? '' : moov.pos < mdat.pos ? 'front' : 'back');

  // Inside moov: its children as segments, udta, ilst and Xtra marked over
  // them, and every malformed spot.
  const zoom = $('zoom');
  zoom.hidden = !moov;
  $('zoom-caption').textContent = moov ? `Inside moov, ${amount(moov.size)}` : '';
  if (moov) {
    const children = located.filter((range) => range.depth === 1);
    const inner = row(zoom, children.map((range) => ({
      pos: range.pos,
      size: Math.max(0, Math.min(range.size, end - range.pos)),
      label: range.text.trim().slice(0, 4),
      classes: range.kind,
      title: range.text.trim(),
      range,
    })), moov.pos, moov.pos + moov.size);
    for (const range of located) {
      if (range.depth > 1 && range.kind && range.kind !== 'bad') {
        mark(inner, range.pos, range.size, range.kind, range.text.trim());
      }
    }
    maps.push(inner);
  }
  for (const range of located) {
    if (range.kind === 'bad') {
      for (const map of maps) mark(map, range.pos, 0, 'bad', range.text.trim(), 0.5);
    }
  }
}

// Shows a range: highlighted on each map, and its first bytes in hex.
async function choose(range) {
  const file = current;
  for (const line of document.querySelectorAll('.line.chosen')) line.classList.remove('chosen');
  if (range.line) range.line.classList.add('chosen');
  for (const box of chosenMarks) box.remove();
  chosenMarks = maps.map((map) => mark(map, range.pos, range.size, 'pick', '', 0.6))
    .filter(Boolean);

  const past = range.pos + range.size - file.size;
  $('range').textContent = `${range.text.trim()}: @ ${range.pos}, ${range.size} bytes` +
    (past > 0 ? `, ${past} past the end of the file` : '');
  const shown = Math.max(0, Math.min(range.size, 256, file.size - range.pos));
  const bytes = new Uint8Array(await file.slice(range.pos, range.pos + shown).arrayBuffer());
  if (file !== current) return;
  const rows = [];
  const digits = String(range.pos + bytes.length).length;
  for (let at = 0; at < bytes.length; at += 16) {
    const chunk = bytes.subarray(at, at + 16);
    const hex = Array.from(chunk, (b) => b.toString(16).padStart(2, '0')).join(' ');
    const text = Array.from(chunk, (b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.'))
      .join('');
    rows.push(String(range.pos + at).padStart(digits) + '  ' + hex.padEnd(48) + ' ' + text);
  }
  if (range.size > shown && shown > 0) rows.push('…');
  $('hex').textContent = rows.join('\n');
}

// Up and down move the choice through the lines that show a range.
$('output').addEventListener('keydown', (event) => {
  if (event.key !== 'ArrowDown' && event.key !== 'ArrowUp') return;
  const lines = [...document.querySelectorAll('.line.located')];
  const now = lines.findIndex((line) => line.classList.contains('chosen'));
  const next = lines[event.key === 'ArrowDown' ? Math.min(now + 1, lines.length - 1)
                                              : Math.max(now - 1, 0)];
  if (next) {
    event.preventDefault();
    choose(next.range);
    next.scrollIntoView({ block: 'nearest' });
  }
});

$('file').addEventListener('change', (event) => {
  if (event.target.files.length) list(event.target.files[0]);
});
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  $('drop').classList.add('over');
});
document.addEventListener('dragleave', () => $('drop').classList.remove('over'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  $('drop').classList.remove('over');
  if (event.dataTransfer.files.length) list(event.dataTransfer.files[0]);
});

startWorker();
