// The tag records as the page shows them. The records are the program's
// (the JSON boxwalk-json writes of a file's tags): their labels and the
// texts of their values are read there, once, in C++. Here they are only put
// in words for a person: text under the terminal rule, with the controls
// that turn text around shown too; a location in degrees; the names of the
// places tags are stored; and the order the tags view shows them in. Nothing
// here touches the page. Used by the page and by the program's workers.
'use strict';

const Tags = (() => {
  // The stores by the program's own names (contract.js), with the name the
  // view gives each, in the view's order: the movie's tags by store, then
  // each track's.
  const storeNames = new Map([
    ['ilst', 'Item list (ilst)'], ['Xtra', 'Xtra store'], ['keys', 'Keys (mdta)'],
    ['quicktime', 'QuickTime text'], ['3gpp', '3GPP assets'], ['xmp', 'XMP'],
    ['structure', 'Atoms around the stores'],
  ]);
  const stores = Contract.stores.names;
  const storeName = (store) => storeNames.get(store) ||
    Contract.stores.about[stores.indexOf(store)] || String(store);

  // The well-known tags first, in this order, by label; other labelled tags
  // after them, then the rest, each as stored.
  const order = ['Title', 'Display name', 'Name', 'Artist', 'Performer', 'Album artist', 'Album',
    'Author', 'Creator', 'Composer', 'Genre', 'Year', 'Date', 'Creation date', 'Created',
    'Release date', 'Track', 'Disc', 'Make', 'Model', 'Software', 'Location', 'Location name',
    'Description', 'Long description', 'Comment', 'Keywords', 'Lyrics', 'Copyright', 'Cover',
    'Artwork'];
  const ranks = new Map(order.map((label, i) => [label, i]));
  const rank = (tag) => (tag.label ? (ranks.has(tag.label) ? ranks.get(tag.label) : order.length)
    : order.length + 1);

  // The view's group of a tag, as a number in the view's order: the
  // movie's stores, then track 1, 2, ...
  const groupOf = (tag) => (tag.track ? stores.length + Number(tag.track) : Math.max(0, stores.indexOf(tag.store)));
  const groupName = (group) => (group < stores.length ? storeName(stores[group]) : `Track ${group - stores.length}`);

  // Text as the page shows it: the terminal's rule (every control but tab,
  // C1 controls included, as \xNN), and the characters that reorder text
  // around them (bidi embeddings, overrides, isolates and marks) as \uNNNN,
  // so that a value cannot turn the row's text around.
  const bidi = /[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/g;
  const visible = (text) => Terminal.text(String(text))
    .replace(bidi, (c) => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0'));

  // ISO 6709 text ("+48.8577+002.2945+35.000/", or degrees and minutes,
  // "+4851.46+00217.67/") in degrees: "48.8577° N, 2.2945° E, 35 m". Null
  // when the text is no such place.
  function degrees(text) {
    const match = /^([+-])(\d+)(\.\d*)?([+-])(\d+)(\.\d*)?(?:([+-]\d+(?:\.\d*)?))?(?:CRS[^/]*)?\/?$/.exec(text);
    if (!match) return null;
    // Degrees in `wide` digits, then minutes and seconds in two each, if
    // there; the fraction is of the last of them.
    const angle = (sign, whole, fraction = '', wide) => {
      const parts = [whole.slice(0, wide), whole.slice(wide, wide + 2), whole.slice(wide + 2)];
      if (![wide, wide + 2, wide + 4].includes(whole.length)) return null;
      const last = parts.filter(Boolean).length - 1;
      parts[last] += fraction;
      const value = parts.reduce((sum, part, i) => sum + (part ? Number(part) / 60 ** i : 0), 0);
      return sign === '-' ? -value : value;
    };
    const latitude = angle(match[1], match[2], match[3], 2);
    const longitude = angle(match[4], match[5], match[6], 3);
    if (latitude === null || longitude === null || Math.abs(latitude) > 90 || Math.abs(longitude) > 180) return null;
    const shown = (n) => String(Number(Math.abs(n).toFixed(6)));
    const place = `${shown(latitude)}° ${latitude < 0 ? 'S' : 'N'}, ${shown(longitude)}° ${longitude < 0 ? 'W' : 'E'}`;
    return match[7] === undefined ? place : `${place}, ${Number(match[7])} m`;
  }

  // A number of the records, exact past 2^53 as a BigInt, as a Number for
  // reading the file (no File is that long).
  const number = (n) => Number(n);

  // A value as a person reads it: its text (a location in degrees, "(empty)"
  // for no text), cut short when the program cut it.
  function valueText(value) {
    if (value.kind === 'location') {
      const place = degrees(value.text);
      if (place) return place;
    }
    if (value.text === '') return '(empty)';
    return visible(value.text) + (value.cut ? '…' : '');
  }

  // What a tag says, for a row: { label, key, where, values, name }, each
  // value { text, part, language, picture: { pos, size, type } for a
  // picture }, and `name` the row's name for a screen reader: its label
  // and every value.
  function describe(tag) {
    const label = tag.label ? visible(tag.label)
      : tag.mean || tag.name ? `${visible(tag.mean || '')}: ${visible(tag.name || '')}` : visible(tag.key);
    const values = tag.values.map((value) => {
      const said = { text: valueText(value), part: value.part ? visible(value.part) : '',
                     language: value.language ? visible(value.language) : '' };
      if (value.kind === 'picture') {
        said.picture = { pos: number(value.bytes[0]), size: number(value.bytes[1]), type: value.type ?? 0 };
      }
      return said;
    });
    return { label, key: visible(tag.key), where: tag.track ? `track ${tag.track}, ${storeName(tag.store)}` : storeName(tag.store),
             values, name: `${label}: ${spoken(values)}` };
  }

  // Values as one text: each with its part and its language, if any.
  const spoken = (values) => values.map((v) => (v.part ? `${v.part}: ` : '') + v.text +
    (v.language && v.language !== 'und' ? ` (${v.language})` : '')).join('; ');

  // The words for a file that is not an MP4 one, from what the program
  // says it is: "Not an MP4 file; it looks like a PNG image".
  function notMp4(kind, description) {
    if (kind === 'empty') return 'Not an MP4 file; it is empty';
    if (kind === 'unknown' || !description) return 'Not an MP4 file';
    return `Not an MP4 file; it looks like ${description}`;
  }

  return { stores, storeName, rank, groupOf, groupName, visible, degrees, number, valueText, describe, spoken,
           notMp4 };
})();
