// The tags view beside the lines. A listing here is what the page keeps of
// one file: the File, and its tag rows as its worker hands them over
// (tagCount of them; tags(from, count) gives rows as Tags.rows makes them).
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
  // The number of the last listing shown, so that a read that ends after
  // another was asked for is dropped.
  let shown = 0;

  // Fills `box` with the tags of `listing`, `page` rows at a time, as a
  // tree grid (one Tab stop; see treegrid). Each row is named by its label
  // and value. A click on a row, or Enter, calls `choose(line)` with the
  // index of its line of output.
  async function show(box, listing, choose) {
    const number = ++shown;
    Cover.clear();
    const total = listing.tagCount;
    const heading = element('h3', '', total ? `Tags: ${count.format(total)}` : 'No tags');
    heading.id = 'tags-heading';
    const table = element('table', 'tags');
    table.setAttribute('aria-labelledby', heading.id);
    treegrid(table);
    const more = element('button', 'button', '');
    more.type = 'button';
    box.replaceChildren(heading);
    if (!total) {
      box.append(element('p', 'caption', 'No ilst item or Xtra entry in the lines.'));
      return;
    }
    const head = table.createTHead().insertRow();
    for (const title of ['Tag', 'Key', 'Value']) head.append(element('th', '', title));
    const body = table.createTBody();
    box.append(table, more);
    let covers = 0;
    const add = async () => {
      // The button goes while the rows are read; focus it had goes to the
      // first of the new rows.
      const focused = document.activeElement === more;
      more.hidden = true;
      let next;
      try {
        next = await listing.tags(body.rows.length, page);
        if (number !== shown) return;
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
                       `${Compare.stem(listing.file.name)}-cover${covers > 1 ? '-' + covers : ''}`);
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
      const left = total - body.rows.length;
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

  // Forgets the listing shown, when another file is chosen.
  function stop() {
    shown += 1;
  }

  return { show, stop };
})();
