// Writes the page as one file: the template with its styles, its scripts
// and its workers' scripts put inside it, under a policy that allows exactly
// those inline styles and scripts by their sha256 hashes. The bytes depend
// on the inputs alone, so two builds give the same file.
//   node inline.mjs TEMPLATE OUTPUT PART...
// A PART is `--style FILE`, `--script FILE` or `--worker NAME FILE`, taken
// in order: the files of one worker NAME are joined into one script, which
// the page holds as a data block of id NAME. `--notice FILE` puts that
// file's text (a license) as a comment in front of the next script or
// worker file. The template holds the markers <!--styles-->, <!--workers-->,
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
const workers = new Map();
let notice = '';
for (let i = 0; i < parts.length; i += 2) {
  const kind = parts[i];
  const name = kind === '--worker' ? parts[++i] : null;
  const file = parts[i + 1];
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
    if (!/^[a-z-]+$/.test(name)) fail(`a worker's name is lower-case letters and hyphens, not ${name}`);
    workers.set(name, (workers.get(name) || '') + inside('script', file, notice + read(file)) + '\n');
    notice = '';
  } else {
    fail(`unknown part ${kind}`);
  }
}
if (workers.size === 0) fail('no --worker');

// A worker's script is a data block the page never runs: it hands its text
// to a worker through a blob:, so the policy needs no hash for it.
const page = read(template)
  .replace("'script-hashes'", () => scripts.map(hash).join(' '))
  .replace("'style-hashes'", () => styles.map(hash).join(' '))
  .replace('<!--styles-->', () => styles.map((text) => `<style>${text}</style>`).join('\n'))
  .replace('<!--workers-->', () => [...workers].map(([name, text]) =>
    `<script type="text/plain" id="${name}">${text}</script>`).join('\n'))
  .replace('<!--scripts-->', () => scripts.map((text) => `<script>${text}</script>`).join('\n'));
fs.writeFileSync(output, page);
