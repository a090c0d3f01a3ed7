// Cover art: a covr value shown as a picture, scaled to fit, with its pixel
// size and byte count, and a link that saves exactly the stored bytes. The
// bytes are read only when the picture comes into view; a value that is not
// a picture says so and puts no image on the page; a picture too large to
// decode here, or one that does not decode, says so and can still be saved.
// A small one (the file at a glance) shows the picture alone.
'use strict';

const Cover = (() => {
  const formats = new Map([['JPEG', ['image/jpeg', 'jpg']], ['PNG', ['image/png', 'png']],
                           ['BMP', ['image/bmp', 'bmp']], ['GIF', ['image/gif', 'gif']]]);
  // The formats the data atom's type indicator names.
  const declaredTypes = new Map([[13, 'JPEG'], [14, 'PNG'], [27, 'BMP'], [12, 'GIF']]);
  const count = new Intl.NumberFormat('en');

  // The picture format that a value's first bytes announce, or ''.
  function sniff(head) {
    const starts = (...bytes) => bytes.every((b, i) => head[i] === b);
    if (starts(0xff, 0xd8, 0xff)) return 'JPEG';
    if (starts(0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a)) return 'PNG';
    if (starts(0x47, 0x49, 0x46, 0x38) && (head[4] === 0x37 || head[4] === 0x39) && head[5] === 0x61) return 'GIF';
    if (starts(0x42, 0x4d)) return 'BMP';
    return '';
  }

  let urls = [];
  let watcher = null;
  // Bumped by clear(): a picture read for an earlier file is not shown. A
  // picture still loading keeps its URL until it has loaded (revoked under
  // it, its load would fail with an error on the page).
  let generation = 0;
  const loading = new Set();

  // Lets go of the pictures shown so far.
  function clear() {
    generation += 1;
    for (const url of urls) if (!loading.has(url)) URL.revokeObjectURL(url);
    urls = [];
    if (watcher) watcher.disconnect();
    watcher = null;
  }

  // Puts the picture stored at `range` of `file` in `box` when the box comes
  // into view. `type` is the data atom's type indicator, `saveAs` the name
  // to save it under without its extension ("song-cover"); `small`, the
  // picture alone, with no caption or link.
  function show(box, file, range, type, saveAs, small = false) {
    box.classList.add('cover');
    box.textContent = 'The picture is read when it is in view.';
    if (!watcher) {
      watcher = new IntersectionObserver((seen) => {
        for (const entry of seen) {
          if (!entry.isIntersecting) continue;
          watcher.unobserve(entry.target);
          entry.target.load();
        }
      });
    }
    box.load = () => load(box, file, range, type, saveAs, small);
    watcher.observe(box);
  }

  // The most pixels a picture is decoded with here: 2^25 (8192 x 4096),
  // 128 MiB once decoded. A larger one is not decoded, and can be saved.
  const mostPixels = 2 ** 25;

  async function load(box, file, range, type, saveAs, small) {
    box.textContent = 'Reading the picture…';
    const started = generation;
    let head;
    try {
      head = new Uint8Array(await file.slice(range.pos, range.pos + 16).arrayBuffer());
    } catch (error) {
      box.textContent = `The picture could not be read: ${error.message}`;
      return;
    }
    if (started !== generation) return;
    const format = sniff(head);
    if (!format) {
      box.textContent = 'not a picture';
      return;
    }
    const [mime, extension] = formats.get(format);
    const url = URL.createObjectURL(file.slice(range.pos, range.pos + range.size, mime));
    urls.push(url);
    loading.add(url);
    const picture = new Image();
    picture.alt = `Cover picture (${format})`;
    // The load event comes once the header is read, before the pixels are
    // decoded: the size says whether to decode them.
    const sized = await new Promise((done) => {
      picture.onload = () => done(true);
      picture.onerror = () => done(false);
      picture.src = url;
    });
    loading.delete(url);
    if (started !== generation) {
      URL.revokeObjectURL(url);
      return;
    }
    if (!sized) {
      box.textContent = 'not a picture';
      return;
    }
    const declared = declaredTypes.get(type);
    const caption = document.createElement('span');
    caption.className = 'caption';
    caption.textContent = `${picture.naturalWidth} × ${picture.naturalHeight} pixels, ` +
      `${count.format(range.size)} bytes, ${format}` +
      (declared && declared !== format ? ` (stored as type ${type}, ${declared})` : '');
    const save = document.createElement('a');
    save.className = 'button';
    save.href = url;
    save.download = `${saveAs}.${extension}`;
    save.textContent = 'Save the picture';
    let shown = picture.naturalWidth * picture.naturalHeight <= mostPixels;
    if (shown) {
      try {
        await picture.decode();
      } catch {
        shown = false;
      }
    }
    if (small) {
      if (shown) box.replaceChildren(picture);
      else box.textContent = `Cover: ${format}, ${count.format(range.size)} bytes, not shown here`;
    } else if (shown) {
      box.replaceChildren(picture, caption, save);
    } else {
      caption.textContent += picture.naturalWidth * picture.naturalHeight > mostPixels
        ? ': too large to show here' : ': it does not decode here';
      box.replaceChildren(caption, save);
    }
  }

  return { sniff, show, clear };
})();
