// The file at a glance, above the lines: its cover; its title, artist and
// album, or a video's creation date, device and location, from wherever
// they are stored (the worker picks the first of each among the well-known
// tags, the movie's before a track's); what kind of file it is, by its
// brand, and whether it is intact.
'use strict';

const Glance = (() => {
  // Kinds of file by the major brand of their ftyp.
  const brands = [
    [/^M4A $/, 'MPEG-4 audio (M4A)'], [/^M4B $/, 'MPEG-4 audiobook (M4B)'],
    [/^M4P $/, 'protected MPEG-4 audio (M4P)'], [/^M4V[ HP]$/, 'MPEG-4 video (M4V)'],
    [/^qt {2}$/, 'QuickTime movie'], [/^3g2/, '3GPP2'], [/^3g[a-z]/, '3GPP'],
    [/^(isom|iso\d|mp4[12]|avc1|dash|mp71)$/, 'MPEG-4 (MP4)'], [/^(heic|heix|mif1|msf1)$/, 'HEIF image'],
    [/^f4[av] $/, 'Flash video (F4V)'],
  ];

  // What the file is, in words.
  function kind(records) {
    if (records.kind !== 'mp4') return Tags.notMp4(records.kind, records.description);
    const brand = records.brand;
    const known = brands.find(([pattern]) => pattern.test(brand));
    if (known) return known[1];
    return brand ? `MP4-family file (brand "${Tags.visible(brand)}")` : 'MP4-family file (no ftyp)';
  }

  const element = (tag, className, text) => {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  };

  // Says that the tags of `file` are being read.
  function reading(box, file) {
    box.hidden = false;
    box.replaceChildren(element('p', 'glance-kind', `Reading the tags of ${file.name}…`));
  }

  // Shows `records` (records.js's summary) of `file`; `problems` are the
  // damage found in it, in words (none: intact).
  function show(box, file, records, problems) {
    box.hidden = false;
    const text = element('div', 'glance-text');
    const said = element('p', 'glance-kind');
    if (records.kind === 'mp4') {
      const intact = !problems.length;
      said.append(element('span', intact ? 'badge intact' : 'badge damaged', intact ? 'Intact' : 'Damaged'), ' ');
    }
    said.append(kind(records));
    text.append(said);
    const { title, artist, album, date, make, model, location, cover } = records.headline;
    const device = [make, model].filter(Boolean).join(' ');
    const facts = element('dl', 'glance-facts');
    for (const [label, value] of [['Title', title], ['Artist', artist], ['Album', album], ['Date', date],
      ['Device', device], ['Location', location]]) {
      if (!value) continue;
      facts.append(element('dt', '', label), element('dd', '', value));
    }
    if (facts.children.length) {
      text.append(facts);
    } else if (records.kind === 'mp4') {
      text.append(element('p', 'caption', 'No title, artist or album; no date, device or location.'));
    }
    const parts = [];
    if (cover) {
      const picture = element('div', 'glance-cover');
      Cover.show(picture, file, cover, cover.type, `${Compare.stem(file.name)}-cover`, true);
      parts.push(picture);
    }
    box.replaceChildren(...parts, text);
  }

  return { kind, reading, show };
})();
