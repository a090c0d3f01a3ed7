// Two files compared, a tagger's before and after: their tags as old and
// new values, and their outputs as a diff (removed and added lines marked,
// unchanged runs folded) that the page saves as a unified diff `patch`
// applies to the first output to give the second.
//
// The comparison runs in workers of the program's (web/worker.js): the
// diff is dtl's, in the program, within a bound on its work; the rows of it
// the page shows are made there, and the tags' changes, from the two files'
// tag records, in another, by the functions below, which touch no page. The
// rest is the page's view of it.
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

  // The tags that differ between two files, each side as its listing's
  // worker prints its tag records ({ identity, content, pictures, file }:
  // see records.js): tags matched by identity (where they are stored, the
  // key, a ---- item's mean and name), the nth of one with the nth of the
  // other, and compared by every value, a picture by its bytes. { pairs,
  // total }: the first mostChanges pairs [index in the first or -1, index
  // in the second or -1], two numbers each, and how many pairs differ.
  function tagChanges(first, second) {
    const waiting = new Map();
    first.identity.forEach((id, i) => {
      const chain = waiting.get(id);
      if (chain) chain.list.push(i); else waiting.set(id, { list: [i], next: 0 });
    });
    const placesOf = ({ pictures }) => {
      const places = new Map();
      for (let at = 0; at < pictures.length; at += 3) {
        const tag = pictures[at];
        if (!places.has(tag)) places.set(tag, []);
        places.get(tag).push([pictures[at + 1], pictures[at + 2]]);
      }
      return places;
    };
    const [picturesA, picturesB] = [placesOf(first), placesOf(second)];
    const reader = new FileReaderSync();
    const read = (file, [pos, size]) => new Uint8Array(reader.readAsArrayBuffer(file.slice(pos, pos + size)));
    const samePictures = (i, j) => (picturesA.get(i) || []).every((place, k) => {
      const [x, y] = [read(first.file, place), read(second.file, picturesB.get(j)[k])];
      return x.length === y.length && x.every((byte, at) => byte === y[at]);
    });
    const same = (i, j) => first.content[2 * i] === second.content[2 * j] &&
      first.content[2 * i + 1] === second.content[2 * j + 1] && (!picturesA.has(i) || samePictures(i, j));
    const used = new Uint8Array(first.identity.length);
    const pairs = [];
    second.identity.forEach((id, j) => {
      const chain = waiting.get(id);
      if (!chain || chain.next === chain.list.length) {
        pairs.push(-1, j);
        return;
      }
      const i = chain.list[chain.next++];
      used[i] = 1;
      if (!same(i, j)) pairs.push(i, j);
    });
    used.forEach((matched, i) => { if (!matched) pairs.push(i, -1); });
    return { pairs: new Int32Array(pairs.slice(0, 2 * mostChanges)), total: pairs.length / 2 };
  }

  // The changes as the page shows them, from the pairs and the two sides'
  // tags described (`before` and `after`, by index): { label, key, where,
  // old, new }, old or new null for a side that lacks the tag. Values that
  // read alike say their types as stored, where those differ.
  function described(pairs, before, after) {
    const changes = [];
    for (let at = 0; at < pairs.length; at += 2) {
      const [then, now] = [before.get(pairs[at]), after.get(pairs[at + 1])];
      const shown = now || then;
      const alike = then && now && then.value === now.value;
      const value = (tag) => (tag ? tag.value + (alike && then.types !== now.types ? ` (type ${tag.types})` : '') : null);
      changes.push({ label: shown.label, key: shown.key, where: shown.where, old: value(then), new: value(now) });
    }
    return changes;
  }

  // "SHA-256" and the first 16 hex digits of the SHA-256 of a blob's bytes;
  // where there is no crypto.subtle (a page served over plain HTTP),
  // "FNV-1a" and the 32-bit FNV-1a.
  async function digest(blob) {
    const bytes = new Uint8Array(await blob.arrayBuffer());
    if (!crypto.subtle) {
      let hash = 0x811c9dc5;
      for (const b of bytes) hash = Math.imul(hash ^ b, 0x01000193) >>> 0;
      return `FNV-1a ${hash.toString(16).padStart(8, '0')}`;
    }
    const sum = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
    return `SHA-256 ${Array.from(sum.subarray(0, 8), (b) => b.toString(16).padStart(2, '0')).join('')}`;
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
        const key = element('td', 'tagkey', change.key);
        key.append(element('span', 'where', ` in ${change.where}`));
        tr.append(element('td', 'label', change.label), key,
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

  return { comparisons, rows, tagChanges, described, digest, render, patch, diffName, stem, element, View };
})();
