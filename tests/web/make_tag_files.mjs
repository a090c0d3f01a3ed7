// Writes the files the page's tags, covers and comparison are checked with,
// atoms built here with their sizes computed:
//   tags.m4a     every kind of value: texts, integers, floats, the implicit
//                types of the well-known keys, ill-fitting values, a freeform
//                item, Xtra texts, numbers, dates and others, and three
//                covers (PNG 3x2, JPEG 20x10, a PNG 5x4 of type 0);
//   before.m4a, after.m4a   one file before and after a tagger changed one tag;
//   hostile.m4a  markup in values, labels, mean, name and Xtra, controls
//                (C0, C1) and bidi controls in a value, covers of markup
//                and of random bytes;
//   covers.m4a   one covr of two pictures (PNG 6x3, JPEG 24x16), one of 70
//                tiny values; cover-a.m4a, cover-b.m4a   covers of one size,
//                other bytes;
//   large-cover.m4a   a PNG of noise, 11700 x 11700 pixels in 17 MB.
// makeTagFiles(dir) returns what the page must show for tags.m4a as [group,
// label, value] rows (but the covers) and the keys of the well-known tags,
// the covers' pixel sizes, and a hostile value as the page must show it.
// node make_tag_files.mjs DIR
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';

const bytes = (p) => (typeof p === 'string' ? Buffer.from(p, 'latin1') : Buffer.from(p));
const u16 = (n) => { const b = Buffer.alloc(2); b.writeUInt16BE(n); return b; };
const u32 = (n) => { const b = Buffer.alloc(4); b.writeUInt32BE(n); return b; };
const atom = (type, ...parts) => {
  const body = Buffer.concat(parts.map(bytes));
  return Buffer.concat([u32(8 + body.length), bytes(type), body]);
};
const data = (type, value) => atom('data', u32(type), u32(0), bytes(value));
const item = (key, type, value) => atom(key, data(type, value));
const text = (key, value) => item(key, 1, Buffer.from(value));
const freeform = (mean, name, value) => atom('----', atom('mean', u32(0), Buffer.from(mean)),
  atom('name', u32(0), Buffer.from(name)), data(1, Buffer.from(value)));
const entry = (name, type, value) => {
  const named = Buffer.from(name);
  const body = Buffer.concat([u32(named.length), named, u32(1), u32(6 + value.length), u16(type), value]);
  return Buffer.concat([u32(4 + body.length), body]);
};
const utf16le = (s) => Buffer.concat([Buffer.from(s, 'utf16le'), Buffer.alloc(2)]);
const le64 = (n) => { const b = Buffer.alloc(8); b.writeBigUInt64LE(BigInt(n)); return b; };
const file = (items, entries = []) => Buffer.concat([atom('ftyp', 'M4A ', u32(0)),
  atom('moov', atom('mvhd', Buffer.alloc(100)), atom('udta',
    atom('meta', u32(0), atom('hdlr', Buffer.alloc(8), 'mdirappl', Buffer.alloc(9)), atom('ilst', ...items)),
    ...(entries.length ? [atom('Xtra', ...entries)] : []))),
  atom('mdat', Buffer.alloc(16))]);

// A PNG of w x h pixels, each a colour of its own.
const crcTable = Array.from({ length: 256 }, (_, n) => {
  for (let k = 0; k < 8; k += 1) n = n & 1 ? 0xedb88320 ^ (n >>> 1) : n >>> 1;
  return n >>> 0;
});
const crc = (b) => (b.reduce((c, x) => crcTable[(c ^ x) & 255] ^ (c >>> 8), 0xffffffff) ^ 0xffffffff) >>> 0;
const chunk = (type, body) => Buffer.concat([u32(body.length), bytes(type), body, u32(crc(Buffer.concat([bytes(type), body])))]);
function png(w, h) {
  const rows = Array.from({ length: h }, (_, y) =>
    Buffer.from([0, ...Array.from({ length: w }, (_, x) => [x * 80, y * 80, 200]).flat()]));
  const head = Buffer.concat([u32(w), u32(h), Buffer.from([8, 2, 0, 0, 0])]);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 13, 10, 26, 10]), chunk('IHDR', head),
    chunk('IDAT', zlib.deflateSync(Buffer.concat(rows))), chunk('IEND', Buffer.alloc(0))]);
}

// A PNG of w x h pixels of one bit each, noise: it hardly compresses.
function noise(w, h) {
  const raw = Buffer.alloc((Math.ceil(w / 8) + 1) * h);
  for (let i = 0, x = 2463534242; i < raw.length; i += 1) raw[i] = i % (raw.length / h) && (x ^= x << 13, x ^= x >>> 17, x ^= x << 5);
  return Buffer.concat([png(1, 1).subarray(0, 8), chunk('IHDR', Buffer.concat([u32(w), u32(h), Buffer.from([1, 0, 0, 0, 0])])),
    chunk('IDAT', zlib.deflateSync(raw, { level: 1 })), chunk('IEND', Buffer.alloc(0))]);
}

// A grey baseline JPEG of w x h pixels: one Huffman code each for "no DC
// change" and "end of block", so every 8x8 block is two zero bits.
function jpeg(w, h) {
  const segment = (marker, body) => Buffer.concat([Buffer.from([0xff, marker]), u16(body.length + 2), body]);
  const table = (id) => Buffer.from([id, 1, ...Array(15).fill(0), 0]);
  const blocks = Math.ceil(w / 8) * Math.ceil(h / 8);
  const scan = Buffer.alloc(Math.ceil(blocks / 4));
  scan[scan.length - 1] = 0xff >> (2 * (blocks % 4 || 4));
  return Buffer.concat([Buffer.from([0xff, 0xd8]), segment(0xdb, Buffer.from([0, ...Array(64).fill(1)])),
    segment(0xc0, Buffer.concat([Buffer.from([8]), u16(h), u16(w), Buffer.from([1, 1, 0x11, 0])])),
    segment(0xc4, table(0x00)), segment(0xc4, table(0x10)),
    segment(0xda, Buffer.from([1, 1, 0, 0, 63, 0])), scan, Buffer.from([0xff, 0xd9])]);
}

export function makeTagFiles(dir) {
  fs.mkdirSync(dir, { recursive: true });
  const write = (name, buffer) => fs.writeFileSync(path.join(dir, name), buffer);
  const expected = [
    ['Title', 'Boxwalk Tags', text('\xa9nam', 'Boxwalk Tags')],
    ['Artist', 'Zoë – 東京', item('\xa9ART', 2, Buffer.from('Zoë – 東京', 'utf16le').swap16())],
    ['Album artist', 'Various', text('aART', 'Various')],
    ['Album', 'An Album', text('\xa9alb', 'An Album')],
    ['Composer', 'A Composer', text('\xa9wrt', 'A Composer')],
    ['Genre', 'Jazz', item('gnre', 0, u16(9))],
    ['Year', '2024', text('\xa9day', '2024')],
    ['Track', '3 of 12', item('trkn', 0, [0, 0, 0, 3, 0, 12, 0, 0])],
    ['Disc', '1 of 2', item('disk', 0, [0, 0, 0, 1, 0, 2])],
    ['Tempo', '120', item('tmpo', 21, u16(120))],
    ['Compilation', 'yes', item('cpil', 21, [1])],
    ['Gapless', 'no', item('pgap', 21, [0])],
    ['Lyrics', 'line one\\x0aline two', text('\xa9lyr', 'line one\nline two')],
    ['Copyright', '© 2024 Someone', text('cprt', '© 2024 Someone')],
    ['Sort artist', 'Artist, The', text('soar', 'Artist, The')],
    ['TV season', '2', item('tvsn', 21, u32(2))],
    ['Media kind', 'TV show', item('stik', 21, [10])],
    ['Rating', 'Clean', item('rtng', 21, [2])],
    ['xs1 ', '-1', item('xs1 ', 21, [0xff])],
    ['xu3 ', '65536', item('xu3 ', 22, [1, 0, 0])],
    ['xu8 ', '18446744073709551615', item('xu8 ', 22, Array(8).fill(0xff))],
    ['x67 ', '-5', item('x67 ', 67, [0xff, 0xff, 0xff, 0xfb])],
    ['xf4 ', '1.5', item('xf4 ', 23, [0x3f, 0xc0, 0, 0])],
    ['xf8 ', '0.1', item('xf8 ', 24, [0x3f, 0xb9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9a])],
    // Well-known keys whose values do not fit their meaning: as stored.
    ['Tempo', 'fast', text('tmpo', 'fast')],
    ['Rating', '3', item('rtng', 21, [3])],
    ['Title', '\ufffd\ufffd', item('\xa9nam', 1, [0xff, 0xfe])],
    ['com.apple.iTunes: MY KEY', 'my value', freeform('com.apple.iTunes', 'MY KEY', 'my value')],
  ];
  const covers = [[png(3, 2), 14, 3, 2], [jpeg(20, 10), 13, 20, 10], [png(5, 4), 0, 5, 4]];
  const entries = [
    ['Category', 'Test ✓', entry('WM/Category', 8, utf16le('Test ✓'))],
    ['Rating', '50', entry('WM/SharedUserRating', 19, le64(50))],
    ['Encoding time', '2023-01-02 03:04:05 UTC', entry('WM/EncodingTime', 21, le64(0x01d91e56df820080n))],
    ['WM/Other', '01 02', entry('WM/Other', 3, Buffer.from([1, 2]))],
  ];
  write('tags.m4a', file([...expected.map((e) => e[2]), ...covers.map(([p, type]) => item('covr', type, p))],
                         entries.map((e) => e[2])));
  write('cover.png', covers[0][0]);

  const song = (artist) => file([text('\xa9nam', 'Song'), text('\xa9ART', artist), item('trkn', 0, [0, 0, 0, 1, 0, 9, 0, 0])]);
  write('before.m4a', song('Artist'));
  write('after.m4a', song('Artist B'));

  const controls = 'a\u0007b\u0085c\u009bd\u202eevil\u2066e\u2069';
  write('hostile.m4a', file([
    text('\xa9nam', '<script>window.ran = "nam"</script>'),
    text('\xa9cmt', controls),
    text('\xa9ART', '<img src=x onerror="window.ran = \'art\'">'),
    text('<b>!', '<b onmouseover="window.ran = 1">key</b>'),
    freeform('<i>mean</i>', '<script>window.ran = "name"</script>', '<iframe src="javascript:window.ran=1">'),
    item('covr', 14, Buffer.from('<svg xmlns="http://www.w3.org/2000/svg" onload="window.ran = 1"/>')),
    item('covr', 13, Buffer.from(Array.from({ length: 64 }, (_, i) => (i * 73 + 11) & 255))),
    item('covr', 0, Buffer.concat([png(2, 2).subarray(0, 12), Buffer.from('<script>window.ran=1</script>')])),
  ], [entry('<img src=x onerror="window.ran = \'xtra\'">', 8, utf16le('<script>window.ran = 2</script>'))]));
  const two = [png(6, 3), jpeg(24, 16)];
  write('covers.m4a', file([atom('covr', data(14, two[0]), data(13, two[1])),
    atom('covr', ...Array.from({ length: 70 }, (_, i) => data(0, [i])))]));
  write('cover-a.m4a', file([item('covr', 13, jpeg(16, 8))]));
  write('cover-b.m4a', file([item('covr', 13, jpeg(8, 16))]));
  const large = noise(11700, 11700);
  write('large-cover.m4a', file([item('covr', 14, large)]));
  return {
    two,
    large,
    tags: [...expected.map(([label, value]) => ['Item list (ilst)', label, value]),
           ...entries.map(([label, value]) => ['Xtra store', label, value])],
    labelled: new Set(['©nam', '©ART', 'aART', '©alb', '©wrt', 'gnre', '©day', 'trkn', 'disk', 'tmpo', 'cpil',
      'pgap', '©lyr', 'cprt', 'soar', 'tvsn', 'stik', 'rtng', 'covr', 'WM/Category', 'WM/SharedUserRating',
      'WM/EncodingTime']),
    covers: covers.map(([, , w, h]) => [w, h]),
    controls: 'a\\x07b\\x85c\\x9bd\\u202eevil\\u2066e\\u2069',
  };
}

if (process.argv[1] && path.resolve(process.argv[1]) === path.resolve(new URL(import.meta.url).pathname)) {
  console.log(JSON.stringify(makeTagFiles(process.argv[2] || '.'), null, 1));
}
