// The lines a worker of the program's holds once it has listed a file, and
// its answers to the page's questions about them, so that the page never
// holds a line it does not show. A listing is two streams (standard output,
// then standard error), each one buffer of its text and typed arrays of its
// columns, by the names in contract.js, read in place in the program's
// memory, where the program keeps them until the worker ends. Rows are
// decoded, under the terminal rule, only when asked for; search runs over
// the bytes. The tag records are records.js's.

const Lines = (() => {
  'use strict';

  // The listing: { out, err, file, lineCount, outCount }, each stream
  // { text, lines, details, values, end32 }.
  let held = null;
  // The indexes of the lines a search lets through, or null for every line,
  // and what it asked for.
  let shown = null;
  let searched = { needle: '', badOnly: false };

  const kindNames = Contract.lineKinds.names;
  const lineKind = (name) => kindNames.indexOf(name);
  const kMalformed = lineKind('malformed');
  const kChild = lineKind('child');
  // Lines at the top, at depth 0.
  const kTop = [lineKind('moov'), lineKind('none')];
  // Lines the maps mark inside moov's children: by kind, or by atom type.
  const kMarked = [lineKind('ilst'), lineKind('Xtra')];
  const typeCode = (type) => [...type].reduce((code, c) => code * 256 + c.charCodeAt(0), 0);
  const kMarkedTypes = [typeCode('moov'), typeCode('udta')];

  // A stream's columns as typed arrays, by the names and types in
  // contract.js, over the program's memory where it keeps them ({ at, size }
  // each).
  function stream(handed) {
    const view = (array, { at, size }) => new self[array](HEAPU8.buffer, at, size / self[array].BYTES_PER_ELEMENT);
    const table = (columns, kept) => Object.fromEntries(columns.map(({ name, array }) => [name, view(array, kept[name])]));
    const lines = table(Contract.lineColumns, handed.lines);
    return {
      text: view('Uint8Array', handed.text.text),
      lines,
      details: table(Contract.detailColumns, handed.details),
      values: table(Contract.valueColumns, handed.values),
      // Where each line ends, as the low halves of the 64-bit ends: a text
      // is far shorter than 4 GiB, and these read without a BigInt each.
      end32: new Uint32Array(lines.end.buffer, lines.end.byteOffset, lines.end.length * 2),
    };
  }

  // Line `index` of the listing: its stream and its index there.
  function locate(index) {
    return index < held.outCount ? [held.out, index] : [held.err, index - held.outCount];
  }
  const startOf = (s, i) => (i === 0 ? 0 : s.end32[2 * (i - 1)]);
  // The bytes of a line, without its line feed.
  function bytesOf(index) {
    const [s, i] = locate(index);
    return s.text.subarray(startOf(s, i), s.end32[2 * i] - 1);
  }
  const textOf = (index) => Terminal.bytes(bytesOf(index));

  // What the page marks a line as: the atoms the map marks, "bad" for a
  // malformed spot, "error" for standard error; and its depth for the map.
  function markOf(index) {
    if (index >= held.outCount) return 'error';
    const kind = kindNames[held.out.lines.kind[index]];
    if (kind === 'malformed') return 'bad';
    if (kind === 'ilst' || kind === 'Xtra') return kind;
    const type = typeOf(index);
    return type === 'moov' || type === 'udta' ? type : '';
  }
  function typeOf(index) {
    const code = index < held.outCount ? held.out.lines.type[index] : 0;
    return code ? String.fromCharCode(code >>> 24, (code >>> 16) & 255, (code >>> 8) & 255, code & 255) : '';
  }
  function depthOf(index) {
    const kind = index < held.outCount ? kindNames[held.out.lines.kind[index]] : 'none';
    return kind === 'moov' || kind === 'none' ? 0 : kind === 'child' ? 1 : 2;
  }

  // What a line shows: { index, text, mark, depth, type, pos, size }, with
  // no pos for a line that shows no bytes of the file.
  function lineInfo(index) {
    const info = { index, text: textOf(index), mark: markOf(index), depth: depthOf(index), type: typeOf(index) };
    if (index < held.outCount && held.out.lines.pos[index] !== Contract.noPosition) {
      info.pos = Number(held.out.lines.pos[index]);
      info.size = Number(held.out.lines.size[index]);
    }
    return info;
  }

  // What the page shows of the listing at once: how many lines, the damage
  // in words' worth, and the ranges the maps draw (moov's children, the
  // udta, ilst and Xtra lines inside them, the first malformed spots).
  function summary() {
    const most = 1000;
    const { out } = held;
    const children = [];
    const marks = [];
    const bad = [];
    let malformed = 0;
    const { kind: kinds, type: types } = out.lines;
    // The kinds the loop looks at, by number, to keep it short on a million
    // lines.
    const marked = new Uint8Array(kindNames.length);
    for (const kind of kMarked) marked[kind] = 1;
    const top = new Uint8Array(kindNames.length);
    for (const kind of kTop) top[kind] = 1;
    const [moovType, udtaType] = kMarkedTypes;
    for (let i = 0; i < held.outCount; i += 1) {
      const kind = kinds[i];
      if (kind === kMalformed) {
        malformed += 1;
        if (bad.length < most) bad.push(lineInfo(i));
      } else if (kind === kChild) {
        if (children.length < 100000) children.push(lineInfo(i));
      } else if (marks.length < most && !top[kind] &&
                 (marked[kind] || types[i] === moovType || types[i] === udtaType)) {
        marks.push(lineInfo(i));
      }
    }
    const errors = held.lineCount - held.outCount;
    return {
      lineCount: held.lineCount, malformed, children, marks, bad,
      errors, firstError: errors ? textOf(held.outCount) : '', widest: 0,
    };
  }

  // The widest line in characters (UTF-16 units) as the terminal rule shows
  // it, measured a share at a time so that questions are answered between.
  function widest(done) {
    let most = 0;
    let which = 0;
    let line = 0;
    const step = () => {
      // The program's memory may have grown between steps (the tag records).
      if (held.memory !== HEAPU8.buffer) held.build();
      const streams = [held.out, held.err];
      for (let budget = 1 << 22; which < streams.length && budget > 0; which += 1, line = 0) {
        const { text, end32 } = streams[which];
        const count = end32.length / 2;
        for (; line < count && budget > 0; line += 1) {
          const end = end32[2 * line] - 1;
          let width = 0;
          for (let at = startOf(streams[which], line); at < end; at += 1) {
            const b = text[at];
            if (b < 0x80) {
              width += (b < 0x20 && b !== 9) || b === 0x7f ? 4 : 1;
            } else if (b >= 0xc0) {
              // A lead byte: a character, two units past U+FFFF, four for a
              // C1 control (C2 80 to C2 9F) as \xNN.
              width += b >= 0xf0 ? 2 : b === 0xc2 && text[at + 1] < 0xa0 ? 4 : 1;
            }
          }
          budget -= end32[2 * line] - startOf(streams[which], line);
          most = Math.max(most, width);
        }
        if (line < count) break;
      }
      if (which < 2) setTimeout(step);
      else done(most);
    };
    step();
  }

  // ---- Search ---------------------------------------------------------------

  // Narrows the lines to those holding `needle` (case folded for ASCII) and,
  // with `badOnly`, to the malformed ones: how many there are, and where the
  // line `chosen` now stands among them (or the first after it). The program
  // searches the bytes where it keeps them; a longer needle than the last,
  // under the same filter, is looked for only in the lines the last one kept.
  function search(needle, badOnly, chosen) {
    if (!needle && !badOnly) {
      shown = null;
    } else {
      const narrow = shown !== null && searched.needle !== '' && needle.startsWith(searched.needle) &&
        badOnly === searched.badOnly;
      const size = lengthBytesUTF8(needle);
      const at = _malloc(size + 1);
      stringToUTF8(needle, at, size + 1);
      _boxwalk_search(at, size, badOnly ? 1 : 0, narrow ? 1 : 0);
      _free(at);
      shown = new Uint32Array(boxwalkHanded.search.found.found);
      boxwalkHanded = {};
    }
    searched = { needle, badOnly };
    return { count: shown ? shown.length : held.lineCount, ...placeOf(chosen) };
  }

  // Where line `index` stands among the shown lines, and whether it is
  // there (else `at` is the first after it).
  function placeOf(index) {
    const at = positionOf(index);
    return { at, on: shown ? shown[at] === index : index >= 0 && index < held.lineCount };
  }

  // Where line `index` stands among the shown lines, or the first after it.
  function positionOf(index) {
    if (!shown) return index;
    let low = 0;
    let high = shown.length;
    while (low < high) {
      const mid = (low + high) >> 1;
      if (shown[mid] < index) low = mid + 1; else high = mid;
    }
    return low;
  }

  // ---- Questions --------------------------------------------------------------

  // The shown lines from position `from`, at most `count`: { index, text,
  // mark } each.
  function rows(from, count) {
    const total = shown ? shown.length : held.lineCount;
    const out = [];
    for (let at = Math.max(0, from); at < Math.min(total, from + count); at += 1) {
      const index = shown ? shown[at] : at;
      out.push({ index, text: textOf(index), mark: markOf(index) });
    }
    return out;
  }

  // Lines [from, to) of the output as `patch` counts them, cut at every line
  // feed, as the terminal shows them: the unchanged lines of a comparison.
  function patchLines(from, to) {
    const { text } = held.out;
    const out = [];
    let at = 0;
    for (let line = 0; at < text.length && line < to; line += 1) {
      const feed = text.indexOf(10, at);
      const end = feed < 0 ? text.length : feed;
      if (line >= from) out.push(Terminal.bytes(text.subarray(at, end)));
      at = end + 1;
    }
    return out;
  }

  // Lines [from, to) by index, as the terminal shows them: the whole output
  // for printing.
  function texts(from, to) {
    const out = [];
    for (let i = Math.max(0, from); i < Math.min(to, held.lineCount); i += 1) out.push(textOf(i));
    return out;
  }

  // The first line of an item, a ---- item or an Xtra entry whose bytes
  // start at `pos` (a tag's), or -1: the lines that show tags, by where
  // they start, found once.
  let tagLines = null;
  function lineAt(pos) {
    if (!tagLines) {
      tagLines = new Map();
      const { details, lines } = held.out;
      for (let i = details.line.length - 1; i >= 0; i -= 1) {
        const line = details.line[i];
        tagLines.set(Number(lines.pos[line]), line);
      }
    }
    const line = tagLines.get(Number(pos));
    return line === undefined ? -1 : line;
  }

  const answers = {
    rows: ({ from, count }) => ({ rows: rows(from, count) }),
    line: ({ index }) => ({ line: lineInfo(index) }),
    position: ({ index }) => placeOf(index),
    search: ({ needle, badOnly, chosen }) => search(needle, badOnly, chosen),
    texts: ({ from, to }) => ({ texts: texts(from, to) }),
    patchLines: ({ from, to }) => ({ texts: patchLines(from, to) }),
    // The output as it is, for "Download the output".
    blob: () => ({ blob: new Blob([held.out.text], { type: 'text/plain' }) }),
    // A copy of the output, for a comparison.
    copy: () => {
      const copied = held.out.text.slice();
      return [{ text: copied }, [copied.buffer]];
    },
  };

  return {
    // Holds the listing the program handed over, for `file`: what the page
    // shows of it at once (summary()).
    hold(handed, file) {
      const build = () => {
        const out = stream(handed.out);
        const err = stream(handed.err);
        held = { out, err, file, memory: HEAPU8.buffer, build,
                 outCount: out.lines.end.length, lineCount: out.lines.end.length + err.lines.end.length };
      };
      build();
      tagLines = null;
      shown = null;
      searched = { needle: '', badOnly: false };
      return summary();
    },
    widest,
    // The line of a tag, by where its bytes start: see lineAt.
    lineAt(pos) {
      if (held.memory !== HEAPU8.buffer) held.build();
      return lineAt(pos);
    },
    file: () => held.file,
    // The answer to a question ({ kind, ... }), and the buffers to move with
    // it.
    async answer(question) {
      // The program's memory, once grown, is another buffer: the views are
      // made again over it.
      if (held.memory !== HEAPU8.buffer) held.build();
      const answer = await answers[question.kind](question);
      return Array.isArray(answer) ? answer : [answer, []];
    },
  };
})();
