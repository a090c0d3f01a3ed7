// The one way the page shows text from a file: the console tool's terminal
// rule. Every control character but tab (U+0000 to U+0008, U+000A to U+001F,
// U+007F and U+0080 to U+009F) reads as \x and two lower-case hex digits,
// the rest as it is, so that the page shows what a terminal shows. Used by
// the page, and by its workers for the rows they hand over.
'use strict';

const Terminal = (() => {
  const decoder = new TextDecoder();
  const controls = /[\0-\x08\x0a-\x1f\x7f-\x9f]/g;
  const escape = (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0');

  // A string as the terminal shows it.
  const text = (string) => string.replace(controls, escape);
  // UTF-8 bytes as the terminal shows them; ill-formed bytes as U+FFFD.
  const bytes = (array) => text(decoder.decode(array));

  return { text, bytes };
})();
