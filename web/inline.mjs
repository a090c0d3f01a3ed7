// Writes the page as one file: the template with its styles, its scripts
// and the worker's script put inside it, under a policy that allows exactly
// those inline styles and scripts by their sha256 hashes. The bytes depend
// on the inputs alone, so two builds give the same file.
//   node inline.mjs TEMPLATE OUTPUT --worker FILE PART...
// A PART is `--style FILE` or `--script FILE`, taken in order; `--notice
// FILE` puts that file's text (a license) as a comment in front of the next
// script. The template holds the markers <!--styles-->, <!--worker-->,
// <!--scripts--> and, in its policy, 'script-hashes' and 'style-hashes'.
import crypto from 'node:crypto';
import fs from 'node:fs';

const [template, output, ...parts] = process.argv.slice(2);
const fail = (text) => { console.error(`inline.mjs: ${text}`); process.exit(1); };
const read = (file) => fs.readFileSync(file, 'utf8');
const hash = (text) => `'sha256-${crypto.createHash('sha256').update(text, 'utf8').digest('base64')}'`;

// A text that would end its element early, or open a comment the parser
// keeps looking for, cannot go inside one.
function inside(element, file, text) {
  const bad = text.match(new RegExp(`</${element}|<!--`, 'i'));
  if (bad) fail(`${file} holds "${bad[0]}", which would end its <${element}> early`);
  return text;
}

const styles = [];
const scripts = [];
let worker = null;
let notice = '';
for (let i = 0; i < parts.length; i += 2) {
  const [kind, file] = [parts[i], parts[i + 1]];
  if (file === undefined) fail(`${kind} names no file`);
  if (kind === '--style') {
    styles.push(inside('style', file, read(file)));
  } else if (kind === '--script') {
    scripts.push(inside('script', file, notice + read(file)));
    notice = '';
  } else if (kind === '--notice') {
    const text = read(file);
    if (text.includes('*/')) fail(`${file} cannot be a comment: it holds "*/"`);
    notice = `/*\n${text.trimEnd()}\n*/\n`;
  } else if (kind === '--worker') {
    worker = inside('script', file, read(file));
  } else {
    fail(`unknown part ${kind}`);
  }
}
if (worker === null) fail('no --worker');

// The worker's script is a data block the page never runs: it hands its
// text to a worker through a blob:, so the policy needs no hash for it.
const page = read(template)
  .replace("'script-hashes'", () => scripts.map(hash).join(' '))
  .replace("'style-hashes'", () => styles.map(hash).join(' '))
  .replace('<!--styles-->', () => styles.map((text) => `<style>${text}</style>`).join('\n'))
  .replace('<!--worker-->', () => `<script type="text/plain" id="worker">${worker}</script>`)
  .replace('<!--scripts-->', () => scripts.map((text) => `<script>${text}</script>`).join('\n'));
fs.writeFileSync(output, page);
