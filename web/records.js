// The tag records a worker of the program's holds once it has listed a
// file, and its answers to the page's questions about them. The program
// reads them when the page first asks, after the lines, over the same
// source, and hands them over in columns: numbers in typed arrays, texts as
// UTF-8 one after another, each decoded when it is shown (far less time and
// memory than a string or an object a record); what the file is, its damage
// and XMP packets come as the JSON boxwalk-json writes of them. The page
// adds the XMP packets' properties (the worker has no XML parser). The tags
// view asks for the rows in view, a group at a time folded or open; the
// page never holds more of them.

const Records = (() => {
  'use strict';

  // JSON.parse, with integers past 2^53 (a range the file declares past
  // its end) as BigInts read from their own text. Only a text with a run
  // of 16 digits can hold one.
  function parse(text) {
    if (!/\d{16}/.test(text)) return JSON.parse(text);
    return JSON.parse(text, (key, value, context) => (typeof value === 'number' && !Number.isSafeInteger(value) &&
      context && /^\d+$/.test(context.source) ? BigInt(context.source) : value));
  }

  // A column of numbers: one the program keeps in its memory ({ at, size }
  // there, as handed), seen through a view that is made again once that
  // memory has grown (which moves it: the old view is then empty), until
  // the column grows; or one of the worker's own, which grows as it is
  // filled.
  class Numbers {
    constructor(Type, kept = null) {
      this.Type = Type;
      this.kept = kept;
      this.own = kept ? null : new Type(1024);
      this.seen = null;
      this.length = kept ? kept.size / Type.BYTES_PER_ELEMENT : 0;
    }
    get array() {
      if (this.own) return this.own;
      if (!this.seen || this.seen.buffer !== HEAPU8.buffer) {
        this.seen = new this.Type(HEAPU8.buffer, this.kept.at, this.length);
      }
      return this.seen;
    }
    push(value) {
      if (!this.own || this.length === this.own.length) {
        const grown = new this.Type(Math.max(1024, 2 * this.length));
        grown.set(this.array.subarray(0, this.length));
        this.own = grown;
        this.kept = null;
        this.seen = null;
      }
      this.own[this.length] = value;
      this.length += 1;
    }
  }

  const decoder = new TextDecoder();
  const encoder = new TextEncoder();

  // Ranges of the file: numbers, exact as the program had them (one past
  // 2^53 is kept apart, as BigInts).
  class Ranges {
    constructor(pos = null, size = null, wide = null) {
      this.pos = new Numbers(Float64Array, pos);
      this.size = new Numbers(Float64Array, size);
      this.exact = new Map();
      const halves = wide ? new Numbers(Uint32Array, wide).array : [];
      const join = (high, low) => (BigInt(high) << 32n) | BigInt(low);
      for (let i = 0; i + 4 < halves.length; i += 5) {
        this.exact.set(halves[i], [join(halves[i + 1], halves[i + 2]), join(halves[i + 3], halves[i + 4])]);
      }
    }
    push([pos, size]) {
      if (typeof pos === 'bigint' || typeof size === 'bigint') this.exact.set(this.pos.length, [pos, size]);
      this.pos.push(Number(pos));
      this.size.push(Number(size));
    }
    at(i) { return this.exact.get(i) || [this.pos.array[i], this.size.array[i]]; }
  }

  // Texts one after another as UTF-8, with where each ends; text i is
  // decoded when asked for.
  class Texts {
    constructor(bytes = null, ends = null) {
      this.chars = new Numbers(Uint8Array, bytes);
      this.ends = new Numbers(Uint32Array, ends);
      this.chars.length = this.ends.length ? this.ends.array[this.ends.length - 1] : 0;
    }
    get length() { return this.ends.length; }
    get bytes() { return this.chars.array; }
    start(i) { return i ? this.ends.array[i - 1] : 0; }
    at(i) { return decoder.decode(this.bytes.subarray(this.start(i), this.ends.array[i])); }
    push(text) {
      for (const byte of encoder.encode(text || '')) this.chars.push(byte);
      this.ends.push(this.chars.length);
    }
    // Hashes text i into `print`: its length in bytes, then its bytes.
    print(print, i) {
      const [from, to] = [this.start(i), this.ends.array[i]];
      const bytes = this.bytes;
      print.code(to - from);
      for (let at = from; at < to; at += 1) print.code(bytes[at]);
      return print;
    }
  }

  // The tags in columns, as the program hands them over (`c`, by name);
  // tag(i) gives back record i as boxwalk-json writes it.
  class Columns {
    constructor(c) {
      this.store = new Numbers(Uint8Array, c.store);
      for (const [name, column] of [['track', c.track], ['first', c.first], ['count', c.count], ['labelIndex', c.label]]) {
        this[name] = new Numbers(Uint32Array, column);
      }
      for (const name of ['key', 'mean', 'name', 'text', 'language', 'part']) {
        this[name] = new Texts(c[`${name}_bytes`], c[`${name}_ends`]);
      }
      const labels = new Texts(c.labels_bytes, c.labels_ends);
      this.labels = [''].concat(Array.from({ length: labels.length }, (_, i) => labels.at(i)));
      this.bytes = new Ranges(c.tag_pos, c.tag_size, c.tag_wide);
      this.kind = new Numbers(Uint8Array, c.value_kinds);
      this.cut = new Numbers(Uint8Array, c.value_cuts);
      this.type = new Numbers(Float64Array, c.value_types);
      this.valueBytes = new Ranges(c.value_pos, c.value_size, c.value_wide);
    }

    get length() { return this.store.length; }

    // Adds a record as boxwalk-json writes it (the page's XMP properties).
    add(tag) {
      this.store.push(Tags.stores.indexOf(tag.store));
      this.track.push(tag.track || 0);
      this.key.push(tag.key);
      this.mean.push(tag.mean);
      this.name.push(tag.name);
      let label = tag.label ? this.labels.indexOf(tag.label) : 0;
      if (label < 0) label = this.labels.push(tag.label) - 1;
      this.labelIndex.push(label);
      this.bytes.push(tag.bytes);
      this.first.push(this.kind.length);
      this.count.push(tag.values.length);
      for (const value of tag.values) {
        this.kind.push(Contract.valueKinds.names.indexOf(value.kind));
        this.type.push(value.type ?? -1);
        this.cut.push(value.cut ? 1 : 0);
        this.text.push(value.text);
        this.language.push(value.language);
        this.part.push(value.part);
        this.valueBytes.push(value.bytes);
      }
    }

    storeOf(i) { return Tags.stores[this.store.array[i]]; }
    labelOf(i) { return this.labels[this.labelIndex.array[i]]; }

    // Record i, its fields in the JSON's order, those it lacks left out.
    tag(i) {
      const some = (record, field, text) => { if (text) record[field] = text; };
      const tag = { store: this.storeOf(i) };
      if (this.track.array[i]) tag.track = this.track.array[i];
      tag.key = this.key.at(i);
      some(tag, 'mean', this.mean.at(i));
      some(tag, 'name', this.name.at(i));
      some(tag, 'label', this.labelOf(i));
      tag.bytes = this.bytes.at(i);
      tag.values = [];
      for (let at = this.first.array[i]; at < this.first.array[i] + this.count.array[i]; at += 1) {
        const value = { kind: Contract.valueKinds.names[this.kind.array[at]] };
        if (this.type.array[at] >= 0) value.type = this.type.array[at];
        value.text = this.text.at(at);
        if (this.cut.array[at]) value.cut = true;
        some(value, 'language', this.language.at(at));
        some(value, 'part', this.part.at(at));
        value.bytes = this.valueBytes.at(at);
        tag.values.push(value);
      }
      return tag;
    }
  }

  // { report (what the file is, its damage and XMP packets), tags
  // (Columns), status, error, reads, readMs, ms, xmp (whether the page has
  // added the packets' properties), order (the tags' indexes in the view's
  // order), groups [{ group, name, first, count, open }], pictures (each
  // tag's pictures before it in the view's order), headline }.
  let held = null;
  let reading = null;

  // Has the program read the records of the file listed, over the source it
  // listed it through, and holds their columns where the program keeps them.
  function read() {
    const started = performance.now();
    boxwalkFile = Lines.file();
    boxwalkHanded = {};
    boxwalkReading = 0;
    // 0: whole; 1: a read failed meanwhile; 2: none could be read.
    const status = _boxwalk_tags();
    boxwalkFile = null;
    boxwalkAhead = [];
    const { counts, error, json, columns } = boxwalkHanded.tags;
    boxwalkHanded = {};
    const [reads, bytes] = new Float64Array(counts.counts);
    const { tags, ...report } = parse(decoder.decode(json.json));
    held = { status, error: error ? decoder.decode(error.error) : '', reads: [reads, bytes],
             readMs: boxwalkReading, tags: new Columns(columns), xmp: false, report };
    arrange();
    held.ms = performance.now() - started;
  }

  // The view's order: by group, then the well-known tags first, each group
  // as stored. Tags of one group, store and rank go together as stored, a
  // run each.
  function arrange() {
    const { tags } = held;
    const runs = new Map();
    for (let i = 0; i < tags.length; i += 1) {
      const tag = { store: tags.storeOf(i), track: tags.track.array[i], label: tags.labelOf(i) };
      const key = (Tags.groupOf(tag) * 16 + tags.store.array[i]) * 64 + Tags.rank(tag);
      const run = runs.get(key);
      if (run) run.push(i); else runs.set(key, [i]);
    }
    const order = new Uint32Array(tags.length);
    const groups = [];
    let at = 0;
    for (const key of [...runs.keys()].sort((a, b) => a - b)) {
      const group = Math.floor(key / 1024);
      if (!groups.length || groups.at(-1).group !== group) {
        groups.push({ group, name: Tags.groupName(group), first: at, count: 0, open: true });
      }
      const run = runs.get(key);
      order.set(run, at);
      at += run.length;
      groups.at(-1).count += run.length;
    }
    // Each tag's pictures before it, for the names they are saved under.
    const picture = Contract.valueKinds.names.indexOf('picture');
    const pictures = new Uint32Array(tags.length);
    let seen = 0;
    const [first, count, kind] = [tags.first.array, tags.count.array, tags.kind.array];
    for (const index of order) {
      pictures[index] = seen;
      for (let v = first[index]; v < first[index] + count[index]; v += 1) seen += kind[v] === picture ? 1 : 0;
    }
    Object.assign(held, { order, groups, pictures, headline: headline(order) });
  }

  // What the page shows at a glance, from the well-known tags, the movie's
  // before a track's, the first label of a slot before the next: the
  // values of the first of each, as shown.
  const slots = {
    title: ['Title', 'Display name'], artist: ['Artist', 'Performer', 'Album artist', 'Author', 'Creator'],
    album: ['Album'], date: ['Creation date', 'Date', 'Year', 'Created', 'Release date'], make: ['Make'],
    model: ['Model'], location: ['Location'], cover: ['Cover', 'Artwork'],
  };
  const slotsOf = new Map();
  for (const [slot, labels] of Object.entries(slots)) {
    labels.forEach((label, rank) => slotsOf.set(label, [...(slotsOf.get(label) || []), [slot, rank, labels.length]]));
  }
  function headline(order) {
    const { tags } = held;
    const found = {};
    const best = {};
    for (const index of order) {
      for (const [slot, place, places] of slotsOf.get(tags.labelOf(index)) || []) {
        const rank = place + (tags.track.array[index] ? places : 0);
        if (best[slot] <= rank) continue;
        const tag = tags.tag(index);
        const said = Tags.describe(tag).values;
        const picked = said.filter((value, i) => {
          const { kind, part } = tag.values[i];
          return slot === 'cover' ? kind === 'picture' : slot === 'location' ? kind === 'location' : !part && kind !== 'picture';
        });
        if (!picked.length) continue;
        best[slot] = rank;
        found[slot] = slot === 'cover' ? picked[0].picture : picked.map((value) => value.text).join('; ');
      }
    }
    return found;
  }

  // What the page shows first: what the file is, the damage, the XMP
  // packets (for the page to read), the groups and how many rows they make.
  function summary() {
    const { report, tags, status, error, reads, readMs, ms, groups, headline: glance } = held;
    return {
      kind: report.kind, description: report.description, brand: report.brand || '',
      status, error, reads, readMs, ms, tagCount: tags.length,
      damage: report.damage.map((d) => ({ store: d.store, track: d.track || 0, what: d.what })),
      packets: held.xmp ? [] : report.xmp.map((p) => ({ track: p.track || 0, bytes: p.bytes, text: p.text, cut: !!p.cut })),
      groups: groups.map(({ name, count, open }) => ({ name, count, open })),
      rowCount: rowCount(), headline: glance,
    };
  }

  const rowCount = () => held.groups.reduce((sum, g) => sum + 1 + (g.open ? g.count : 0), 0);

  // Rows [from, from + count) of the view: a group's heading row, or a
  // tag's, as Tags describes it, with its place for a screen reader.
  function rows(from, count) {
    const out = [];
    let at = 0;
    held.groups.forEach((group, g) => {
      const size = 1 + (group.open ? group.count : 0);
      for (let i = Math.max(from, at); i < Math.min(from + count, at + size); i += 1) {
        if (i === at) {
          out.push({ index: i, level: 1, posinset: g + 1, setsize: held.groups.length,
                     group: { id: g, name: group.name, count: group.count, open: group.open } });
          continue;
        }
        const id = held.order[group.first + i - at - 1];
        out.push({ index: i, level: 2, posinset: i - at, setsize: group.count,
                   tag: { id, ...Tags.describe(held.tags.tag(id)), pictures: held.pictures[id] } });
      }
      at += size;
    });
    return out;
  }

  // The first `count` tags in the view's order as text, for printing.
  function texts(count) {
    const out = [];
    for (const group of held.groups) {
      for (let i = 0; i < group.count && out.length < count; i += 1) {
        const said = Tags.describe(held.tags.tag(held.order[group.first + i]));
        out.push({ group: group.name, label: said.label, key: said.key, value: Tags.spoken(said.values) });
      }
    }
    return out;
  }

  // Two 32-bit hashes of texts and numbers, each text after its length, so
  // that no two runs of them hash alike but by chance (one in 2^64).
  class Print {
    constructor() {
      this.a = 0x811c9dc5;
      this.b = 0x9747b28c;
    }
    code(c) {
      this.a = Math.imul(this.a ^ c, 0x01000193);
      this.b = Math.imul(this.b ^ c, 0x5bd1e995);
      this.b ^= this.b >>> 13;
    }
    text(value) {
      const text = String(value);
      this.code(text.length);
      for (let i = 0; i < text.length; i += 1) this.code(text.charCodeAt(i));
      return this;
    }
  }

  // What a comparison needs of every tag, in typed arrays (moved, not
  // copied): its identity (where it is stored, its key, a ---- item's mean
  // and name) as a 53-bit number; its values (each one's kind, type as
  // stored, text, cut, language, part, a picture's size) as two 32-bit
  // hashes; and each picture's place, [tag, pos, size] (its bytes are
  // compared).
  function prints() {
    const { tags } = held;
    const picture = Contract.valueKinds.names.indexOf('picture');
    const identity = new Float64Array(tags.length);
    const content = new Int32Array(2 * tags.length);
    const pictures = [];
    for (let i = 0; i < tags.length; i += 1) {
      const id = new Print().text(tags.store.array[i]).text(tags.track.array[i]);
      for (const texts of [tags.key, tags.mean, tags.name]) texts.print(id, i);
      identity[i] = (id.a >>> 0) + (id.b & 0x1fffff) * 2 ** 32;
      const values = new Print().text(tags.count.array[i]);
      for (let at = tags.first.array[i]; at < tags.first.array[i] + tags.count.array[i]; at += 1) {
        values.text(tags.kind.array[at]).text(tags.type.array[at]).text(tags.cut.array[at]);
        for (const texts of [tags.text, tags.language, tags.part]) texts.print(values, at);
        if (tags.kind.array[at] === picture) {
          const [pos, size] = tags.valueBytes.at(at);
          values.text(size);
          pictures.push(i, Number(pos), Number(size));
        }
      }
      content[2 * i] = values.a;
      content[2 * i + 1] = values.b;
    }
    return { identity, content, pictures: new Float64Array(pictures) };
  }

  // Tags `ids` as a comparison shows them: { label, key, where, value,
  // types } in words, each picture with the digest of its bytes.
  async function described(ids) {
    const out = [];
    for (const id of ids) {
      const tag = held.tags.tag(id);
      const said = Tags.describe(tag);
      for (const value of said.values) {
        if (!value.picture) continue;
        const { pos, size } = value.picture;
        value.text += ` (${await Compare.digest(Lines.file().slice(pos, pos + size))})`;
      }
      out.push({ label: said.label, key: said.key, where: said.where, value: Tags.spoken(said.values),
                 types: tag.values.map((value) => value.type ?? '-').join(', ') });
    }
    return out;
  }

  // The records, read once, whoever asks first.
  const ready = () => (reading || (reading = Promise.resolve().then(read)));

  const answers = {
    // The records read, and what the page shows first of them.
    records: async () => { await ready(); return summary(); },
    // The XMP packets' properties, as the page read them: tags and damage,
    // after the program's, once.
    addXmp: async ({ tags, damage }) => {
      await ready();
      if (!held.xmp) {
        held.xmp = true;
        for (const tag of tags) held.tags.add(tag);
        held.report.damage.push(...damage);
        arrange();
      }
      return summary();
    },
    tagRows: async ({ from, count }) => { await ready(); return { rows: rows(from, count) }; },
    // Folds or opens group `group`: how many rows the view has now.
    tagFold: async ({ group, open }) => {
      await ready();
      held.groups[group].open = open;
      return { rowCount: rowCount() };
    },
    // What choosing tag `id` shows: its line of output, where it has one
    // (items, ---- items and Xtra entries), else its own bytes.
    tagChoice: async ({ id }) => {
      await ready();
      const tag = held.tags.tag(id);
      const [pos, size] = tag.bytes;
      const line = Lines.lineAt(pos);
      return line >= 0 ? { line } : { range: { pos: Number(pos), size: Number(size), text: Tags.describe(tag).name } };
    },
    tagTexts: async ({ count }) => { await ready(); return { tags: texts(count), total: held.tags.length }; },
    // The records as the JSON had them (a small file's: the page's tests).
    tagRecords: async () => {
      await ready();
      const tags = Array.from({ length: held.tags.length }, (_, i) => held.tags.tag(i));
      const { kind, description, brand, moov, damage, xmp } = held.report;
      return { report: { kind, description, ...(brand ? { brand } : {}), ...(moov ? { moov } : {}), tags, damage, xmp } };
    },
    // What a comparison needs of the tags (see prints).
    tagPrints: async () => {
      await ready();
      const made = prints();
      return [{ ...made, file: Lines.file() }, [made.identity.buffer, made.content.buffer, made.pictures.buffer]];
    },
    tagDescribe: async ({ ids }) => { await ready(); return { tags: await described(ids) }; },
  };

  return {
    handles: (kind) => kind in answers,
    // The answer to a question, and the buffers to move with it.
    async answer(question) {
      const answer = await answers[question.kind](question);
      return Array.isArray(answer) ? answer : [answer, []];
    },
  };
})();
