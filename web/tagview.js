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

  // Fills `box` with the tags of `listing`, `page` rows at a time. A click
  // on a row calls `choose(line)` with the index of its line of output.
  async function show(box, listing, choose) {
    const number = ++shown;
    Cover.clear();
    const total = listing.tagCount;
    const heading = element('h3', '', total ? `Tags: ${count.format(total)}` : 'No tags');
    const table = element('table', 'tags');
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
      for (const row of next) {
        const said = Tags.describe(row);
        const tr = body.insertRow();
        tr.className = said.note ? 'raw' : '';
        tr.tabIndex = 0;
        tr.onclick = () => choose(row.line);
        tr.onkeydown = (event) => { if (event.key === 'Enter') choose(row.line); };
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
    };
    more.onclick = add;
    await add();
  }

  // Forgets the listing shown, when another file is chosen.
  function stop() {
    shown += 1;
  }

  return { show, stop };
})();
