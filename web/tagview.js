// The tags view beside the lines, and the view of two files compared. A
// listing here is what the page keeps of one file: the File, the program's
// output bytes (`out`) and its nine numbers per line (`about`).
'use strict';

const TagView = (() => {
  const count = new Intl.NumberFormat('en');
  const page = 200;  // rows put on the page at a time
  const element = (tag, className, text) => {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  };
  const stem = (name) => name.replace(/\.[^.]*$/, '') || name;

  // The number of the last listing shown and of the last comparison, so
  // that a read that ends after another was asked for is dropped.
  let shown = 0;
  let compared = 0;

  // Fills `box` with the tags of `listing`, `page` rows at a time, as a
  // tree grid (one Tab stop; see treegrid). Each row is named by its label
  // and value. A click on a row, or Enter, calls `choose(line)` with the
  // index of its line of output.
  async function show(box, listing, choose) {
    const number = ++shown;
    Cover.clear();
    const rows = Tags.rows(listing.about, listing.values);
    const heading = element('h3', '', rows.length ? `Tags: ${count.format(rows.length)}` : 'No tags');
    heading.id = 'tags-heading';
    const table = element('table', 'tags');
    table.setAttribute('aria-labelledby', heading.id);
    treegrid(table);
    const more = element('button', 'button', '');
    more.type = 'button';
    box.replaceChildren(heading);
    if (!rows.length) {
      box.append(element('p', 'caption', 'No ilst item or Xtra entry in the lines.'));
      return;
    }
    const head = table.createTHead().insertRow();
    for (const title of ['Tag', 'Key', 'Value']) head.append(element('th', '', title));
    const body = table.createTBody();
    box.append(table, more);
    let covers = 0;
    const add = async () => {
      const next = rows.slice(body.rows.length, body.rows.length + page);
      // The button goes while the rows are read; focus it had goes to the
      // first of the new rows.
      const focused = document.activeElement === more;
      more.hidden = true;
      try {
        await Tags.read(listing.file, next);
      } catch (error) {
        // The file changed or went away since it was chosen.
        if (number === shown) box.append(element('p', 'caption', `The tags cannot be read: ${error.message}`));
        return;
      }
      if (number !== shown) return;
      const first = body.rows.length;
      for (const row of next) {
        const said = Tags.describe(row);
        const tr = body.insertRow();
        tr.className = said.note ? 'raw' : '';
        tr.tabIndex = body.rows.length === 1 ? 0 : -1;
        tr.setAttribute('aria-label', `${said.label}: ${said.picture ? 'picture, ' : ''}${said.value}` +
                                      (said.note ? ` (${said.note})` : ''));
        tr.onclick = () => choose(row.line);
        tr.append(element('td', 'label', said.label), element('td', 'tagkey', said.key));
        const value = element('td', 'value');
        if (said.picture) {
          for (const { range, type } of Tags.pictures(row)) {
            covers += 1;
            const picture = element('div');
            value.append(picture);
            Cover.show(picture, listing.file, range, type,
                       `${stem(listing.file.name)}-cover${covers > 1 ? '-' + covers : ''}`);
          }
          if (row.more) {
            value.append(element('p', 'note', `The first ${row.others.length + 1} pictures of this ` +
                                 'item are shown; it holds more.'));
          }
        } else {
          value.append(element('span', 'text', said.value));
          if (said.note) value.append(element('span', 'note', said.note));
        }
        tr.append(value);
      }
      const left = rows.length - body.rows.length;
      more.hidden = left === 0;
      more.textContent = `Show ${count.format(Math.min(left, page))} more of ${count.format(left)}`;
      if (focused && body.rows[first]) body.rows[first].focus();
    };
    more.onclick = add;
    await add();
  }

  // Makes `table` a tree grid with one Tab stop: the row, cell, link or
  // button last focused in it. Up and Down move between the rows shown
  // (Page Up and Page Down by ten, Home and End to the ends), keeping to the
  // column when a cell has focus; Right goes into a row, to its cells in
  // turn (a cell's links and buttons in its place), Left back out to the
  // row. A row with an aria-level below another's (a group's heading row
  // and its rows) is its parent: Left on a row goes to its parent. Enter or
  // Space on a row or cell clicks the row; a link or button keeps its own.
  function treegrid(table) {
    table.setAttribute('role', 'treegrid');
    let stop = null;  // the element that Tab comes to
    const rove = (to) => {
      if (stop && stop !== to) stop.tabIndex = -1;
      to.tabIndex = 0;
      stop = to;
    };
    table.addEventListener('focusin', (event) => rove(event.target));
    // Links and buttons put in later (a cover's) stay out of the Tab order.
    new MutationObserver(() => {
      for (const inside of table.querySelectorAll('tbody a[href], tbody button')) {
        if (inside !== stop) inside.tabIndex = -1;
      }
      if (!stop || !table.contains(stop)) {
        stop = null;
        const first = table.tBodies[0] && table.tBodies[0].rows[0];
        if (first) rove(first);
      }
    }).observe(table, { childList: true, subtree: true });

    const rows = () => [...table.tBodies].flatMap((body) => [...body.rows]).filter((row) => !row.hidden);
    const stops = (row) => [...row.cells].flatMap((cell) => {
      const inside = [...cell.querySelectorAll('a[href], button')];
      return inside.length ? inside : [cell];
    });
    const level = (row) => Number(row.getAttribute('aria-level')) || 1;
    table.addEventListener('keydown', (event) => {
      const row = event.target.closest('tr');
      const all = rows();
      const at = all.indexOf(row);
      if (at < 0 || event.altKey || event.metaKey) return;
      const onRow = event.target === row;
      const column = onRow ? -1 : stops(row).indexOf(event.target);
      const inRow = (other) => {
        if (!other || onRow) return other;
        const places = stops(other);
        return places[Math.min(column, places.length - 1)];
      };
      const moves = {
        ArrowDown: () => inRow(all[at + 1]),
        ArrowUp: () => inRow(all[at - 1]),
        PageDown: () => inRow(all[Math.min(all.length - 1, at + 10)]),
        PageUp: () => inRow(all[Math.max(0, at - 10)]),
        Home: () => (onRow || event.ctrlKey ? inRow(all[0]) : stops(row)[0]),
        End: () => (onRow || event.ctrlKey ? inRow(all[all.length - 1]) : stops(row).at(-1)),
        ArrowRight: () => stops(row)[column + 1],
        ArrowLeft: () => (onRow ? all.slice(0, at).reverse().find((other) => level(other) < level(row))
          : stops(row)[column - 1] || row),
      };
      if (event.key === 'Enter' || event.key === ' ') {
        // A link or button keeps its own keys.
        if (event.target.matches('a[href], button')) return;
        event.preventDefault();
        row.click();
        return;
      }
      if (!(event.key in moves)) return;
      event.preventDefault();
      const to = moves[event.key]();
      if (!to) return;
      if (!to.matches('tr, a[href], button')) to.tabIndex = -1;
      to.focus();
    });
  }

  // Every tag of a listing, described; a picture by its bytes' digest too,
  // so that pictures of one size with other bytes differ.
  async function described(listing) {
    const rows = Tags.rows(listing.about, listing.values);
    await Tags.read(listing.file, rows);
    const said = rows.map(Tags.describe);
    // One picture at a time, so that only one is held at once.
    for (const [at, row] of rows.entries()) {
      if (!said[at].picture) continue;
      const digests = [];
      for (const { range } of Tags.pictures(row)) {
        digests.push(await digest(listing.file.slice(range.pos, range.pos + range.size)));
      }
      said[at].value += ` (${crypto.subtle ? 'SHA-256' : 'FNV-1a'} ${digests.join(', ')})`;
    }
    return said;
  }

  // The first 16 hex digits of the SHA-256 of a blob's bytes; where the
  // page has no crypto.subtle (served over plain HTTP), the 32-bit FNV-1a.
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

  // The lines of `out` (bytes) from `from` to `to` (counted from 1, `to`
  // not included), one character per byte as the diff has them.
  function linesOf(out) {
    let starts = null;
    return (from, to) => {
      if (!starts) {
        starts = [0];
        for (let i = 0; i < out.length; i += 1) if (out[i] === 10) starts.push(i + 1);
      }
      const lines = [];
      for (let n = from; n < to && n < starts.length; n += 1) {
        const line = out.subarray(starts[n - 1], starts[n] - 1);
        lines.push(String.fromCharCode.apply(null, line.length > 65536 ? line.subarray(0, 65536) : line));
      }
      return lines;
    };
  }

  let saved = null;  // the object URL of the comparison's download

  // Fills `box` with `a` and `b` compared: the tags that changed, the
  // outputs' diff, and the link that saves it.
  async function compare(box, a, b) {
    const number = ++compared;
    const names = [a.file.name, b.file.name];
    box.replaceChildren(element('h3', '', `${names[0]} → ${names[1]}`),
                        element('p', 'caption', 'Comparing…'));
    let tags;
    let result;
    try {
      [tags, result] = await Promise.all([Promise.all([described(a), described(b)]),
                                          Compare.diff(a.out, names[0], b.out, names[1])]);
    } catch (error) {
      if (number === compared) box.lastChild.textContent = `The comparison stopped: ${error.message}`;
      return;
    }
    if (number !== compared) return;
    const changes = Compare.tagChanges(...tags);
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
    const lineCount = (out) => out.reduce((n, byte) => n + (byte === 10), 0) +
      (out.length && out[out.length - 1] !== 10 ? 1 : 0);
    const diffBox = element('div', 'diff');
    diffBox.setAttribute('role', 'region');
    diffBox.setAttribute('aria-label', 'The two outputs compared');
    Compare.render(diffBox, result, linesOf(a.out), lineCount(a.out));
    if (saved) URL.revokeObjectURL(saved);
    saved = URL.createObjectURL(new Blob([result.patch], { type: 'text/x-diff' }));
    const link = element('a', 'button', 'Download the comparison');
    link.id = 'download-diff';
    link.href = saved;
    link.download = Compare.diffName(...names);
    box.replaceChildren(
      element('h3', '', `${names[0]} → ${names[1]}`),
      element('p', 'caption', changes.length
        ? `${changes.length} tag${changes.length === 1 ? '' : 's'} changed` : 'No tag changed'),
      ...(changes.length ? [table] : []),
      element('p', 'caption', result.same ? 'The outputs are the same.' : 'The outputs, line by line:'),
      ...(result.same ? [] : [diffBox]), link);
  }

  // Forgets the comparison under way, when one file is chosen again.
  function stop() {
    compared += 1;
    Compare.stop();
  }

  return { show, compare, stop };
})();
