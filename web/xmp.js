// The properties of XMP packets as tag records, read with the browser's own
// XML parser, DOMParser, from the packets' text that the program hands over
// (the page's workers have no XML parser): the same properties, keys and
// values as the native programs read with expat. A property is a child
// element of an rdf:Description directly in rdf:RDF that holds text, or an
// rdf:Alt, rdf:Seq or rdf:Bag of rdf:li texts (a value each, with its
// xml:lang as its language), or an attribute of that rdf:Description;
// structures and qualified values are left out. Keys are qualified names as
// written (dc:title); labels come from contract.js. No entity is resolved
// from outside and nothing is fetched, and a packet that declares a DOCTYPE
// is refused, as the native programs refuse it. The parser does not say
// where a value lies, so each record's range is its packet's.
'use strict';

const Xmp = (() => {
  const rdf = Contract.rdfNamespace;
  const xml = Contract.xmlNamespace;
  const labels = new Map(Contract.xmpLabels.map(({ space, local, label }) => [`${space} ${local}`, label]));
  const xhtml = 'http://www.w3.org/1999/xhtml';

  // The namespace and local name of a qualified name as written, by the
  // declarations in scope at `element` ("xml" is bound without one, and an
  // unprefixed name takes the default namespace, as the native reader has
  // it).
  function resolve(element, name) {
    const colon = name.indexOf(':');
    const prefix = colon < 0 ? null : name.slice(0, colon);
    const local = colon < 0 ? name : name.slice(colon + 1);
    if (prefix === 'xml') return [xml, local];
    return [element.lookupNamespaceURI(prefix) || '', local];
  }
  const isRdf = (element, local) => {
    const [space, name] = resolve(element, element.nodeName);
    return space === rdf && name === local;
  };
  const declares = (name) => name === 'xmlns' || name.startsWith('xmlns:');
  const lists = ['Alt', 'Seq', 'Bag'];

  // The tags and damage of `packet` ({ track, bytes, text }, as the
  // program hands it over): { tags, damage }, as records.
  function read(packet) {
    const tags = [];
    const damage = [];
    const where = packet.track ? { track: packet.track } : {};
    const tag = (element, key, values) => {
      const [space, local] = resolve(element, key);
      const label = labels.get(`${space} ${local}`);
      tags.push({ store: 'xmp', ...where, key, ...(label ? { label } : {}), bytes: packet.bytes, values });
    };
    const value = (text, language) => ({ kind: 'text', text, ...(language ? { language } : {}), bytes: packet.bytes });

    // A packet kept in an atom may be padded with NULs after its end.
    const text = packet.text.replace(/\0+$/, '');
    const doc = new DOMParser().parseFromString(text, 'application/xml');
    const fault = doc.getElementsByTagNameNS(xhtml, 'parsererror')[0];
    const lost = (why) => damage.push({ store: 'xmp', ...where, bytes: packet.bytes, what: `XMP packet not read: ${why}; ` +
      (tags.length ? `${tags.length} of its properties read before` : 'none of its properties read') });
    if (doc.doctype) {
      lost('declares a DOCTYPE, which is refused');
      return { tags, damage };
    }

    // A property's or an item's xml:lang and rdf:resource; any other
    // attribute makes it a structure or a qualified value.
    const valueAttributes = (element, frame) => {
      for (const { name, value: text } of element.attributes) {
        if (declares(name)) continue;
        const [space, local] = resolve(element, name);
        if (space === xml && local === 'lang') frame.language = text;
        else if (space === rdf && local === 'resource') Object.assign(frame, { text, resource: true });
        else frame.structure = true;
      }
    };
    // A packet that is not well-formed is read up to its fault, as the
    // parser stops there: the elements still open at the fault (the last
    // at each depth) have no end, and what their ends would add is not
    // read.
    const open = new Set();
    for (let at = fault && doc.documentElement; at && at !== fault;) {
      open.add(at);
      const children = [...at.children].filter((child) => child !== fault);
      at = children.at(-1);
    }
    // Each element as the native reader meets it: what it is to the
    // properties (by its parent's role), then its content, then its end.
    const walk = (element, parent) => {
      const frame = { role: 'ignored', text: '', language: '', hasChild: false, structure: false, hasList: false,
                      resource: false, values: [] };
      const above = parent ? parent.role : 'outside';
      if (parent) parent.hasChild = true;
      if (above === 'outside') {
        frame.role = isRdf(element, 'RDF') ? 'rdf' : 'outside';
      } else if (above === 'rdf' && isRdf(element, 'Description')) {
        frame.role = 'description';
        for (const { name, value: text } of element.attributes) {
          const [space] = resolve(element, name);
          if (!declares(name) && space !== rdf && space !== xml) tag(element, name, [value(text)]);
        }
      } else if (above === 'description') {
        frame.role = 'property';
        valueAttributes(element, frame);
      } else if (above === 'property') {
        if (!parent.hasList && lists.some((list) => isRdf(element, list))) {
          frame.role = 'list';
          parent.hasList = true;
        } else {
          parent.structure = true;
        }
      } else if (above === 'list' && isRdf(element, 'li')) {
        frame.role = 'item';
        valueAttributes(element, frame);
      } else if (above === 'item') {
        parent.structure = true;
      }
      for (const child of element.childNodes) {
        if (child.nodeType === Node.ELEMENT_NODE) {
          if (child !== fault) walk(child, frame);
        } else if ((child.nodeType === Node.TEXT_NODE || child.nodeType === Node.CDATA_SECTION_NODE) && !frame.resource) {
          frame.text += child.data;
        }
      }
      if (open.has(element)) return;
      if (frame.role === 'item' && !frame.structure && !frame.hasChild) {
        parent.values.push(value(frame.text, frame.language));
      } else if (frame.role === 'list') {
        parent.values = frame.values;
      } else if (frame.role === 'property' && !frame.structure) {
        if (!frame.hasChild) frame.values.push(value(frame.text, frame.language));
        if (frame.values.length) tag(element, element.nodeName, frame.values);
      }
    };
    if (doc.documentElement && doc.documentElement !== fault) walk(doc.documentElement, null);
    if (fault) {
      const said = fault.querySelector('div');
      lost((said || fault).textContent.trim().replace(/\s+/g, ' ') || 'not well-formed');
    }
    return { tags, damage };
  }

  // The properties of every packet of a file's records, in order.
  function properties(packets) {
    const found = { tags: [], damage: [] };
    for (const packet of packets) {
      const { tags, damage } = read(packet);
      found.tags.push(...tags);
      found.damage.push(...damage);
    }
    return found;
  }

  return { read, properties };
})();
