// The program's side of the page, put in front of the compiled program: the
// reads of the chosen File that the program's platform file asks for, the
// buffers it hands over, and the messages to and from the page. The whole
// script runs only inside a worker, which the page starts from a blob: of
// this script's text, kept in the page as a data block that the page itself
// never runs. The page uses each such worker for one job and then ends it
// with all of its memory, so that a heavy file's heap is not kept for the
// next: a listing, whose lines and tag records the worker then holds and
// answers questions about (lines.js, records.js) for as long as the page
// shows them, or a comparison.

// No fetch in the worker: the glue would fetch its own wasm, a data: URL,
// which the page's policy refuses (and logs); without fetch it decodes it in
// place.
var fetch = undefined;

// The File being listed and the reader that takes slices of it. Reads are
// synchronous, as the program asks for bytes and waits for them, which only
// a worker may do.
var boxwalkFile = null;
var boxwalkReader = new FileReaderSync();
// Whether a read failed because the file changed or went since it was
// chosen: the browser then refuses every read of that File.
var boxwalkStale = false;

// Reads [offset, offset + count) of the File into the program's memory at
// `into`: the number of bytes read (fewer at the end, none past it), or -1
// with the browser's error text written at `error`. Offsets are exact up to
// 2^53, beyond any File's size.
var boxwalkReading = 0;  // ms spent in reads
function boxwalkRead(offset, into, count, error, errorSize) {
  var started = performance.now();
  try {
    var end = Math.min(offset + count, boxwalkFile.size);
    if (offset >= end) return 0;
    if (boxwalkAhead.length && offset >= boxwalkAhead[0].pos && end <= boxwalkAheadEnd) {
      // The parts follow one another: the read may span several.
      for (var i = 0, at = offset; at < end; i++) {
        var part = boxwalkAhead[i];
        var partEnd = part.pos + part.bytes.length;
        if (at >= partEnd) continue;
        var upTo = Math.min(end, partEnd);
        HEAPU8.set(part.bytes.subarray(at - part.pos, upTo - part.pos), into + (at - offset));
        at = upTo;
      }
      return end - offset;
    }
    var bytes = new Uint8Array(boxwalkReader.readAsArrayBuffer(boxwalkFile.slice(offset, end)));
    HEAPU8.set(bytes, into);
    return bytes.length;
  } catch (e) {
    if (e && e.name === 'NotReadableError') boxwalkStale = true;
    stringToUTF8(String((e && e.message) || e), error, errorSize);
    return -1;
  } finally {
    boxwalkReading += performance.now() - started;
  }
}

// Bytes of the File read ahead of the program's reads ({ pos, bytes }, one
// part after another up to boxwalkAheadEnd): what a listing reads of a
// heavy moov comes in many reads one after the other, each waiting for the
// browser, where a few reads at once take half the time. Kept for the tag
// records, which read it again.
var boxwalkAhead = [];
var boxwalkAheadEnd = 0;
var kAheadMost = 64 * 1048576;    // a moov longer than this is read as asked
var kAheadParts = 4;              // reads at once
var kAheadFrom = 1048576;         // a moov shorter than this is read as asked
var kMoovType = 0x6d6f6f76;
// The program's read-ahead past what it asks (kReadAhead in its source):
// the last read of a moov reaches this far past its end.
var kAheadPast = 2 * 1048576;

// Reads the first moov that `atoms` (four numbers each: position, declared
// size, header length, type) lists ahead, in parts at once, when it is
// long enough for that to pay, and what is before it when that is short.
// A failed read leaves it to the program's own reads, which report it.
async function boxwalkReadAhead(file, atoms) {
  boxwalkAhead = [];
  for (var at = 0; at + 4 <= atoms.length; at += 4) {
    if (atoms[at + 3] !== kMoovType || atoms[at + 2] === 0) continue;
    // From the start of the file when the moov is near it: the program's
    // first read is there.
    var from = atoms[at] < kAheadFrom ? 0 : atoms[at];
    var to = Math.min(file.size, from + atoms[at + 1] + kAheadPast);
    if (atoms[at + 1] < kAheadFrom || to - from > kAheadMost) return;
    var step = Math.ceil((to - from) / kAheadParts);
    var parts = [];
    for (var pos = from; pos < to; pos += step) parts.push(pos);
    try {
      var reads = parts.map(async function (pos) {
        var end = Math.min(to, pos + step);
        return { pos: pos, bytes: new Uint8Array(await file.slice(pos, end).arrayBuffer()) };
      });
      boxwalkAhead = await Promise.all(reads);
      boxwalkAheadEnd = to;
    } catch (e) {
      boxwalkAhead = [];
    }
    return;
  }
}

// What the program handed over, by group, table and name:
// handed.out.lines.end is that column, { at, size } in the program's
// memory for a buffer it keeps, or else an ArrayBuffer of exactly its
// bytes, copied out.
var boxwalkHanded = {};
function boxwalkHand(group, table, name, at, size, kept) {
  var tables = boxwalkHanded[group] || (boxwalkHanded[group] = {});
  var names = tables[table] || (tables[table] = {});
  names[name] = kept !== 0 ? { at: at, size: size } : HEAPU8.slice(at, at + size).buffer;
}

// How far a comparison has come: said to the page at most every 50 ms.
var boxwalkSaid = 0;
var boxwalkJob = 0;
function boxwalkProgress(done) {
  var now = performance.now();
  if (now - boxwalkSaid < 50) return;
  boxwalkSaid = now;
  postMessage({ kind: 'progress', id: boxwalkJob, done: done });
}

// Ready once the program is, and the reader too: the browser sets up its
// side of the first read of a worker, some tens of ms, here rather than in
// the listing that waits for it.
Module['onRuntimeInitialized'] = function () {
  boxwalkReader.readAsArrayBuffer(new Blob([new Uint8Array(1)]));
  postMessage({ kind: 'ready' });
};

// Whether the widest line of the listing held is measured: once the first
// rows are on their way, a share at a time between the questions that
// follow.
var boxwalkMeasured = true;

// The rows that come with a listing: more than a tall window shows, three
// times over (the rows near the view that the page keeps).
var kFirstRows = 200;

// Lists `file` as the console tool would, and holds what it printed; with
// `readAhead`, reads its moov ahead (boxwalkReadAhead).
async function boxwalkList(file, id, readAhead) {
  boxwalkFile = file;
  boxwalkHanded = {};
  boxwalkStale = false;
  boxwalkReading = 0;
  var started = performance.now();
  _boxwalk_map(file.size);
  var aheadFrom = performance.now();
  if (readAhead) await boxwalkReadAhead(file, new Float64Array(boxwalkHanded.file.atoms.atoms));
  boxwalkReading += performance.now() - aheadFrom;
  var size = lengthBytesUTF8(file.name) + 1;
  var name = _malloc(size);
  stringToUTF8(file.name, name, size);
  var status = _boxwalk_list(name, file.size);
  var ms = performance.now() - started;
  _free(name);
  boxwalkFile = null;
  var handed = boxwalkHanded;
  boxwalkHanded = {};
  var atoms = handed.file.atoms.atoms;
  var reads = handed.file.reads.reads;
  var summary = Lines.hold(handed, file);
  // The first rows come with the listing: the page shows them without
  // asking.
  var rows = (await Lines.answer({ kind: 'rows', from: 0, count: kFirstRows }))[0].rows;
  postMessage({ kind: 'listed', id: id, rows: rows, file: file, status: status, ms: ms, stale: boxwalkStale,
                readMs: boxwalkReading, atoms: atoms, reads: reads, summary: summary }, [atoms, reads]);
  boxwalkMeasured = false;
}

// Copies `bytes` into the program's memory: where they are, to be freed.
function boxwalkCopyIn(bytes) {
  var at = _malloc(Math.max(1, bytes.byteLength));
  HEAPU8.set(new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength), at);
  return at;
}

// Compares two outputs, `first` and `second` ({ text } as the listings'
// workers copy them), trying at most `comparisons` line comparisons: the
// comparison as the program wrote it, the rows the page shows of it and
// the diff to save.
function boxwalkCompare(job) {
  var first = job.first;
  var second = job.second;
  boxwalkHanded = {};
  var started = performance.now();
  var at = [first.text, second.text].map(boxwalkCopyIn);
  _boxwalk_compare(at[0], first.text.length, at[1], second.text.length, job.comparisons);
  at.forEach(function (pointer) { _free(pointer); });
  var handed = boxwalkHanded.comparison;
  boxwalkHanded = {};
  var counts = new Float64Array(handed.counts.counts);
  var result = {
    hunks: new Uint8Array(handed.hunks.hunks),
    ranges: new Uint32Array(handed.ranges.ranges),
    marks: new Uint8Array(handed.marks.marks),
    firstLines: counts[0], secondLines: counts[1], removed: counts[2], added: counts[3],
    onlyFirst: counts[4], onlySecond: counts[5], bounded: counts[6] === 1,
  };
  var rows = Compare.rows(result);
  var saved = Compare.patch(result, job.names[0], job.names[1]);
  delete result.hunks;
  var ms = performance.now() - started;
  postMessage({ kind: 'compared', id: job.id, ms: ms, result: result, rows: rows, saved: saved },
              [result.ranges.buffer, result.marks.buffer]);
}

// Compares the tags of two listings, `first` and `second`, as their workers
// print them (records.js): the pairs of tags that differ.
function boxwalkCompareTags(job) {
  var started = performance.now();
  var found = Compare.tagChanges(job.first, job.second);
  postMessage({ kind: 'tags', id: job.id, pairs: found.pairs, total: found.total, ms: performance.now() - started },
              [found.pairs.buffer]);
}

// A job, or a question about the listing held: its answer carries its
// `ask`.
onmessage = async function (event) {
  var job = event.data;
  if (job.kind === 'warm') {
    _boxwalk_warm();
    postMessage({ kind: 'warmed' });
  } else if (job.kind === 'list') {
    boxwalkJob = job.id;
    await boxwalkList(job.file, job.id, job.readAhead);
  } else if (job.kind === 'compare' || job.kind === 'compare-tags') {
    boxwalkJob = job.id;
    try {
      await (job.kind === 'compare' ? boxwalkCompare : boxwalkCompareTags)(job);
    } catch (error) {
      postMessage({ kind: 'failed', id: job.id, message: String((error && error.message) || error) });
    }
  } else {
    var answer;
    try {
      answer = await (Records.handles(job.kind) ? Records : Lines).answer(job);
    } catch (error) {
      answer = [{ failed: String((error && error.message) || error) }, []];
    }
    postMessage(Object.assign({ ask: job.ask }, answer[0]), answer[1]);
    if (!boxwalkMeasured) {
      boxwalkMeasured = true;
      Lines.widest(function (chars) { postMessage({ kind: 'widest', chars: chars }); });
    }
  }
};
