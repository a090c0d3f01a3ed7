// What the tags mean: one row per ilst item and per Xtra entry, with a
// label, the key as stored and the value decoded from the file's own bytes.
// The program says where each line's key and value lie and what type the
// value has; these functions only turn those bytes into words. Nothing here
// touches the page: the view puts the words there as text.
'use strict';

const Tags = (() => {
  // What a line shows, by the program's own names (contract.js).
  const kinds = Contract.lineKinds.names;

  // The most bytes of a value read for the view; a longer one is cut.
  const valueLimit = 64 << 10;

  // How each well-known key reads: its label and what its value holds.
  const known = new Map(Object.entries({
    '\xa9nam': ['Title', 'text'], '\xa9ART': ['Artist', 'text'], '\xa9alb': ['Album', 'text'],
    aART: ['Album artist', 'text'], '\xa9wrt': ['Composer', 'text'], '\xa9gen': ['Genre', 'text'],
    gnre: ['Genre', 'genre'], '\xa9day': ['Year', 'text'], trkn: ['Track', 'pair'],
    disk: ['Disc', 'pair'], tmpo: ['Tempo', 'number'], cpil: ['Compilation', 'flag'],
    pgap: ['Gapless', 'flag'], '\xa9cmt': ['Comment', 'text'], '\xa9lyr': ['Lyrics', 'text'],
    desc: ['Description', 'text'], ldes: ['Long description', 'text'],
    '\xa9too': ['Encoder', 'text'], '\xa9enc': ['Encoded by', 'text'],
    cprt: ['Copyright', 'text'], '\xa9grp': ['Grouping', 'text'],
    sonm: ['Sort title', 'text'], soar: ['Sort artist', 'text'], soal: ['Sort album', 'text'],
    soaa: ['Sort album artist', 'text'], soco: ['Sort composer', 'text'],
    sosn: ['Sort show', 'text'],
    tvsh: ['TV show', 'text'], tven: ['TV episode ID', 'text'], tvnn: ['TV network', 'text'],
    tvsn: ['TV season', 'number'], tves: ['TV episode', 'number'],
    pcst: ['Podcast', 'flag'], purl: ['Podcast URL', 'text'], egid: ['Podcast episode ID', 'text'],
    catg: ['Category', 'text'], keyw: ['Keywords', 'text'],
    stik: ['Media kind', 'kind'], rtng: ['Rating', 'rating'], covr: ['Cover', 'picture'],
  }));

  const mediaKinds = new Map([[0, 'Movie (old value)'], [1, 'Music'], [2, 'Audiobook'],
    [5, 'Whacked bookmark'], [6, 'Music video'], [9, 'Movie'], [10, 'TV show'], [11, 'Booklet'],
    [14, 'Ringtone'], [21, 'Podcast'], [23, 'iTunes U']]);
  const ratings = new Map([[0, 'None'], [1, 'Explicit'], [2, 'Clean'], [4, 'Explicit (old value)']]);

  // The ID3v1 genres with Winamp's additions; gnre holds the number plus one.
  const genres = ('Blues|Classic Rock|Country|Dance|Disco|Funk|Grunge|Hip-Hop|Jazz|Metal|New Age|' +
    'Oldies|Other|Pop|R&B|Rap|Reggae|Rock|Techno|Industrial|Alternative|Ska|Death Metal|Pranks|' +
    'Soundtrack|Euro-Techno|Ambient|Trip-Hop|Vocal|Jazz+Funk|Fusion|Trance|Classical|' +
    'Instrumental|Acid|House|Game|Sound Clip|Gospel|Noise|AlternRock|Bass|Soul|Punk|Space|' +
    'Meditative|Instrumental Pop|Instrumental Rock|Ethnic|Gothic|Darkwave|Techno-Industrial|' +
    'Electronic|Pop-Folk|Eurodance|Dream|Southern Rock|Comedy|Cult|Gangsta|Top 40|' +
    'Christian Rap|Pop/Funk|Jungle|Native American|Cabaret|New Wave|Psychadelic|Rave|' +
    'Showtunes|Trailer|Lo-Fi|Tribal|Acid Punk|Acid Jazz|Polka|Retro|Musical|Rock & Roll|' +
    'Hard Rock|Folk|Folk-Rock|National Folk|Swing|Fast Fusion|Bebob|Latin|Revival|Celtic|' +
    'Bluegrass|Avantgarde|Gothic Rock|Progressive Rock|Psychedelic Rock|Symphonic Rock|' +
    'Slow Rock|Big Band|Chorus|Easy Listening|Acoustic|Humour|Speech|Chanson|Opera|' +
    'Chamber Music|Sonata|Symphony|Booty Bass|Primus|Porn Groove|Satire|Slow Jam|Club|Tango|' +
    'Samba|Folklore|Ballad|Power Ballad|Rhythmic Soul|Freestyle|Duet|Punk Rock|Drum Solo|' +
    'A capella|Euro-House|Dance Hall|Goa|Drum & Bass|Club-House|Hardcore|Terror|Indie|' +
    'BritPop|Afro-Punk|Polsk Punk|Beat|Christian Gangsta Rap|Heavy Metal|Black Metal|' +
    'Crossover|Contemporary Christian|Christian Rock|Merengue|Salsa|Thrash Metal|Anime|JPop|' +
    'Synthpop|Abstract|Art Rock|Baroque|Bhangra|Big Beat|Breakbeat|Chillout|Downtempo|Dub|EBM|' +
    'Eclectic|Electro|Electroclash|Emo|Experimental|Garage|Global|IDM|Illbient|Industro-Goth|' +
    'Jam Band|Krautrock|Leftfield|Lounge|Math Rock|New Romantic|Nu-Breakz|Post-Punk|Post-Rock|' +
    'Psytrance|Shoegaze|Space Rock|Trop Rock|World Music|Neoclassical|Audiobook|' +
    'Audio Theatre|Neue Deutsche Welle|Podcast|Indie Rock|G-Funk|Dubstep|Garage Rock|' +
    'Psybient').split('|');

  // Pictures by the data atom's type indicator.
  const pictureTypes = new Map([[13, 'JPEG'], [14, 'PNG'], [27, 'BMP'], [12, 'GIF']]);

  // The tag rows of a listing, from the columns the program hands over by
  // the names in contract.js: `lines` (the lines' columns, for their kind),
  // `details` (a row each: where its key, name and value lie) and `values`
  // (an item's values after the first, in the order of their lines; a
  // value at noPosition stands for more than were reported). Rows `from`
  // to `to` of the details, each { line, kind, key, name, value, type,
  // others, more }: a range is { pos, size } or null.
  function rows({ lines, details, values }, from = 0, to = details.line.length) {
    const range = (pos, size) => (pos === Contract.noPosition ? null
      : { pos: Number(pos), size: Number(size) });
    const found = [];
    for (let at = from; at < Math.min(to, details.line.length); at += 1) {
      const line = details.line[at];
      found.push({ line, kind: kinds[lines.kind[line]], key: range(details.key_pos[at], details.key_size[at]),
                   name: range(details.name_pos[at], details.name_size[at]),
                   value: range(details.value_pos[at], details.value_size[at]),
                   type: details.value_type[at], others: [], more: false });
    }
    // An item's other values follow one another, their lines in order.
    let low = 0;
    let high = values.line.length;
    const first = found.length ? found[0].line : 0;
    while (low < high) {
      const mid = (low + high) >> 1;
      if (values.line[mid] < first) low = mid + 1; else high = mid;
    }
    for (let at = low, row = 0; at < values.line.length && row < found.length;) {
      if (values.line[at] > found[row].line) { row += 1; continue; }
      if (values.line[at] === found[row].line) {
        if (values.pos[at] === Contract.noPosition) found[row].more = true;
        else found[row].others.push({ pos: Number(values.pos[at]), size: Number(values.size[at]), type: values.type[at] });
      }
      at += 1;
    }
    return found;
  }

  // Reads the keys, names and values of `list` (rows) from `file`, in two
  // rounds (a cover's key says not to read its value, which is read when it
  // is shown): ranges near each other in one read, a value cut at
  // valueLimit bytes. Fills each row's `bytes` with { key, name, value }.
  async function read(file, list) {
    for (const row of list) row.bytes = {};
    await gather(file, list, ['key', 'name']);
    await gather(file, list.filter((row) => !isPicture(row)), ['value']);
  }

  async function gather(file, list, parts) {
    const wanted = [];
    for (const row of list) {
      for (const part of parts) {
        const range = row[part];
        if (!range) continue;
        const size = Math.max(0, Math.min(range.size, valueLimit, file.size - range.pos));
        wanted.push({ row, part, pos: range.pos, end: range.pos + size });
      }
    }
    wanted.sort((a, b) => a.pos - b.pos);
    for (let first = 0; first < wanted.length;) {
      let last = first;
      let end = wanted[first].end;
      while (last + 1 < wanted.length && wanted[last + 1].pos <= end + 4096 &&
             Math.max(end, wanted[last + 1].end) - wanted[first].pos <= 1 << 20) {
        last += 1;
        end = Math.max(end, wanted[last].end);
      }
      const from = wanted[first].pos;
      const bytes = new Uint8Array(await file.slice(from, end).arrayBuffer());
      for (let i = first; i <= last; i += 1) {
        const part = wanted[i];
        part.row.bytes[part.part] = bytes.subarray(part.pos - from, part.end - from);
      }
      first = last + 1;
    }
  }

  const utf8 = new TextDecoder('utf-8', { fatal: true });
  const lenient = new TextDecoder('utf-8');
  const utf16be = new TextDecoder('utf-16be', { fatal: true });
  const utf16le = new TextDecoder('utf-16le');

  // Bytes as the console's hex, at most 64 of them.
  function hex(bytes, size = bytes.length) {
    const shown = Array.from(bytes.subarray(0, 64), (b) => b.toString(16).padStart(2, '0')).join(' ');
    return size > 64 ? `${shown} …` : shown;
  }

  // Text as the terminal shows it.
  const visible = Terminal.text;
  const trimNuls = (text) => text.replace(/\0+$/, '');

  // A key's four bytes as characters: printable ASCII as it is, 0xA9 as ©,
  // any other byte as \xNN.
  function keyText(bytes) {
    return Array.from(bytes, (b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b)
      : b === 0xa9 ? '©' : '\\x' + b.toString(16).padStart(2, '0'))).join('');
  }

  // A big-endian integer of 1 to 8 bytes, signed or not, as a BigInt.
  function integer(bytes, signed) {
    let value = 0n;
    for (const b of bytes) value = (value << 8n) | BigInt(b);
    return signed ? BigInt.asIntN(bytes.length * 8, value) : value;
  }

  // A value by its type indicator alone: { text } or { raw, why }, or null
  // for a type whose meaning is not set by the indicator (0, pictures, and
  // those not known here).
  function byType(type, bytes) {
    const size = bytes.length;
    const sized = (wanted, what, read) => (size === wanted ? { text: read() }
      : { raw: true, why: `${size} bytes, not the ${wanted} of ${what}` });
    const view = new DataView(bytes.buffer, bytes.byteOffset, size);
    switch (type) {
      case 1: case 4:
        try { return { text: trimNuls(utf8.decode(bytes)) }; } catch { return { raw: true, why: 'not UTF-8' }; }
      case 2: case 5:
        if (size % 2) return { raw: true, why: 'an odd number of bytes for UTF-16' };
        try { return { text: trimNuls(utf16be.decode(bytes)) }; } catch { return { raw: true, why: 'not UTF-16' }; }
      case 21: case 22:
        if (size < 1 || size > 8) return { raw: true, why: `${size} bytes for an integer` };
        return { text: String(integer(bytes, type === 21)) };
      case 23: return sized(4, 'a 32-bit float', () => single(view.getFloat32(0)));
      case 24: return sized(8, 'a 64-bit float', () => String(view.getFloat64(0)));
      case 65: case 75: return sized(1, 'an 8-bit integer', () => String(integer(bytes, type === 65)));
      case 66: case 76: return sized(2, 'a 16-bit integer', () => String(integer(bytes, type === 66)));
      case 67: case 77: return sized(4, 'a 32-bit integer', () => String(integer(bytes, type === 67)));
      case 74: case 78: return sized(8, 'a 64-bit integer', () => String(integer(bytes, type === 74)));
      default: return null;
    }
  }

  // A 32-bit float in the fewest digits that read back as it.
  function single(value) {
    for (let digits = 1; digits < 9; digits += 1) {
      const text = String(Number(value.toPrecision(digits)));
      if (Math.fround(Number(text)) === value) return text;
    }
    return String(value);
  }

  // The number an integer-holding value stores, with its implicit type (0)
  // read as unsigned: a BigInt, or a reason it holds none.
  function number(type, bytes) {
    if (![0, 21, 22, 65, 66, 67, 74, 75, 76, 77, 78].includes(type)) {
      return { why: `type ${type}, not a number` };
    }
    if (bytes.length < 1 || bytes.length > 8) return { why: `${bytes.length} bytes for a number` };
    return { value: integer(bytes, [21, 65, 66, 67, 74].includes(type)) };
  }

  // The value of an ilst item or a ---- item: by the well-known key's
  // meaning (`holds`) when it has one, else by its type.
  function itemValue(holds, type, bytes) {
    if (holds === 'text') {
      const text = [0, 1, 2, 4, 5].includes(type) ? byType(type === 0 ? 1 : type, bytes) : null;
      return text || { raw: true, why: `type ${type}, not text` };
    }
    if (holds === 'pair') {
      if (type !== 0 && type !== 21 && type !== 22) return { raw: true, why: `type ${type}, not a number pair` };
      if (bytes.length < 6) return { raw: true, why: `${bytes.length} bytes, too few for a number pair` };
      const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.length);
      const [n, of] = [view.getUint16(2), view.getUint16(4)];
      return { text: of ? `${n} of ${of}` : String(n) };
    }
    if (holds === 'genre' || holds === 'number' || holds === 'flag' || holds === 'kind' ||
        holds === 'rating') {
      const { value, why } = number(type, bytes);
      if (why) return { raw: true, why };
      const n = Number(value);
      if (holds === 'number') return { text: String(value) };
      if (holds === 'flag') {
        return n === 0 || n === 1 ? { text: n ? 'yes' : 'no' } : { raw: true, why: `${value} is not 0 or 1` };
      }
      const names = holds === 'kind' ? mediaKinds : ratings;
      if (holds === 'genre') {
        return n >= 1 && n <= genres.length ? { text: genres[n - 1] }
          : { raw: true, why: `${value} is no ID3v1 genre number plus one` };
      }
      return names.has(n) ? { text: names.get(n) } : { raw: true, why: `${value} has no name` };
    }
    return byType(type, bytes) || { raw: true, why: type === 0 ? '' : `type ${type}` };
  }

  // Windows' FILETIME (100 ns steps since 1601-01-01 UTC) as a UTC date
  // and time: "2023-01-02 03:04:05 UTC", with the fraction when there is one.
  function filetime(bytes) {
    const ticks = new DataView(bytes.buffer, bytes.byteOffset, 8).getBigUint64(0, true);
    const date = new Date(Number(ticks / 10000n) - 11644473600000);
    if (Number.isNaN(date.getTime())) return null;
    const fraction = String(ticks % 10000000n).padStart(7, '0').replace(/0+$/, '');
    const [day, time] = date.toISOString().split('T');
    return `${day} ${time.slice(0, 8)}${fraction ? '.' + fraction : ''} UTC`;
  }

  // An Xtra entry's first value: UTF-16LE text, an unsigned 64-bit
  // little-endian number, a date, or the bytes.
  function xtraValue(type, bytes) {
    if (type === 8) {
      let size = bytes.length - (bytes.length % 2);
      if (size >= 2 && bytes[size - 1] === 0 && bytes[size - 2] === 0) size -= 2;
      return { text: utf16le.decode(bytes.subarray(0, size)) };
    }
    if (type === 19 || type === 21) {
      if (bytes.length !== 8) return { raw: true, why: `${bytes.length} bytes, not 8` };
      if (type === 19) return { text: String(new DataView(bytes.buffer, bytes.byteOffset, 8).getBigUint64(0, true)) };
      const date = filetime(bytes);
      return date ? { text: date } : { raw: true, why: 'a date out of range' };
    }
    return { raw: true, why: `type ${type}` };
  }

  // What a row says, once read: { label, key, value, note, picture }. The
  // value is text to show as it is; `note` says why bytes are shown raw. A
  // picture item's value is the byte count of each of its pictures.
  function describe(row) {
    const { key = new Uint8Array(), name = new Uint8Array(), value } = row.bytes || {};
    let label;
    let keyShown;
    let holds = null;
    if (row.kind === 'entry') {
      label = keyShown = visible(lenient.decode(key));
    } else if (row.kind === 'freeform') {
      const mean = visible(trimNuls(lenient.decode(key)));
      const named = visible(trimNuls(lenient.decode(name)));
      label = `${mean}: ${named}`;
      keyShown = '----';
    } else {
      keyShown = keyText(key);
      const entry = known.get(String.fromCharCode(...key));
      if (entry) [label, holds] = entry;
      else label = keyShown;
    }
    const said = { kind: row.kind, label, key: keyShown, value: '', note: '', picture: false };
    if (!row.value) {
      said.note = 'no value';
      return said;
    }
    if (holds === 'picture' || (row.kind !== 'entry' && pictureTypes.has(row.type))) {
      said.picture = true;
      said.value = pictures(row).map((p) => `${p.range.size} bytes`).join(', ') +
        (row.more ? ', and more' : '');
      return said;
    }
    const got = row.kind === 'entry' ? xtraValue(row.type, value) : itemValue(holds, row.type, value);
    const cut = row.value.size > value.length;
    if (got.raw) {
      said.value = hex(value, row.value.size);
      said.note = got.why ? `raw bytes: ${got.why}` : 'raw bytes';
    } else {
      said.value = visible(got.text) + (cut ? '…' : '');
      if (cut) said.note = `the first ${value.length} of ${row.value.size} bytes`;
    }
    return said;
  }

  // The pictures of a picture item: its first value and those after it,
  // each { range, type }.
  const pictures = (row) => [{ range: row.value, type: row.type },
    ...row.others.map(({ pos, size, type }) => ({ range: { pos, size }, type }))];

  function isPicture(row) {
    if (row.kind === 'entry') return false;
    if (pictureTypes.has(row.type)) return true;
    return row.kind === 'item' && row.bytes && row.bytes.key &&
           String.fromCharCode(...row.bytes.key) === 'covr';
  }

  return { kinds, rows, read, describe, keyText, pictureTypes, pictures, isPicture };
})();
