// The tags view beside the lines: every tag record of the file, grouped by
// where it is stored (the item list, the Xtra store, the keys, QuickTime
// text, 3GPP assets, XMP, then each track's), the well-known tags first. It
// is a tree grid with one Tab stop: a group's heading row at level 1, its
// tags at level 2, each named by its label and every value. As with the
// lines, only the rows near the view are on the page, asked of the
// listing's worker (records.js) as they come into view, whatever the number
// of tags; rows differ in height (covers, long values), measured as shown.
'use strict';

const TagView = (() => {
  const count = new Intl.NumberFormat('en');
  const plural = (n, word) => `${count.format(n)} ${word}${n === 1 ? '' : 's'}`;
  const element = (tag, className, text) => {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  };
  // Rows put on the page beyond the view, each side, unless they are
  // allRows or fewer; and the height a row is taken to have until it is
  // measured.
  const beyond = 12;
  const allRows = 200;
  const guess = 30;
  // The most pictures of one tag shown.
  const mostPictures = 64;
  // The one grid shown, ended when another file is chosen.
  let shown = null;

  class Grid {
    // Shows the rows of `listing` (the page's Listing of one file), whose
    // records said `summary` (records.js), in `box`; `choose(tag)` is
    // called with the listing's answer to choosing tag `tag`.
    constructor(box, listing, summary, choose) {
      Object.assign(this, { box, listing, choose, total: 0, data: new Map(), elements: new Map(),
                            asking: null, focus: { index: 0, column: -1 }, stop: null, ended: false });
      // Settles once the first rows are on the page.
      this.painted = new Promise((done) => { this.paint = done; });
      const groups = summary.groups.length;
      const heading = element('h3', '', summary.tagCount
        ? `Tags: ${count.format(summary.tagCount)}${groups > 1 ? `, in ${count.format(groups)} places` : ''}` : 'No tags');
      heading.id = 'tags-heading';
      box.replaceChildren(heading);
      if (!summary.tagCount) {
        box.append(element('p', 'caption', summary.kind === 'mp4' ? 'The file holds no tag where tags are stored.'
          : 'Not an MP4 file: it holds no MP4 tags.'));
        this.paint();
        return;
      }
      const grid = element('div', 'tags-grid');
      grid.setAttribute('role', 'treegrid');
      grid.setAttribute('aria-labelledby', heading.id);
      grid.tabIndex = -1;
      const head = element('div', 'tags-row tags-head');
      head.setAttribute('role', 'row');
      head.setAttribute('aria-rowindex', '1');
      for (const title of ['Tag', 'Key', 'Value']) {
        const cell = element('div', '', title);
        cell.setAttribute('role', 'columnheader');
        head.append(cell);
      }
      this.spacer = element('div', 'spacer');
      this.rows = element('div', 'rows');
      this.rows.setAttribute('role', 'none');
      grid.append(head, this.spacer, this.rows);
      box.append(grid);
      Object.assign(this, { grid, head });
      this.measured = new ResizeObserver((entries) => this.resized(entries));
      this.viewed = new ResizeObserver(() => this.render());
      this.viewed.observe(grid);
      grid.addEventListener('scroll', () => this.render());
      grid.addEventListener('keydown', (event) => this.key(event));
      grid.addEventListener('focusin', (event) => this.focused(event.target));
      this.rows.addEventListener('click', (event) => {
        const row = event.target.closest('[role=row]');
        if (row && !event.target.closest('a[href], button')) this.activate(row);
      });
      // Links and buttons put in later (a cover's) stay out of the Tab order.
      new MutationObserver(() => {
        for (const inside of this.rows.querySelectorAll('a[href], button')) {
          if (inside !== this.stop) inside.tabIndex = -1;
        }
      }).observe(this.rows, { childList: true, subtree: true });
      this.resize(summary.rowCount);
    }

    // The view has `total` rows now: heights are guessed again.
    resize(total) {
      this.total = total;
      this.heights = new Float64Array(total).fill(guess);
      this.offsets = new Float64Array(total + 1);
      this.dirty = true;
      this.data.clear();
      for (const row of this.elements.values()) this.drop(row);
      this.elements.clear();
      this.grid.setAttribute('aria-rowcount', String(total + 1));
      this.render();
    }

    // Where each row starts below the heading, from the heights known.
    layout() {
      if (!this.dirty) return;
      for (let i = 0; i < this.total; i += 1) this.offsets[i + 1] = this.offsets[i] + this.heights[i];
      this.spacer.style.height = this.offsets[this.total] + 'px';
      this.dirty = false;
    }

    // The row at `y` pixels below the heading.
    indexAt(y) {
      let low = 0;
      let high = this.total - 1;
      while (low < high) {
        const mid = (low + high + 1) >> 1;
        if (this.offsets[mid] <= y) low = mid; else high = mid - 1;
      }
      return Math.max(0, low);
    }

    // Asks for rows [from, to) and those around them, unless asked already;
    // shows them once they come.
    fetch(from, to) {
      if (this.asking && this.asking.from <= from && this.asking.to >= to) return this.asking.promise;
      const span = to - from;
      const start = Math.max(0, from - span);
      const end = Math.min(this.total, to + span);
      const total = this.total;
      const promise = this.listing.ask('tagRows', { from: start, count: end - start }).then(({ rows }) => {
        if (this.ended || total !== this.total) return;
        for (const [index] of this.data) if (index < start - 4 * span || index >= end + 4 * span) this.data.delete(index);
        for (const row of rows || []) this.data.set(row.index, row);
        if (this.asking && this.asking.promise === promise) this.asking = null;
        this.render();
      });
      this.asking = { from: start, to: end, promise };
      return promise;
    }

    render() {
      if (this.ended || !this.total) return;
      this.layout();
      const top = Math.max(0, this.grid.scrollTop);
      const view = Math.max(this.grid.clientHeight - this.head.offsetHeight, guess);
      // A few hundred rows are all on the page.
      const all = this.total <= allRows;
      const from = all ? 0 : Math.max(0, this.indexAt(top) - beyond);
      const to = all ? this.total : Math.min(this.total, this.indexAt(top + view) + 1 + beyond);
      for (let i = from; i < to; i += 1) {
        if (!this.data.has(i)) {
          this.fetch(from, to);
          break;
        }
      }
      // The rows shown are one run, [from, to) where their data is at hand.
      let end = from;
      while (end < to && this.data.has(end)) end += 1;
      if (end === from) return;
      for (const [index, row] of this.elements) {
        if (index < from || index >= end) {
          this.elements.delete(index);
          this.drop(row);
        }
      }
      let next = null;
      for (let i = end - 1; i >= from; i -= 1) {
        let row = this.elements.get(i);
        if (!row) {
          row = this.make(this.data.get(i));
          this.elements.set(i, row);
          this.rows.insertBefore(row, next);
          this.measured.observe(row);
        }
        next = row;
      }
      this.shift = this.head.offsetHeight + this.offsets[from];
      this.rows.style.transform = `translateY(${this.shift}px)`;
      // The first row in view, and where it is in it.
      const scrolled = this.grid.scrollTop;
      for (let i = from; i < end; i += 1) {
        const row = this.elements.get(i);
        const at = this.shift + row.offsetTop;
        if (at + row.offsetHeight > scrolled + this.head.offsetHeight) {
          this.anchor = { row, offset: at - scrolled };
          break;
        }
      }
      this.mark();
      this.paint();
    }

    // Takes a row off the page; the focus it had goes to the grid, which
    // keeps its place (the arrows go on from there).
    drop(row) {
      this.measured.unobserve(row);
      if (row.contains(document.activeElement)) this.grid.focus({ preventScroll: true });
      row.remove();
    }

    // The rows' heights as shown. The view keeps its place when rows above
    // it change (a cover read, rows put on the page above): the first row
    // in view stays where it was when last drawn.
    resized(entries) {
      let changed = false;
      for (const { target: row } of entries) {
        const height = row.offsetHeight;
        if (this.elements.get(row.index) === row && height > 0 && height !== this.heights[row.index]) {
          this.heights[row.index] = height;
          changed = true;
        }
      }
      if (!changed) return;
      this.dirty = true;
      const anchor = this.anchor;
      this.render();
      if (anchor && anchor.row.isConnected) {
        const moved = this.shift + anchor.row.offsetTop - this.grid.scrollTop - anchor.offset;
        if (Math.abs(moved) >= 1) this.grid.scrollTop += moved;
      }
    }

    // A row as the page shows it, from the worker's row.
    make(data) {
      const row = element('div', data.group ? 'tags-row group' : 'tags-row');
      row.index = data.index;
      row.setAttribute('role', 'row');
      row.setAttribute('aria-level', String(data.level));
      row.setAttribute('aria-rowindex', String(data.index + 2));
      row.setAttribute('aria-posinset', String(data.posinset));
      row.setAttribute('aria-setsize', String(data.setsize));
      row.tabIndex = -1;
      const cell = (className, text) => {
        const made = element('div', className, text);
        made.setAttribute('role', 'gridcell');
        row.append(made);
        return made;
      };
      if (data.group) {
        const { name, count: tags, open } = data.group;
        row.group = data.group;
        row.setAttribute('aria-expanded', String(open));
        row.setAttribute('aria-label', `${name}, ${plural(tags, 'tag')}`);
        const label = cell('label', name);
        label.append(element('span', 'count', ` ${plural(tags, 'tag')}`));
        return row;
      }
      const tag = data.tag;
      row.tag = tag;
      row.parentIndex = data.index - data.posinset;
      row.setAttribute('aria-label', tag.name);
      cell('label', tag.label);
      cell('tagkey', tag.key).title = tag.where;
      const value = cell('value');
      let pictures = 0;
      for (const said of tag.values) {
        if (said.picture) {
          pictures += 1;
          if (pictures > mostPictures) continue;
          const picture = element('div');
          value.append(picture);
          const number = tag.pictures + pictures;
          Cover.show(picture, this.listing.file, said.picture, said.picture.type,
                     `${Compare.stem(this.listing.file.name)}-cover${number > 1 ? '-' + number : ''}`);
          continue;
        }
        const one = element('div', 'one');
        if (said.part) one.append(element('span', 'part', `${said.part}: `));
        one.append(element('span', said.text === '(empty)' ? 'text empty' : 'text', said.text));
        if (said.language) one.append(element('span', 'language', ` [${said.language}]`));
        value.append(one);
      }
      if (pictures > mostPictures) {
        value.append(element('p', 'note', `The first ${mostPictures} pictures of this tag are shown; it holds ${pictures}.`));
      }
      return row;
    }

    // The one Tab stop: the row or cell last focused in the grid, or the
    // first row shown when that is off the page.
    mark() {
      const wanted = this.stop && this.stop.isConnected && this.rows.contains(this.stop) ? this.stop
        : this.elements.get(this.focus.index) || this.elements.get(Math.min(...this.elements.keys()));
      if (wanted && wanted !== this.stop) {
        if (this.stop) this.stop.tabIndex = -1;
        this.stop = wanted;
      }
      if (this.stop) this.stop.tabIndex = 0;
    }

    focused(target) {
      const row = target.closest('[role=row]');
      if (!row || !this.rows.contains(row)) return;
      this.focus = { index: row.index, column: target === row ? -1 : this.stops(row).indexOf(target) };
      if (this.stop && this.stop !== target) this.stop.tabIndex = -1;
      this.stop = target;
      target.tabIndex = 0;
    }

    // The places in a row the arrows stop at: its cells, or the links and
    // buttons inside a cell in its place.
    stops(row) {
      return [...row.children].flatMap((cell) => {
        const inside = [...cell.querySelectorAll('a[href], button')];
        return inside.length ? inside : [cell];
      });
    }

    // Scrolls so that row `index` is in view, moving no further than needed.
    reveal(index) {
      this.layout();
      const view = this.grid.clientHeight - this.head.offsetHeight;
      const [top, bottom] = [this.offsets[index], this.offsets[index + 1]];
      if (top < this.grid.scrollTop) this.grid.scrollTop = top;
      else if (bottom > this.grid.scrollTop + view) this.grid.scrollTop = Math.min(top, bottom - view);
    }

    // Moves the focus to row `index`, to its place `column` (-1: the row).
    async go(index, column) {
      index = Math.max(0, Math.min(this.total - 1, index));
      this.focus = { index, column };
      this.reveal(index);
      this.render();
      if (!this.elements.has(index)) {
        await this.fetch(index, index + 1);
        this.reveal(index);
        this.render();
      }
      const row = this.elements.get(index);
      if (!row || this.focus.index !== index) return;
      const places = this.stops(row);
      const to = column < 0 ? row : places[Math.min(column, places.length - 1)];
      if (!to.matches('[role=row], a[href], button')) to.tabIndex = -1;
      to.focus({ preventScroll: true });
    }

    key(event) {
      if (event.altKey || event.metaKey) return;
      const row = event.target.closest('[role=row]');
      const onGrid = event.target === this.grid;
      if (!onGrid && (!row || !this.rows.contains(row))) return;
      const index = onGrid ? this.focus.index : row.index;
      const onRow = onGrid || event.target === row;
      const column = onRow ? -1 : this.stops(row).indexOf(event.target);
      if (event.key === 'Enter' || event.key === ' ') {
        // A link or button keeps its own keys.
        if (event.target.matches('a[href], button')) return;
        event.preventDefault();
        if (row) this.activate(row);
        return;
      }
      const places = row ? this.stops(row) : [];
      const group = row && row.group;
      const moves = {
        ArrowDown: () => this.go(index + 1, column),
        ArrowUp: () => this.go(index - 1, column),
        PageDown: () => this.go(index + 10, column),
        PageUp: () => this.go(index - 10, column),
        Home: () => this.go(onRow || event.ctrlKey ? 0 : index, onRow || event.ctrlKey ? column : 0),
        End: () => (onRow || event.ctrlKey ? this.go(this.total - 1, column) : this.go(index, places.length - 1)),
        ArrowRight: () => {
          if (onRow && group && !group.open) return this.fold(row, true);
          const to = places[column + 1];
          return to && this.go(index, column + 1);
        },
        ArrowLeft: () => {
          if (!onRow) return this.go(index, column - 1);
          if (group && group.open) return this.fold(row, false);
          return row && row.tag ? this.go(row.parentIndex, -1) : null;
        },
      };
      if (!(event.key in moves)) return;
      event.preventDefault();
      moves[event.key]();
    }

    // A click, Enter or Space on a row: a group folds or opens; a tag is
    // chosen.
    async activate(row) {
      if (row.group) {
        this.fold(row, !row.group.open);
        return;
      }
      const answer = await this.listing.ask('tagChoice', { id: row.tag.id });
      if (!this.ended) this.choose(answer);
    }

    // Folds or opens the group of heading row `row`; the focus stays on it.
    async fold(row, open) {
      const index = row.index;
      const { rowCount } = await this.listing.ask('tagFold', { group: row.group.id, open });
      if (this.ended) return;
      this.resize(rowCount);
      this.go(index, -1);
    }

    end() {
      this.ended = true;
      this.paint();
      if (this.measured) this.measured.disconnect();
      if (this.viewed) this.viewed.disconnect();
    }
  }

  return {
    // Shows the tags of `listing` in `box` (see Grid).
    show(box, listing, summary, choose) {
      if (shown) shown.end();
      shown = new Grid(box, listing, summary, choose);
      return shown;
    },
    // Says why the tags of the file shown cannot be shown.
    fail(box, text) {
      if (shown) shown.end();
      shown = null;
      box.replaceChildren(element('p', 'caption', text));
    },
    // Forgets the listing shown, when another file is chosen.
    stop() {
      if (shown) shown.end();
      shown = null;
    },
  };
})();
