// Two files compared, a tagger's before and after: their tags as old and
// new values, and their outputs as a diff (removed and added lines marked,
// unchanged runs folded) that the page saves as a unified diff `patch`
// applies to the first output to give the second.
//
// The comparison runs in a worker of the program's (web/worker.js): the
// diff is dtl's, in the program, within a bound on its work; the rows of it
// the page shows and the tags' changes are made there by the functions
// below, which touch no page. The rest is the page's view of it.
'use strict';

const Compare = (() => {
  // The most lines of the diff put on the page; the saved diff has all.
  const mostLines = 5000;

  // The line comparisons a diff may try before it stops: about 0.3 s of
  // work in the worker here, so that with the two listings a comparison
  // ends well within 2 s however the outputs differ.
  const comparisons = 48 * 2 ** 20;

  // The rows the page shows of a comparison, read from its hunks: { kind,
  // text } for each line of them ("kept", "removed", "added", each with its
  // mark, as the terminal shows it), and { kind: "fold", from, to } for
  // each run of unchanged lines between them (lines of the first output as
  // `patch` counts them, from 0), at most mostLines lines in all and then
  // a note of how many more the saved diff holds.
  function rows(result) {
    const { hunks, ranges, marks } = result;
    const out = [];
    const fold = (from, to) => { if (to > from) out.push({ kind: 'fold', from, to }); };
    const kinds = { ' ': 'kept', '-': 'removed', '+': 'added' };
    let at = 0;
    let next = 0;
    let shown = 0;
    for (let hunk = 0; hunk < ranges.length; hunk += 4) {
      const [firstStart, firstLines, , secondLines] = ranges.subarray(hunk, hunk + 4);
      fold(next, firstStart);
      at = hunks.indexOf(10, at) + 1;  // past its header
      for (let a = 0, b = 0; a < firstLines || b < secondLines; shown += 1) {
        if (shown === mostLines) {
          out.push({ kind: 'note', text: `… ${marks.length - mostLines} more lines of the diff, in the saved comparison` });
          return out;
        }
        const end = hunks.indexOf(10, at);
        const sign = String.fromCharCode(hunks[at]);
        out.push({ kind: kinds[sign], text: `${sign} ${Terminal.bytes(hunks.subarray(at + 1, end))}` });
        a += sign !== '+';
        b += sign !== '-';
        at = end + 1;
        if (hunks[at] === 0x5c) at = hunks.indexOf(10, at) + 1;  // \ No newline at end of file
      }
      next = firstStart + firstLines;
    }
    fold(next, result.firstLines);
    return out;
  }

  // The most tags' changes described and put on the page.
  const mostChanges = 1000;
  // The most bytes of a file read at once to compare its tags.
  const mostTagBytes = 256 * 2 ** 20;

  // One file's tags as bytes to compare, without an object a row: for
  // each row, where its key, name and values lie in `bytes`, one span of
  // the file that holds them all, and a hash of its identity (its kind, key
  // and name). Positions are read as the two 32-bit halves of the program's
  // 64-bit ones, without a BigInt each.
  function tagBytes({ file, kind, details, values }) {
    const rows = details.line.length;
    const halves = (column) => new Uint32Array(column.buffer, column.byteOffset, column.length * 2);
    const position = (words, i) => (words[2 * i] === 0xffffffff && words[2 * i + 1] === 0xffffffff ? -1
      : words[2 * i] + words[2 * i + 1] * 2 ** 32);
    // Every range as [pos, size], key, name and value a row, then the
    // other values.
    const columns = [['key_pos', 'key_size'], ['name_pos', 'name_size'], ['value_pos', 'value_size']]
      .map(([pos, size]) => [halves(details[pos]), halves(details[size])]);
    const others = [halves(values.pos), halves(values.size)];
    let low = Infinity;
    let high = 0;
    const cover = ([pos, size], i) => {
      const at = position(pos, i);
      if (at < 0) return;
      low = Math.min(low, at);
      high = Math.max(high, Math.min(at + position(size, i), file.size));
    };
    for (let i = 0; i < rows; i += 1) for (const column of columns) cover(column, i);
    for (let i = 0; i < values.line.length; i += 1) cover(others, i);
    if (high - low > mostTagBytes) throw new Error('the tags lie too far apart in the file to compare here');
    const bytes = high > low ? new Uint8Array(new FileReaderSync().readAsArrayBuffer(file.slice(low, high)))
      : new Uint8Array(0);
    // [start, end) in `bytes` of each range, start -1 for none.
    const span = ([pos, size], count) => {
      const out = new Int32Array(2 * count);
      for (let i = 0; i < count; i += 1) {
        const at = position(pos, i);
        out[2 * i] = at < 0 ? -1 : Math.min(at - low, bytes.length);
        out[2 * i + 1] = at < 0 ? -1 : Math.min(at - low + position(size, i), bytes.length);
      }
      return out;
    };
    const [key, name, value] = columns.map((column) => span(column, rows));
    const other = span(others, values.line.length);
    // Each row's other values: values[first[row], first[row] + count[row]).
    const first = new Int32Array(rows);
    const count = new Int32Array(rows);
    for (let v = 0, row = 0; v < values.line.length; v += 1) {
      while (row < rows && details.line[row] < values.line[v]) row += 1;
      if (row < rows && details.line[row] === values.line[v]) {
        if (count[row] === 0) first[row] = v;
        count[row] += 1;
      }
    }
    const identity = new Int32Array(rows);
    for (let row = 0; row < rows; row += 1) {
      let hash = Math.imul(0x811c9dc5 ^ kind[details.line[row]], 0x01000193);
      for (const ranges of [key, name]) {
        for (let at = ranges[2 * row]; at >= 0 && at < ranges[2 * row + 1]; at += 1) hash = Math.imul(hash ^ bytes[at], 0x01000193);
        hash = Math.imul(hash ^ 0x100, 0x01000193);
      }
      identity[row] = hash;
    }
    return { rows, bytes, kind: (row) => kind[details.line[row]], key, name, value, other, first, count,
             type: details.value_type, size: columns[2][1], otherType: values.type, otherSize: others[1], identity };
  }

  // Whether range i of `a` holds the bytes of range j of `b` (ranges as
  // tagBytes keeps them).
  function sameRange(a, ranges, i, b, others, j) {
    const [from, to] = [ranges[2 * i], ranges[2 * i + 1]];
    const [start, end] = [others[2 * j], others[2 * j + 1]];
    if (from < 0 || start < 0) return from === start;
    if (to - from !== end - start) return false;
    for (let k = 0; k < to - from; k += 1) if (a.bytes[from + k] !== b.bytes[start + k]) return false;
    return true;
  }

  // The tags that differ between two files, each side { file, kind,
  // details, values } (the columns the program hands over): rows matched
  // by kind, key and name (the nth of one with the nth of the other), as
  // { label, key, old, new } described by Tags, with null for a side that
  // lacks the tag: { changes, total }, the first mostChanges of them and
  // how many in all. Rows are compared by their bytes, and only those that
  // differ are described; a picture by its bytes' digest too.
  async function tagChanges(first, second) {
    const [a, b] = [tagBytes(first), tagBytes(second)];
    // The first's rows by identity, a chain each, in order.
    const heads = new Map();
    const next = new Int32Array(a.rows).fill(-1);
    const tails = new Map();
    for (let row = 0; row < a.rows; row += 1) {
      const id = a.identity[row];
      if (tails.has(id)) next[tails.get(id)] = row; else heads.set(id, row);
      tails.set(id, row);
    }
    const used = new Uint8Array(a.rows);
    const sameIdentity = (i, j) => a.kind(i) === b.kind(j) && sameRange(a, a.key, i, b, b.key, j) &&
      sameRange(a, a.name, i, b, b.name, j);
    const sameSize = (x, i, y, j) => x[2 * i] === y[2 * j] && x[2 * i + 1] === y[2 * j + 1];
    const sameHeld = (i, j) => {
      if (a.type[i] !== b.type[j] || !sameSize(a.size, i, b.size, j) || !sameRange(a, a.value, i, b, b.value, j) ||
          a.count[i] !== b.count[j]) {
        return false;
      }
      for (let k = 0; k < a.count[i]; k += 1) {
        const [v, w] = [a.first[i] + k, b.first[j] + k];
        if (a.otherType[v] !== b.otherType[w] || !sameSize(a.otherSize, v, b.otherSize, w) ||
            !sameRange(a, a.other, v, b, b.other, w)) {
          return false;
        }
      }
      return true;
    };
    const pairs = [];  // [row of the first or -1, row of the second or -1]
    // Where each chain's unused rows start: rows of one identity are taken
    // in order.
    const cursors = new Map();
    for (let row = 0; row < b.rows; row += 1) {
      const id = b.identity[row];
      let match = cursors.has(id) ? cursors.get(id) : heads.has(id) ? heads.get(id) : -1;
      while (match >= 0 && used[match]) match = next[match];
      cursors.set(id, match);
      // Another identity of the same hash is passed over.
      while (match >= 0 && (used[match] || !sameIdentity(match, row))) match = next[match];
      if (match < 0) {
        pairs.push([-1, row]);
      } else {
        used[match] = 1;
        if (!sameHeld(match, row)) pairs.push([match, row]);
      }
    }
    for (let row = 0; row < a.rows; row += 1) if (!used[row]) pairs.push([row, -1]);

    // Only the first pairs are described, a thousand at a time; a pair
    // whose bytes differ but which reads alike is no change.
    const describe = async (side, list) => {
      const rows = list.map((row) => (row < 0 ? null
        : Tags.rows({ lines: { kind: side.kind }, details: side.details, values: side.values }, row, row + 1)[0]));
      await Tags.read(side.file, rows.filter(Boolean));
      const said = [];
      for (const row of rows) {
        if (!row) { said.push(null); continue; }
        const tag = Tags.describe(row);
        if (tag.picture) {
          const digests = [];
          for (const { range } of Tags.pictures(row)) digests.push(await digest(side.file.slice(range.pos, range.pos + range.size)));
          tag.value += ` (${crypto.subtle ? 'SHA-256' : 'FNV-1a'} ${digests.join(', ')})`;
        }
        said.push(tag);
      }
      return said;
    };
    const value = (tag) => (tag.note ? `${tag.value} (${tag.note})` : tag.value);
    const changes = [];
    let done = 0;
    while (done < pairs.length && changes.length < mostChanges) {
      const batch = pairs.slice(done, done + mostChanges - changes.length);
      done += batch.length;
      const [olds, news] = [await describe(first, batch.map(([was]) => was)), await describe(second, batch.map(([, now]) => now))];
      batch.forEach((_, k) => {
        const [then, tag] = [olds[k], news[k]];
        if (then && tag && value(then) === value(tag)) return;
        const shown = tag || then;
        changes.push({ label: shown.label, key: shown.key, old: then ? value(then) : null, new: tag ? value(tag) : null });
      });
    }
    return { changes, total: changes.length + pairs.length - done };
  }

  // The first 16 hex digits of the SHA-256 of a blob's bytes; where there
  // is no crypto.subtle (a page served over plain HTTP), the 32-bit FNV-1a.
  async function digest(blob) {
    const bytes = new Uint8Array(await blob.arrayBuffer());
    if (!crypto.subtle) {
      let hash = 0x811c9dc5;
      for (const b of bytes) hash = Math.imul(hash ^ b, 0x01000193) >>> 0;
      return hash.toString(16).padStart(8, '0');
    }
    const sum = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
    return Array.from(sum.subarray(0, 8), (b) => b.toString(16).padStart(2, '0')).join('');
  }

  // ---- The page's view --------------------------------------------------

  // A file name as a header line of the diff may hold it: UTF-8 bytes,
  // controls as '?'.
  function headerName(name) {
    return new TextEncoder().encode(name).map((b) => (b < 0x20 || b === 0x7f ? 0x3f : b));
  }

  // The name the comparison is saved under: "before-vs-after.diff".
  const stem = (name) => name.replace(/\.[^.]*$/, '') || name;
  const diffName = (nameA, nameB) => `${stem(nameA)}-vs-${stem(nameB)}.diff`;

  // The whole diff as the page saves it, a Blob: its header lines, then
  // the hunks.
  function patch(result, nameA, nameB) {
    const line = (sign, name) => [new TextEncoder().encode(sign + ' '), headerName(name + '.txt'), new Uint8Array([10])];
    return new Blob([...line('---', nameA), ...line('+++', nameB), result.hunks], { type: 'text/x-diff' });
  }

  const element = (tag, className, text) => {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  };

  // Puts the rows of a comparison in `box`, some hundreds at a time so
  // that the page answers meanwhile: each line marked as removed, added or
  // kept, and a fold for each run of unchanged lines, which opens to show
  // them (`unchanged(from, to)` gives the first output's lines as a
  // promise).
  function render(box, list, unchanged) {
    box.replaceChildren();
    const slice = 500;
    const put = (from) => {
      if (!box.isConnected && from > 0) return;
      for (const row of list.slice(from, from + slice)) {
        if (row.kind !== 'fold') {
          box.append(element('div', row.kind, row.text));
          continue;
        }
        const { from: start, to } = row;
        const folded = element('details', 'fold');
        folded.append(element('summary', '', `${to - start} unchanged line${to - start === 1 ? '' : 's'}`));
        folded.addEventListener('toggle', async () => {
          if (!folded.open || folded.children.length > 1) return;
          const end = Math.min(to, start + mostLines);
          for (const text of await unchanged(start, end)) folded.append(element('div', 'kept', '  ' + text));
          if (end < to) folded.append(element('div', 'note', `… ${to - end} more unchanged lines`));
        });
        box.append(folded);
      }
      if (from + slice < list.length) setTimeout(() => put(from + slice));
    };
    put(0);
  }

  // When a file was last changed, as people read it.
  const when = (file) => new Date(file.lastModified).toLocaleString('en', { dateStyle: 'medium', timeStyle: 'short' });

  // The comparison on top of the page: which file is before and which
  // after, a swap, the progress and a way to stop, then the tags that
  // changed, the outputs line by line and the saved diff. `swap()` and
  // `stop()` are what its buttons do.
  class View {
    constructor(box, { swap, stop }) {
      this.box = box;
      this.handlers = { swap, stop };
    }

    // Starts the view of `before` and `after` (Files) compared.
    begin(before, after) {
      const side = (role, file) => {
        const part = element('p', 'side');
        part.append(element('span', 'role', `${role}: `), element('strong', 'name', file.name),
                    element('span', 'when', ` (changed ${when(file)})`));
        return part;
      };
      const swap = element('button', 'button', 'Swap before and after');
      swap.type = 'button';
      swap.id = 'swap';
      swap.onclick = this.handlers.swap;
      const stop = element('button', 'button', 'Stop');
      stop.type = 'button';
      stop.id = 'stop';
      stop.onclick = this.handlers.stop;
      this.bar = element('progress');
      this.bar.max = 1;
      this.said = element('span', 'said');
      const progress = element('p', 'progress');
      progress.setAttribute('role', 'status');
      progress.append(this.bar, this.said, stop);
      this.progressBox = progress;
      this.tagsBox = element('div', 'changed');
      this.linesBox = element('div', 'outputs');
      const pair = element('div', 'pair');
      pair.append(side('Before', before), side('After', after), swap);
      this.box.replaceChildren(element('h2', '', 'Two files compared'), pair, progress, this.tagsBox, this.linesBox);
      this.box.hidden = false;
      this.pending = 2;
    }

    // Says how far the comparison has come (`done` from 0 to 1, or none).
    progress(text, done) {
      this.said.textContent = text;
      if (done === undefined) this.bar.removeAttribute('value');
      else this.bar.value = done;
    }

    // Shows the outputs compared: `result` as the program wrote it (less its
    // hunks), the rows of it, the unchanged lines of the first output as
    // asked (`unchanged(from, to)`), and the diff to save, a Blob, as
    // `name`.
    lines(result, list, unchanged, saved, name) {
      const caption = result.bounded
        ? `The outputs differ too much to compare line by line within the bound: at least ` +
          `${plural(result.onlyFirst + result.onlySecond, 'line')} differ (${count.format(result.onlyFirst)} ` +
          `of the ${count.format(result.firstLines)} before and ${count.format(result.onlySecond)} of the ` +
          `${count.format(result.secondLines)} after have no equal line on the other side). The saved diff ` +
          `still turns the one into the other: it removes ${count.format(result.removed)} lines and adds ` +
          `${count.format(result.added)}.`
        : result.removed + result.added === 0 ? 'The outputs are the same.'
          : `The outputs, line by line: ${plural(result.removed, 'line')} removed, ` +
            `${count.format(result.added)} added.`;
      const box = element('div', 'diff');
      box.setAttribute('role', 'region');
      box.setAttribute('aria-label', 'The two outputs compared');
      if (list.length) render(box, list, unchanged);
      if (this.saved) URL.revokeObjectURL(this.saved);
      this.saved = URL.createObjectURL(saved);
      const link = element('a', 'button', 'Download the comparison');
      link.id = 'download-diff';
      link.href = this.saved;
      link.download = name;
      this.linesBox.replaceChildren(element('p', 'caption', caption), ...(list.length ? [box] : []), link);
      this.linesBox.dataset.bounded = result.bounded;
      this.finished();
    }

    // Shows the tags that changed: `changes`, the first of `total`.
    tags({ changes, total }) {
      const table = element('table', 'tags changes');
      const head = table.createTHead().insertRow();
      for (const title of ['Tag', 'Key', 'Before', 'After']) head.append(element('th', '', title));
      const body = table.createTBody();
      for (const change of changes) {
        const tr = body.insertRow();
        tr.append(element('td', 'label', change.label), element('td', 'tagkey', change.key),
                  element('td', change.old === null ? 'none' : 'removed', change.old ?? 'none'),
                  element('td', change.new === null ? 'none' : 'added', change.new ?? 'none'));
      }
      this.tagsBox.replaceChildren(element('p', 'caption', !total ? 'No tag changed'
        : total > changes.length ? `${plural(total, 'tag')} changed; the first ${count.format(changes.length)}:`
          : `${plural(total, 'tag')} changed`), ...(changes.length ? [table] : []));
      this.finished();
    }

    // One part shown: when both are, the progress goes.
    finished() {
      this.pending -= 1;
      if (this.pending === 0) this.progressBox.hidden = true;
    }

    // Says that the comparison stopped early.
    stopped(text) {
      this.progress(text, 0);
      this.progressBox.querySelector('#stop').hidden = true;
    }

    // Takes the view off the page.
    end() {
      this.box.hidden = true;
      this.box.replaceChildren();
      if (this.saved) URL.revokeObjectURL(this.saved);
      this.saved = null;
    }
  }

  const count = new Intl.NumberFormat('en');
  const plural = (n, word) => `${count.format(n)} ${word}${n === 1 ? '' : 's'}`;

  return { comparisons, rows, tagChanges, render, patch, diffName, stem, element, View };
})();
