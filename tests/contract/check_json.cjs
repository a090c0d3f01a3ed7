// boxwalk-json's objects against contract.js, the page's side of the
// contract written from the same C++ tables: every field of every record,
// and every kind, must go by a name the contract lists.
//   node check_json.cjs CONTRACT_JS BOXWALK_JSON FILE...
'use strict';
const { spawnSync } = require('child_process');
const path = require('path');

const [contractFile, program, ...files] = process.argv.slice(2);
const Contract = require(path.resolve(contractFile));
const run = spawnSync(program, files, { encoding: 'utf8', maxBuffer: 1 << 30 });
const failures = [];
const fail = (what) => failures.push(what);

const fieldsOf = (table) => new Set(table.names);
const records = {
  file: fieldsOf(Contract.fileFields),
  tag: fieldsOf(Contract.tagFields),
  value: fieldsOf(Contract.valueFields),
  damage: fieldsOf(Contract.damageFields),
  xmp: fieldsOf(Contract.xmpFields),
  line: fieldsOf(Contract.lineFields),
  otherValue: fieldsOf(Contract.otherValueFields),
};
const check = (where, record, object) => {
  for (const key of Object.keys(object)) {
    if (!records[record].has(key)) fail(`${where}: field ${key} is no ${record} field`);
  }
};
const kind = (where, table, name) => {
  if (!table.names.includes(name)) fail(`${where}: ${name} is no name of its kinds`);
};

const lines = run.stdout.split('\n');
if (lines.pop() !== '') fail('the output does not end with a line feed');
if (lines.length !== files.length) fail(`${lines.length} objects for ${files.length} files`);
lines.forEach((line, i) => {
  const where = files[i];
  const file = JSON.parse(line);
  check(where, 'file', file);
  if (file.schema !== Contract.schema) fail(`${where}: schema ${file.schema}`);
  if (file.path !== files[i]) fail(`${where}: path ${file.path}`);
  if ('error' in file) return;
  kind(where, Contract.fileKinds, file.kind);
  for (const tag of file.tags) {
    check(where, 'tag', tag);
    kind(where, Contract.stores, tag.store);
    for (const value of tag.values) {
      check(where, 'value', value);
      kind(where, Contract.valueKinds, value.kind);
    }
  }
  for (const damage of file.damage) {
    check(where, 'damage', damage);
    kind(where, Contract.stores, damage.store);
  }
  for (const packet of file.xmp) check(where, 'xmp', packet);
  for (const each of file.lines) {
    check(where, 'line', each);
    kind(where, Contract.lineKinds, each.kind);
    for (const value of each.values || []) check(where, 'otherValue', value);
  }
});
if (failures.length > 0) {
  console.error(failures.join('\n'));
  process.exit(1);
}
console.log(`${lines.length} objects use the contract's names only`);
