// The worker's side of the page, put in front of the compiled program: the
// reads of the chosen File that the program's platform file asks for, and
// the messages to and from the page. The whole script runs only inside the
// worker, which the page starts from a blob: of this script's text, kept in
// the page as a data block that the page itself never runs.

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
function boxwalkRead(offset, into, count, error, errorSize) {
  try {
    var end = Math.min(offset + count, boxwalkFile.size);
    if (offset >= end) return 0;
    var bytes = new Uint8Array(boxwalkReader.readAsArrayBuffer(boxwalkFile.slice(offset, end)));
    HEAPU8.set(bytes, into);
    return bytes.length;
  } catch (e) {
    if (e && e.name === 'NotReadableError') boxwalkStale = true;
    stringToUTF8(String((e && e.message) || e), error, errorSize);
    return -1;
  }
}

// What one listing gave, handed over by the program before it returns.
var boxwalkListed = null;

// Copies the program's results out of its memory for the page.
function boxwalkDeliver(status, out, outSize, shown, shownSize, err, errSize, errShown,
                        errShownSize, lines, about, lineCount, values, valueCount, atoms,
                        atomCount, stats) {
  var bytes = function (at, size) { return HEAPU8.slice(at, at + size); };
  var numbers = function (at, count) { return HEAPF64.slice(at >> 3, (at >> 3) + count); };
  boxwalkListed = {
    status: status,
    out: bytes(out, outSize),
    shown: bytes(shown, shownSize),
    err: bytes(err, errSize),
    errShown: bytes(errShown, errShownSize),
    lines: numbers(lines, lineCount * 2),
    about: numbers(about, lineCount * 9),
    values: numbers(values, valueCount * 4),
    atoms: numbers(atoms, atomCount * 4),
    stats: numbers(stats, 4)
  };
}

Module['onRuntimeInitialized'] = function () {
  postMessage({ kind: 'ready' });
};

onmessage = function (event) {
  var file = event.data.file;
  boxwalkFile = file;
  boxwalkListed = null;
  boxwalkStale = false;
  var size = lengthBytesUTF8(file.name) + 1;
  var name = _malloc(size);
  stringToUTF8(file.name, name, size);
  var started = performance.now();
  _boxwalk_list(name, file.size);
  var listed = boxwalkListed;
  listed.ms = performance.now() - started;
  _free(name);
  boxwalkFile = null;
  listed.kind = 'listed';
  listed.id = event.data.id;
  listed.file = file;
  listed.stale = boxwalkStale;
  postMessage(listed, [listed.out.buffer, listed.shown.buffer, listed.err.buffer,
                       listed.errShown.buffer, listed.lines.buffer, listed.about.buffer,
                       listed.values.buffer, listed.atoms.buffer]);
};
