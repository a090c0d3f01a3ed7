// Two files compared: their outputs as a diff (removed and added lines
// marked, unchanged runs folded), their tags as old and new values, and a
// unified diff of the outputs' exact bytes that `patch` applies to the first
// to give the second. The diff is jsdiff's (inlined beside this script as
// boxwalkDiffLibrary), run in a worker of its own so that a long comparison
// never holds up the page.
'use strict';

const Compare = (() => {
  // The worker's side: the outputs as strings of one character per byte, so
  // that any byte, a line feed's neighbours included, comes back unchanged.
  function diffWorker() {
    const text = (bytes) => {
      let out = '';
      for (let at = 0; at < bytes.length; at += 8192) {
        out += String.fromCharCode.apply(null, bytes.subarray(at, at + 8192));
      }
      return out;
    };
    onmessage = (event) => {
      const { a, b, nameA, nameB } = event.data;
      const oldText = text(a);
      const newText = text(b);
      const { hunks } = Diff.structuredPatch(nameA, nameB, oldText, newText, undefined, undefined,
                                             { context: 3 });
      // The unified form, written as jsdiff's own formatPatch writes it
      // (this version does not export it): an empty side's range starts one
      // line earlier.
      const patch = ['--- ' + nameA, '+++ ' + nameB];
      for (const hunk of hunks) {
        const oldStart = hunk.oldLines === 0 ? hunk.oldStart - 1 : hunk.oldStart;
        const newStart = hunk.newLines === 0 ? hunk.newStart - 1 : hunk.newStart;
        patch.push(`@@ -${oldStart},${hunk.oldLines} +${newStart},${hunk.newLines} @@`, ...hunk.lines);
      }
      const unified = patch.join('\n') + '\n';
      const bytes = new Uint8Array(unified.length);
      for (let i = 0; i < unified.length; i += 1) bytes[i] = unified.charCodeAt(i);
      postMessage({ hunks, patch: bytes, same: hunks.length === 0 }, [bytes.buffer]);
    };
  }

  let worker = null;

  // Stops a comparison under way.
  function stop() {
    if (worker) worker.terminate();
    worker = null;
  }

  // A file name as a header line of the diff may hold it: UTF-8 bytes, one
  // character each, controls as '?'.
  function headerName(name) {
    return String.fromCharCode(...new TextEncoder().encode(name)).replace(/[\0-\x1f\x7f]/g, '?');
  }

  // Compares the outputs `a` and `b` (bytes) of the files named `nameA` and
  // `nameB`: { hunks, patch, same }, the patch as bytes.
  function diff(a, nameA, b, nameB) {
    stop();
    const source = `(${boxwalkDiffLibrary})();\n(${diffWorker})();`;
    const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
    worker = new Worker(url);
    URL.revokeObjectURL(url);
    const running = worker;
    return new Promise((resolve, reject) => {
      running.onmessage = (event) => { stop(); resolve(event.data); };
      running.onerror = (event) => { event.preventDefault(); stop(); reject(new Error(event.message)); };
      running.postMessage({ a, b, nameA: headerName(nameA + '.txt'), nameB: headerName(nameB + '.txt') });
    });
  }

  // The name the comparison is saved under: "before-vs-after.diff".
  const stem = (name) => name.replace(/\.[^.]*$/, '') || name;
  const diffName = (nameA, nameB) => `${stem(nameA)}-vs-${stem(nameB)}.diff`;

  const decoder = new TextDecoder();
  // A line of the diff (one character per byte) as the terminal shows it.
  function shown(line) {
    const bytes = Uint8Array.from(line, (c) => c.charCodeAt(0));
    return decoder.decode(bytes).replace(/[\0-\x08\x0b-\x1f\x7f-\x9f]/g,
      (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0'));
  }

  // The most lines of the hunks put on the page; the saved diff has all.
  const mostLines = 5000;

  // Puts the hunks in `box`: each line marked as removed, added or kept,
  // and a fold for each run of unchanged lines between them, which opens to
  // show them (`oldLines(from, to)` gives the first output's lines).
  function render(box, result, oldLines, oldCount) {
    box.replaceChildren();
    const row = (className, text) => {
      const line = document.createElement('div');
      line.className = className;
      line.textContent = text;
      return line;
    };
    const fold = (from, to) => {
      if (to <= from) return;
      const folded = document.createElement('details');
      folded.className = 'fold';
      const summary = document.createElement('summary');
      summary.textContent = `${to - from} unchanged line${to - from === 1 ? '' : 's'}`;
      folded.append(summary);
      folded.addEventListener('toggle', () => {
        if (folded.open && folded.children.length === 1) {
          const end = Math.min(to, from + mostLines);
          for (const line of oldLines(from, end)) folded.append(row('kept', '  ' + shown(line)));
          if (end < to) folded.append(row('note', `… ${to - end} more unchanged lines`));
        }
      }, { once: true });
      box.append(folded);
    };
    let next = 1;  // the first output's next line, counted from 1
    let put = 0;
    const total = result.hunks.reduce((n, hunk) => n + hunk.lines.length, 0);
    for (const hunk of result.hunks) {
      fold(next, hunk.oldStart);
      for (const line of hunk.lines) {
        if (put++ === mostLines) {
          box.append(row('note', `… ${total - mostLines} more lines of the diff, in the saved comparison`));
          return;
        }
        const mark = line[0];
        const kind = mark === '-' ? 'removed' : mark === '+' ? 'added' : mark === ' ' ? 'kept' : 'note';
        box.append(row(kind, (mark === '\\' ? '' : mark + ' ') + shown(mark === '\\' ? line : line.slice(1))));
      }
      next = hunk.oldStart + hunk.oldLines;
    }
    fold(next, oldCount + 1);
  }

  // The tags that differ between two files: rows described by Tags, matched
  // by key (the nth of a key with the nth), as { label, key, old, new }
  // with null for a side that lacks the tag.
  function tagChanges(before, after) {
    const keyed = (said) => {
      const seen = new Map();
      return said.map((tag) => {
        const key = `${tag.kind}\n${tag.label}\n${tag.key}`;
        const nth = (seen.get(key) || 0) + 1;
        seen.set(key, nth);
        return [`${key}\n${nth}`, tag];
      });
    };
    const value = (tag) => (tag.note ? `${tag.value} (${tag.note})` : tag.value);
    const old = new Map(keyed(before));
    const changes = [];
    for (const [key, tag] of keyed(after)) {
      const was = old.get(key);
      old.delete(key);
      if (!was || value(was) !== value(tag)) {
        changes.push({ label: tag.label, key: tag.key, old: was ? value(was) : null, new: value(tag) });
      }
    }
    for (const tag of old.values()) changes.push({ label: tag.label, key: tag.key, old: value(tag), new: null });
    return changes;
  }

  return { diff, stop, render, tagChanges, diffName };
})();
